#!/bin/sh
# Started by the desktop entry: opens the host with the module on the user's installation, and
# first makes a small demo installation when there is none yet ($SJQL_HOST_HOME, else
# ~/.local/share/sjql-host), so a click on the menu entry always shows a window. What the host
# says in its last launch goes to desktop.log in the user's log folder, as there is no terminal.
set -u
home=${SJQL_HOST_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/sjql-host}
logs=${XDG_DATA_HOME:-$HOME/.local/share}/sjql-host/logs
mkdir -p "$logs"
log=$logs/desktop.log
: >"$log"
if [ ! -f "$home/host.ini" ]; then
    sjql-host init --home "$home" --quiet >>"$log" 2>&1 || exit 1
fi
exec sjql-host open --home "$home" >>"$log" 2>&1
