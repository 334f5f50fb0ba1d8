#!/usr/bin/env bash
# A throw-away MariaDB server for the tests, on loopback and a unix socket under a temporary folder.
#   mariadb-test-server.sh start DIR   -> prints the connection URL; the server runs until 'stop'
#   mariadb-test-server.sh stop DIR
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?folder}

stop_server() {
    if [ -f "$dir/pid" ]; then
        pid=$(cat "$dir/pid")
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$dir/pid"
    fi
}

case "$cmd" in
start)
    # A server still running from an earlier start in this folder would lose its files under it.
    stop_server
    rm -rf "$dir"
    mkdir -p "$dir/data"
    mariadb-install-db --no-defaults --user="$(id -un)" --datadir="$dir/data" --force \
        --auth-root-authentication-method=normal >"$dir/install.log" 2>&1
    # A few ports in turn, in case one is taken.
    for _attempt in 1 2 3 4 5; do
        port=$((33060 + RANDOM % 2000))
        # Without setsid and full redirection the caller (ctest, a CI step) would wait for the server.
        setsid mariadbd --no-defaults --user="$(id -un)" --datadir="$dir/data" --socket="$dir/sock" --port="$port" \
            --bind-address=127.0.0.1 --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
            --pid-file="$dir/pid" --skip-log-bin --innodb-flush-log-at-trx-commit=2 \
            >"$dir/server.log" 2>&1 </dev/null &
        for _ in $(seq 1 100); do
            if mariadb --no-defaults -uroot --socket="$dir/sock" -e "select 1" >/dev/null 2>&1; then
                mariadb --no-defaults -uroot --socket="$dir/sock" \
                    -e "create database if not exists sjql_test character set utf8mb4" >/dev/null
                echo "mysql://root@127.0.0.1:$port/sjql_test"
                exit 0
            fi
            grep -q "Address already in use" "$dir/server.log" 2>/dev/null && break
            sleep 0.2
        done
        grep -q "Address already in use" "$dir/server.log" 2>/dev/null || break
    done
    echo "MariaDB did not start; see $dir/server.log" >&2
    cat "$dir/server.log" >&2 || true
    exit 1
    ;;
stop)
    stop_server
    ;;
esac
