#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz (clang, libFuzzer, ASan + UBSan) and
# runs each for the given number of seconds, starting from its seed corpus in
# fuzz/corpus/<target>/. What a run finds new goes to build-fuzz/corpus/<target>/,
# a crash to build-fuzz/crashes/<target>/; neither is committed.
#   fuzz/run.sh TARGET SECONDS     one target (pageparser, accountanswer, ...)
#   fuzz/run.sh all SECONDS        every target, one after the other
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(pageparser accountanswer profileanswer credentials csvwriter)
[ $# -eq 2 ] || { echo "usage: $0 TARGET|all SECONDS" >&2; exit 2; }
if [ "$1" = all ]; then selected=("${targets[@]}"); else selected=("$1"); fi
seconds=$2

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLMARSH_FUZZ=ON -DQUILLMARSH_BUILD_TESTS=OFF > /dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${selected[@]/#/fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in "${selected[@]}"; do
    corpus=build-fuzz/corpus/$target
    crashes=build-fuzz/crashes/$target
    mkdir -p "$corpus" "$crashes"
    echo "== $target for ${seconds}s"
    build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "fuzz/corpus/$target"
done
