#!/usr/bin/env bash
# The long fault campaign, run by hand (as root): builds sjql-host and sjql-faults, then drives the
# host through every kill point, random kills, concurrent runs, full and immutable folders, locked
# and stopped databases, crafted archives and a writer during the compaction, on SQLite and on a
# private MariaDB, and prints the table of rows lost, duplicated, misfiled and untruthful endings.
#   scripts/fault-campaign.sh [--db sqlite|mysql|both] [--seed N] [--only CLASS,...] [--keep DIR]
# Exits non-zero when any row or ending is wrong. ctest runs the short form (label "fault").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${SJQL_FAULT_BUILD:-build-fault}
if [ "$(id -u)" != 0 ]; then
    echo "fault-campaign: needs root (tmpfs mounts, chattr +i)" >&2
    exit 2
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target sjql-host sjql-faults
exec env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 TZ=Asia/Shanghai "$build/bin/sjql-faults" --long "$@"
