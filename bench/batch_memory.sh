#!/usr/bin/env bash
# Peak memory of a command-line batch of 100,000 keywords against the local
# simulator, its run history recorded, next to the size of the table it writes.
#   BENCH name=batch_memory value=<peak RSS MiB> baseline=<CSV MiB> ratio=<value/baseline> goal=<=4
# BENCH_MEMORY_KEYWORDS and BENCH_MEMORY_PAGE_SIZE shrink the run; the pages
# are padded to 20,000 bytes by default (their markup alone is about 35 KB) so
# the batch is not 20 GB of loopback traffic.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR names the release build}
keywords=${BENCH_MEMORY_KEYWORDS:-100000}
page_size=${BENCH_MEMORY_PAGE_SIZE:-20000}
work=$(mktemp -d)
source scripts/simulator.sh
start_simulator "$build" --graph-size "$keywords" --page-size "$page_size"
trap 'stop_simulator; rm -rf "$work"' EXIT

start=$(date +%s)
QUILLMARSH_PASSWORD=demo QUILLMARSH_DATA_DIR="$work/data" /usr/bin/time -v -o "$work/time.log" \
    "$build/src/cli/quillmarsh-cli" query --user demo --csv "$work/table.csv" 连衣裙 2>"$work/batch.log"
echo "batch: $(grep '^pages ' "$work/batch.log" | tail -n 1) in $(($(date +%s) - start)) s" >&2

rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.log")
csv_bytes=$(stat -c %s "$work/table.csv")
awk -v rss="$rss_kib" -v csv="$csv_bytes" 'BEGIN {
    value = rss / 1024; baseline = csv / 1048576
    printf "BENCH name=batch_memory value=%.1f baseline=%.1f ratio=%.2f goal=<=4\n", value, baseline, value / baseline
}'
