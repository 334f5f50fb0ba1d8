#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with warnings as errors, starts a private
# MariaDB, runs every ctest label on SQLite and MariaDB, walks the window under a real window manager
# (gui-tour.sh, pictures of every state), then the suite again under the address and
# undefined-behaviour sanitizers, the progress tests under the thread sanitizer, a short fuzz run,
# and the Debian package installed, used by an ordinary user and removed again (package-test.sh).
#   scripts/test-all.sh            full run (what CI runs)
#   SJQL_QUICK=1 scripts/test-all.sh   skip the sanitizer builds, the fuzz run and the package (not for CI)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
jobs=$(nproc)

work=$(mktemp -d /tmp/sjql-test.XXXXXX)
cleanup() { bash scripts/mariadb-test-server.sh stop "$work/mariadb" || true; rm -rf "$work"; }
trap cleanup EXIT
SJQL_TEST_MYSQL_URL=$(bash scripts/mariadb-test-server.sh start "$work/mariadb")
export SJQL_TEST_MYSQL_URL
export SJQL_TEST_MYSQL_SOCKET="$work/mariadb/sock"
echo "test MariaDB: $SJQL_TEST_MYSQL_URL"

echo "== format check"
files=$(git ls-files '*.cpp' '*.h' | grep -v '^tests/data/' || true)
if [ -n "$files" ]; then
    clang-format --dry-run --Werror $files
fi

echo "== build (warnings as errors)"
cmake -S . -B build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSJQL_WERROR=ON >/dev/null
cmake --build build-ci -j"$jobs"
echo "== tests"
(cd build-ci && ctest --output-on-failure -j"$jobs") | tee "$work/ctest.log"
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$work/ctest.log" | tail -n 1)
echo "== the window under a window manager (scripts/gui-tour.sh)"
bash scripts/gui-tour.sh build-ci/bin

if [ -z "${SJQL_QUICK:-}" ]; then
    echo "== sanitizer build (address, undefined)"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSJQL_SANITIZE="address;undefined" >/dev/null
    cmake --build build-asan -j"$jobs"
    (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j"$jobs")
    echo "== thread sanitizer: the progress window and its worker thread"
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSJQL_SANITIZE=thread >/dev/null
    cmake --build build-tsan -j"$jobs" --target ui_dialogs_test
    QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="suppressions=$here/tests/ui/tsan.supp halt_on_error=1" \
        build-tsan/bin/ui_dialogs_test
    echo "== fuzz smoke run"
    bash scripts/fuzz-smoke.sh build-fuzz
    echo "== Debian package: install, round trip as a user, remove"
    if [ "$(id -u)" -eq 0 ]; then
        bash scripts/package-test.sh
    else
        sudo bash scripts/package-test.sh
    fi
fi
echo "== all tests passed"
echo "ctest: ${total:-0} passed, 0 failed"
