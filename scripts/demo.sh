#!/usr/bin/env bash
# The main job for a newcomer: installs what is missing, builds into build/, creates a demo
# installation (embedded SQLite) unless there is one, and opens the reference host with the module.
#   bash scripts/demo.sh
#   SJQL_HOST_HOME=DIR bash scripts/demo.sh   another installation folder (default ~/.local/share/sjql-host),
#                                             the same variable sjql-host itself reads
#   SJQL_SCREENSHOT=FILE bash scripts/demo.sh where the headless run puts its picture
# Without a display the host runs offscreen, saves a screenshot of its window and says where.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh

echo "== build (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target sjql-host

host="$here/build/bin/sjql-host"
# SJQL_HOME was this script's name for the folder before it took the host's own: still read, so
# that commands written for it keep their folder, with a note naming the variable to use.
if [ -n "${SJQL_HOME:-}" ]; then
    if [ -z "${SJQL_HOST_HOME:-}" ]; then
        echo "note: SJQL_HOME is read as SJQL_HOST_HOME, the name sjql-host itself reads; use SJQL_HOST_HOME" >&2
        SJQL_HOST_HOME=$SJQL_HOME
    elif [ "$SJQL_HOME" != "$SJQL_HOST_HOME" ]; then
        echo "note: SJQL_HOME is ignored, SJQL_HOST_HOME=$SJQL_HOST_HOME is used" >&2
    fi
fi
home=${SJQL_HOST_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/sjql-host}
if [ ! -f "$home/host.ini" ]; then
    echo "== demo installation ($home)"
    "$host" init --home "$home"
else
    echo "== demo installation: $home is there (remove it for a fresh one)"
fi

echo "== open"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$host" open --home "$home"
fi
shot=${SJQL_SCREENSHOT:-$here/build/sjql-demo.png}
"$host" open --home "$home" --screenshot "$shot"
echo "headless: there is no display, so the host ran offscreen; its window is in $shot"
