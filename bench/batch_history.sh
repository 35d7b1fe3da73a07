#!/usr/bin/env bash
# Pages per second of a command-line batch of 2,000 keywords against the local
# simulator with its run history recorded, next to the same batch with
# --no-history, alternating so that both meet the same machine.
#   BENCH name=batch_history value=<pages/s with history> baseline=<pages/s without> ratio=<baseline/value> goal=<=1.1
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR names the release build}
keywords=${BENCH_HISTORY_KEYWORDS:-2000}
work=$(mktemp -d)
source scripts/simulator.sh
start_simulator "$build" --graph-size "$keywords"
trap 'stop_simulator; rm -rf "$work"' EXIT

# One batch's rate from its last progress line: "pages N, queued 0, rows R, failed F, X pages/s".
rate() {
    QUILLMARSH_PASSWORD=demo QUILLMARSH_DATA_DIR="$work/data" "$build/src/cli/quillmarsh-cli" query --user demo \
        --csv "$work/table.csv" "$@" 连衣裙 2>"$work/batch.log"
    grep '^pages ' "$work/batch.log" | tail -n 1 | sed -E 's/^.* ([0-9.]+) pages\/s$/\1/'
}
higher() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
# Best of five on both sides: the machine is shared, and the slow runs are the
# ones other work got in the way of.
value=0
baseline=0
for _ in 1 2 3 4 5; do
    baseline=$(higher "$baseline" "$(rate --no-history)")
    value=$(higher "$value" "$(rate)")
done
echo "batch: $keywords pages, $value pages/s recorded, $baseline pages/s without history" >&2
ratio=$(awk -v b="$baseline" -v v="$value" 'BEGIN { printf "%.2f", b / v }')
echo "BENCH name=batch_history value=$value baseline=$baseline ratio=$ratio goal=<=1.1"
