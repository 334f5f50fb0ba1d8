#!/usr/bin/env bash
# Builds the libFuzzer target of the ADTG reader with clang (its own build folder) and runs it
# for a bounded time, seeded with the ADO-written files of the corpus in tests/data/adtg-corpus.
#   scripts/fuzz-smoke.sh [BUILD_DIR] [SECONDS]     defaults: build-fuzz, 60
# The target lands in BUILD_DIR/fuzz/; crashes are written there as crash-* and fail the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
seconds=${2:-60}
case "$build" in /*) ;; *) build="$here/$build" ;; esac
out="$build/fuzz"
corpus=$here/tests/data/adtg-corpus
mkdir -p "$out/corpus"

cxx=${CLANGXX:-$(command -v clang++ || command -v clang++-14 || true)}
if [ -z "$cxx" ]; then
    echo "fuzz-smoke: clang++ not found (apt-get install clang)" >&2
    exit 1
fi
cc=${cxx/clang++/clang}
# The target is the CMake target adtg_fuzz of a clang build with SJQL_FUZZ (only it is built).
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
    -DSJQL_FUZZ=ON >/dev/null
cmake --build "$build" --target adtg_fuzz -j"$(nproc)" >/dev/null
cp "$build/bin/adtg_fuzz" "$out/adtg_fuzz"

seeds=("$corpus")
cd "$out"
# The first folder collects new inputs; the seed folder is only read.
ASAN_OPTIONS=detect_leaks=0 ./adtg_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 corpus "${seeds[@]}"
echo "fuzz-smoke: adtg reader ran ${seconds}s without a crash"
