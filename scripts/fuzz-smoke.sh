#!/usr/bin/env bash
# Builds the libFuzzer target of the ADTG reader with clang (outside the main build) and runs it
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
"$cxx" -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_NO_KEYWORDS \
    -I"$here/module" -I"$here" $(pkg-config --cflags Qt6Core) \
    "$here/tests/fuzz/adtg_fuzz.cpp" "$here/module/support/AdtgReader.cpp" "$here/module/support/AdtgTypes.cpp" \
    $(pkg-config --libs Qt6Core) -o "$out/adtg_fuzz"

seeds=("$corpus")
cd "$out"
# The first folder collects new inputs; the seed folder is only read.
ASAN_OPTIONS=detect_leaks=0 ./adtg_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 corpus "${seeds[@]}"
echo "fuzz-smoke: adtg reader ran ${seconds}s without a crash"
