#!/usr/bin/env bash
# Wall time of a command-line batch of 1,000 keywords against the local
# simulator answering every page after 50 ms, with 8 fetches at once next to
# one at a time. The two tables must be byte for byte the same.
#   BENCH name=parallel_latency value=<seconds, --parallel 8> baseline=<seconds, --parallel 1> ratio=<value/baseline> goal=<=0.16
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR names the release build}
keywords=${BENCH_PARALLEL_KEYWORDS:-1000}
work=$(mktemp -d)
source scripts/simulator.sh
start_simulator "$build" --graph-size "$keywords" --latency 50
trap 'stop_simulator; rm -rf "$work"' EXIT

batch_seconds() { # PARALLEL CSV
    local start end
    start=$(date +%s.%N)
    QUILLMARSH_PASSWORD=demo "$build/src/cli/quillmarsh-cli" query --user demo --parallel "$1" --csv "$2" 连衣裙 \
        2>"$work/batch-$1.log"
    end=$(date +%s.%N)
    echo "--parallel $1: $(grep '^pages ' "$work/batch-$1.log" | tail -n 1)" >&2
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
baseline=$(batch_seconds 1 "$work/one.csv")
value=$(batch_seconds 8 "$work/eight.csv")
if ! cmp -s "$work/one.csv" "$work/eight.csv"; then
    echo "parallel_latency: the tables of --parallel 1 and --parallel 8 differ" >&2
    exit 1
fi
echo "tables equal: $(($(wc -l <"$work/one.csv") - 1)) rows" >&2
ratio=$(awk -v v="$value" -v b="$baseline" 'BEGIN { printf "%.3f", v / b }')
echo "BENCH name=parallel_latency value=$value baseline=$baseline ratio=$ratio goal=<=0.16"
