#!/usr/bin/env bash
# A tour of the window as a desktop user sees it: a private X server (Xvfb) with a real window
# manager (openbox), a demo installation, the host opened on it, and the module's window walked
# through with the pointer and the keyboard (xdotool, wmctrl): start, a year ticked, the host's
# question, the warnings dialog, the progress window during the run (its cancel button disabled, a
# close attempt refused), the result dialog, the restore's open dialog with several archives, the
# restore's progress and result, the folder chooser, hide, show, both skins, the host at 1024x700,
# at 600x420 and maximised. One PNG per state, named by state, in the folder it prints first
# (tour=DIR); one line per state reached (step=NAME). Exit 0 when every step was reached, 1 with
# "gui-tour: <what was not reached>" on stderr otherwise.
#
#   scripts/gui-tour.sh [BIN_DIR]        BIN_DIR holds sjql-host (default: build/bin)
#   SJQL_TOUR_DIR=DIR scripts/gui-tour.sh   pictures into DIR instead of a new folder under /tmp
#
# Needs xvfb, openbox, xdotool, wmctrl, x11-utils and imagemagick (scripts/install-deps.sh installs them).
# Nothing outside its own folders is touched: the installation, the backups, the host's
# SysConfig.ini, the logs and the user's home folder all lie in a work folder removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/bin}" && pwd)
host="$bin/sjql-host"
[ -x "$host" ] || { echo "gui-tour: $host not found (build first)" >&2; exit 1; }
for tool in Xvfb openbox xdotool wmctrl import xprop xwininfo xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "gui-tour: $tool missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

out=${SJQL_TOUR_DIR:-$(mktemp -d /tmp/sjql-tour.XXXXXX)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d /tmp/sjql-tour-work.XXXXXX)
echo "tour=$out"

pids=()
cleanup() {
    local p
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        p=${pids[i]}
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "gui-tour: $*" >&2
    # What the screen showed when the step was missed.
    [ -n "${DISPLAY:-}" ] && import -window root "$out/failed.png" 2>/dev/null && echo "gui-tour: screen: $out/failed.png" >&2
    [ -f "$work/openbox.log" ] && sed "s/^/gui-tour: openbox: /" "$work/openbox.log" >&2
    [ -f "$work/open.log" ] && sed 's/^/gui-tour: host: /' "$work/open.log" >&2
    exit 1
}

# --- The desktop: the X server on a display number it finds free itself, the window manager.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1366x850x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "the X server did not start: $(tail -n 3 "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "the X server on $DISPLAY did not start"
# openbox now and then finds the fresh server not yet ready for it: a few tries.
for _ in 1 2 3 4 5; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; kill -0 "$wm" 2>/dev/null || break; sleep 0.1; done
    wmctrl -m >/dev/null 2>&1 && break
    kill "$wm" 2>/dev/null || true
    wait "$wm" 2>/dev/null || true
    sleep 0.5
done
pids+=("$wm")
wmctrl -m >/dev/null 2>&1 || fail "openbox did not start"

# --- The installation: demo data, two years already backed up (archives for the restore), so that
# the year with the warnings is left for the tour to clear.
export SJQL_HOST_EXE_DIR="$work/exe" SJQL_SQL_LOG_DIR="$work/logs" HOME="$work/user"
mkdir -p "$SJQL_HOST_EXE_DIR" "$SJQL_SQL_LOG_DIR" "$HOME"
unset QT_QPA_PLATFORM
home="$work/home"
backups="$work/备份"
headless() { env -u DISPLAY "$host" "$@" 2>>"$work/headless.log"; }
headless init --home "$home" --employees 4000 --years 2021-2026 --period 202612 --quiet >/dev/null ||
    fail "sjql-host init failed: $(tail -n 3 "$work/headless.log")"
headless clear --home "$home" --years 2021,2023 --backup-dir "$backups" --quiet >"$work/clear.log" ||
    fail "the clear of 2021 and 2023 before the tour failed: $(tail -n 3 "$work/clear.log")"
years=$(headless years --home "$home") || fail "sjql-host years failed: $(tail -n 3 "$work/headless.log")"
years=$(sed -n 's/^years=//p' <<<"$years")
# The demo marks the months of its second year (2022) as not declared: the warnings dialog.
index=$(tr ',' '\n' <<<"$years" | grep -n '^2022年$' | cut -d: -f1 || true)
[ -n "$index" ] || fail "the year list ($years) does not offer 2022"
index=$((index - 1))

# --- Helpers: pictures, windows by title, the module's controls by their place in the window.
step=0
snap() {
    step=$((step + 1))
    local name
    name=$(printf '%02d-%s' "$step" "$1")
    sleep 0.5
    # The X server's own picture of the screen (xwd misses the contents of dialogs here).
    import -window root "$out/$name.png" 2>>"$work/import.log" || fail "no picture of $1"
    echo "step=$name"
}
# The id of the visible window titled exactly $1 (the newest one), waiting up to $2 seconds.
wait_window() {
    local title=$1 limit=${2:-20} id=""
    for _ in $(seq $((limit * 10))); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | tail -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
wait_gone() {
    local id=$1 limit=${2:-20}
    for _ in $(seq $((limit * 10))); do
        xdotool getwindowname "$id" >/dev/null 2>&1 || return 0
        xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.1
    done
    return 1
}
# Whether window $1 is still on screen.
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
# Clicks at the design position (x, y) of the module window (below its tool bar of 27 pixels).
click_at() {
    eval "$(xdotool getwindowgeometry --shell "$form")"
    xdotool mousemove $((X + $1)) $((Y + 27 + $2)) click 1
}
# The pointer to a spot of the module window where nothing reacts, so no picture shows a hover.
park() {
    eval "$(xdotool getwindowgeometry --shell "$form")"
    xdotool mousemove $((X + 600)) $((Y + 27 + 470))
}

# --- The host with the module.
"$host" open --home "$home" >"$work/open.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -q '^notice=1282 ' "$work/open.log" && break; sleep 0.1; done
form=$(sed -n 's/^notice=1282 [^|]*|\([0-9]*\)|.*/\1/p' "$work/open.log" | head -n 1)
[ -n "$form" ] || fail "the module did not announce its window"
frame=$(wait_window '个人所得税代扣代缴客户端（参考宿主）') || fail "the host's main frame did not show"
park
snap start

# A year ticked: the first box by the pointer, then the keyboard walks to the year with warnings.
click_at 137 94
if [ "$index" -gt 0 ]; then
    xdotool key space
    for _ in $(seq "$index"); do xdotool key Tab; done
    xdotool key space
fi
park
snap year-ticked

# 清理数据: the host's question, answered 是 (Alt+Y).
click_at 144 176
question=$(wait_window '系统提示') || fail "the host's question did not show"
snap confirmation
xdotool key alt+y
wait_gone "$question" || fail "the host's question did not close"

# The warnings dialog over the progress window, answered with Enter (its default button).
progress=$(wait_window '正在备份清理文件...') || fail "the progress window did not show"
warnings=$(wait_window '系统提示') || fail "the warnings dialog did not show"
[ "$warnings" != "$question" ] || fail "the warnings dialog did not show"
snap warnings
xdotool key Return
wait_gone "$warnings" || fail "Enter did not confirm the warnings dialog"

# The progress window during the run, its cancel button disabled; then a close attempt through
# the window manager, which the window refuses and says so.
sleep 0.3
viewable "$progress" || fail "the run ended before the progress window could be seen"
snap progress-running
xprop -id "$progress" _NET_WM_ALLOWED_ACTIONS >"$work/progress-actions.txt" 2>&1 || true
wmctrl -i -c "$progress"
viewable "$progress" || fail "the progress window closed during the run"
snap progress-close-refused
viewable "$progress" || fail "the progress window closed during the run"

# The result dialog, closed with Enter.
result=$(wait_window '结果提示' 120) || fail "the result dialog did not show"
snap result
xdotool key Return
wait_gone "$result" || fail "Enter did not close the result dialog"
park
snap after-clear

# 数据恢复: the open dialog in the backup folder with its three archives, all of them chosen (a click
# on the free part of the file list, then Ctrl+A) and opened with Enter in the file name box.
click_at 304 176
chooser=$(wait_window '选择要恢复的备份文件') || fail "the restore's open dialog did not show"
[ "$(find "$backups" -name '*.zip' | wc -l)" -eq 3 ] || fail "the three archives are not in $backups"
snap restore-open
eval "$(xdotool getwindowgeometry --shell "$chooser")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
xdotool key ctrl+a
sleep 0.3
snap restore-chosen
xdotool key Tab Return
wait_gone "$chooser" || fail "the open dialog did not take the archives"
restoring=$(wait_window '正在数据恢复...') || fail "the restore's progress window did not show"
viewable "$restoring" || fail "the restore ended before its progress window could be seen"
snap restore-progress
result=$(wait_window '结果提示' 120) || fail "the restore's result dialog did not show"
snap restore-result
xdotool key Escape
wait_gone "$result" || fail "Esc did not close the restore's result dialog"

# 浏览...: the folder chooser, left with Esc.
click_at 390 126
folder=$(wait_window '请选择备份目录') || fail "the folder chooser did not show"
snap folder-chooser
xdotool key Escape
wait_gone "$folder" || fail "Esc did not close the folder chooser"

# The taxpayer switch: hide, then show.
click_at 176 295
park
snap hidden
click_at 392 295
park
snap shown

# Both skins from the host's menu.
xdotool key alt+s k o
park
snap skin-warm
xdotool key alt+s k b
park
snap skin-default

# The host's frame at 1024x700, at 600x420 (the page scrolls) and maximised.
wmctrl -i -r "$frame" -e 0,20,20,1024,700
sleep 0.5
snap host-1024x700
wmctrl -i -r "$frame" -e 0,20,20,600,420
sleep 0.5
snap host-600x420
wmctrl -i -r "$frame" -b add,maximized_vert,maximized_horz
sleep 0.5
snap host-maximised

# The host closes as a user closes it, and the module says goodbye.
wmctrl -i -c "$frame"
for _ in $(seq 100); do grep -q '^notice=1302 ' "$work/open.log" && break; sleep 0.1; done
grep -q '^notice=1302 ' "$work/open.log" || fail "the module window did not close with the host"
echo "gui-tour: $step pictures in $out"
