#!/usr/bin/env bash
# Pages per second of a batch of 3,000 keywords through the query window
# (offscreen) next to the same batch on the command line, against the same
# simulator in the same run, both counting from the start to the end of the
# batch.
#   BENCH name=window_batch value=<window pages/s> baseline=<command-line pages/s> ratio=<value/baseline> goal=>=0.7
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR names the release build}
keywords=${BENCH_WINDOW_KEYWORDS:-3000}
work=$(mktemp -d)
source scripts/simulator.sh
start_simulator "$build" --graph-size "$keywords"
trap 'stop_simulator; rm -rf "$work"' EXIT
export QUILLMARSH_DATA_DIR="$work/data" # the built-in settings, whatever the user set

# Best of three on both sides, as in batch_loopback.
higher() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
value=0
baseline=0
for _ in 1 2 3; do
    QUILLMARSH_PASSWORD=demo "$build/src/cli/quillmarsh-cli" query --user demo --csv "$work/table.csv" 连衣裙 \
        2>"$work/batch.log"
    rate=$(grep '^pages ' "$work/batch.log" | tail -n 1 | sed -E 's/.* ([0-9.]+) pages\/s$/\1/')
    baseline=$(higher "$baseline" "$rate")
    rate=$("$build/bench/window-batch" 连衣裙 | awk '{ print $6 }')
    value=$(higher "$value" "$rate")
done
echo "window: $value pages/s, command line: $baseline pages/s" >&2
ratio=$(awk -v v="$value" -v b="$baseline" 'BEGIN { printf "%.2f", v / b }')
echo "BENCH name=window_batch value=$value baseline=$baseline ratio=$ratio goal=>=0.7"
