#!/usr/bin/env bash
# The Debian package as a user gets it: builds a Release tree of its own, makes the .deb with CPack,
# installs it on this machine with dpkg, and runs the installed host as an ordinary user through a
# round trip (init, clear without a backup folder, restore of the archive it wrote). Checks the exit
# codes, the installed search paths, where settings went, that the host's folders keep only the
# package's files and that no empty work folder is left; then removes the package and checks that
# none of its files remains. Needs root (dpkg); a sjql-host package already installed is replaced
# and removed.
#   bash scripts/package-test.sh
#   SJQL_PACKAGE_BUILD=DIR   the build folder (default build-package)
#   SJQL_PACKAGE_USER=NAME   the user that runs the host (default sjqltest, created when missing)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${SJQL_PACKAGE_BUILD:-$here/build-package}
user=${SJQL_PACKAGE_USER:-sjqltest}
package=sjql-host

fail() {
    echo "package-test: FAILED: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root (dpkg -i, a user of its own)"

echo "== package build ($build, Release)"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSJQL_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
    "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || {
    tail -n 40 "$build/build.log"
    fail "the build failed"
}
rm -f "$build"/${package}_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || {
    cat "$build/cpack.log"
    fail "cpack failed"
}
deb=$(ls "$build"/${package}_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Depends Recommends

echo "== install"
removed=0
remove_package() {
    if [ "$removed" -eq 0 ] && dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        dpkg -r "$package" >/dev/null
    fi
    removed=1
}
trap remove_package EXIT
if ! dpkg -i "$deb"; then
    # What the package depends on and the machine lacks.
    DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq >/dev/null || fail "apt-get install -f"
fi
dpkg-query -W -f='${Status}' "$package" | grep -q "ok installed" || fail "the package is not installed"
mapfile -t files < <(dpkg -L "$package" | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ ${#files[@]} -gt 0 ] || fail "the package holds no files"
printf '  %s\n' "${files[@]}"
host=$(command -v sjql-host) || fail "sjql-host is not on the PATH"
[ "$host" = /usr/bin/sjql-host ] || fail "sjql-host is $host, not /usr/bin/sjql-host"
libdir=$(dirname "$(printf '%s\n' "${files[@]}" | grep '/libsjql\.so$')")
[ -n "$libdir" ] || fail "libsjql.so is not in the package"

echo "== search paths are relative to the binaries"
for f in "${files[@]}"; do
    head -c 4 "$f" | grep -q ELF || continue
    paths=$(readelf -d "$f" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
    echo "  $f: ${paths:-(none)}"
    IFS=: read -r -a entries <<<"$paths"
    for e in "${entries[@]}"; do
        case "$e" in
        '$ORIGIN' | '$ORIGIN/'*) ;;
        *) fail "$f searches \"$e\" (not relative to \$ORIGIN)" ;;
        esac
    done
    ! strings "$f" | grep -q "$build" || fail "$f holds the build folder $build"
done
# Every library the installed binaries need is found (no "not found" through a wrong search path).
for f in "${files[@]}"; do
    head -c 4 "$f" | grep -q ELF || continue
    ! ldd "$f" | grep -q "not found" || fail "$f: $(ldd "$f" | grep 'not found')"
done

echo "== round trip as user $user"
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
uhome=$(getent passwd "$user" | cut -d: -f6)
[ -d "$uhome" ] || fail "the home folder of $user is missing"
# A run starts from nothing the last run left behind.
rm -rf "$uhome/demo" "$uhome/.config/sjql-host" "$uhome/.local/share/sjql-host" "$uhome/Quarvo"
as_user() {
    runuser -u "$user" -- env -i HOME="$uhome" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen "$@"
}
# Runs the installed host as the user; the output goes to $work/<step>.out, the exit code is checked.
work=$(mktemp -d /tmp/sjql-package.XXXXXX)
chmod 755 "$work"
step() {
    local name=$1 want=$2
    shift 2
    local rc=0
    as_user "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
    if [ "$rc" -ne "$want" ]; then
        cat "$work/$name.out" "$work/$name.err" >&2
        fail "$name: exit $rc, wanted $want ($*)"
    fi
    echo "  $name: exit $rc"
}
start=$(date +%s)
step init 0 sjql-host init --home "$uhome/demo" --agents 1 --employees 100 --quiet
grep -q "^sysConfigIni=$uhome/.config/sjql-host/SysConfig.ini" "$work/init.out" ||
    fail "SysConfig.ini is not in the user's configuration folder: $(grep sysConfigIni "$work/init.out")"
[ -f "$uhome/.config/sjql-host/SysConfig.ini" ] || fail "no $uhome/.config/sjql-host/SysConfig.ini"
step years 0 sjql-host years --home "$uhome/demo"
# The oldest year offered (one agent: a cleared year leaves the list).
year=$(sed -n 's/^years=//p' "$work/years.out" | tr ',' '\n' | tail -n 1 | cut -c1-4)
[ -n "$year" ] || fail "no year to clear: $(cat "$work/years.out")"
step clear 0 sjql-host clear --home "$uhome/demo" --years "$year"
archive=$(sed -n 's/^archive=//p' "$work/clear.out" | head -n 1)
[ -n "$archive" ] && [ -f "$archive" ] || fail "clear wrote no archive: $(cat "$work/clear.out")"
echo "  archive: $archive"
case "$archive" in
"$uhome"/*) ;;
*) fail "the archive is outside the user's home: $archive" ;;
esac
step years-cleared 0 sjql-host years --home "$uhome/demo"
! grep -q "$year" "$work/years-cleared.out" || fail "$year is still offered after the clear"
step restore 0 sjql-host restore --home "$uhome/demo" "$archive"
step years-restored 0 sjql-host years --home "$uhome/demo"
grep -q "$year" "$work/years-restored.out" || fail "$year is not back after the restore"
echo "  round trip: $(($(date +%s) - start)) s"

echo "== what the runs left"
# The module removes the work folders it made once they are empty; the sub-application folder itself
# (Apps/16) is the installation's own, made by init, and may stay empty.
empty=$(find "$uhome/demo/Apps" -type d -empty ! -path "$uhome/demo/Apps/16")
[ -z "$empty" ] || fail "empty folders left in the installation: $empty"
# Nothing was written beside the installed binaries (settings, logs, probes of writability).
mapfile -t present < <(find /usr/bin/sjql-host "$libdir" -type f | sort)
mapfile -t packaged < <(printf '%s\n' "${files[@]}" | grep -e '^/usr/bin/sjql-host$' -e "^$libdir/" | sort)
[ "${present[*]}" = "${packaged[*]}" ] || fail "files beside the installed host that the package does not hold: $(
    comm -23 <(printf '%s\n' "${present[@]}") <(printf '%s\n' "${packaged[@]}")
)"

echo "== remove"
dpkg -r "$package" >/dev/null
removed=1
for f in "${files[@]}"; do
    [ ! -e "$f" ] || fail "$f is still there after dpkg -r"
done
[ ! -e "$libdir" ] || fail "$libdir is still there after dpkg -r"
rm -rf "$work" "$uhome/demo" "$uhome/.config/sjql-host" "$uhome/.local/share/sjql-host" "$uhome/Quarvo"
echo "== package test passed"
