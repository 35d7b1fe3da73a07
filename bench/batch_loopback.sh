#!/usr/bin/env bash
# Pages per second of a command-line batch of 2,000 keywords against the local
# simulator without latency, next to the fastest plain fetch of the same pages:
# the same request targets in the same order over one kept-alive connection,
# one request in flight, nothing parsed.
#   BENCH name=batch_loopback value=<batch pages/s> baseline=<plain pages/s> ratio=<baseline/value> goal=<=2
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR names the release build}
keywords=${BENCH_LOOPBACK_KEYWORDS:-2000}
work=$(mktemp -d)
source scripts/simulator.sh
start_simulator "$build" --graph-size "$keywords" --access-log "$work/access.log"
trap 'stop_simulator; rm -rf "$work"' EXIT

# Best of three on both sides: the machine is shared, and the slow runs are
# the ones other work got in the way of.
higher() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
value=0
for _ in 1 2 3; do
    QUILLMARSH_PASSWORD=demo "$build/src/cli/quillmarsh-cli" query --user demo --csv "$work/table.csv" 连衣裙 \
        2>"$work/batch.log"
    # The last progress line: "pages N, queued 0, rows R, failed F, excluded E, X pages/s".
    read -r pages rate < <(grep '^pages ' "$work/batch.log" | tail -n 1 | sed -E 's/^pages ([0-9]+),.* ([0-9.]+) pages\/s$/\1 \2/')
    value=$(higher "$value" "$rate")
done
echo "batch: $pages pages at $value pages/s" >&2

# Each batch fetched the same targets in the same order.
grep '^/search' "$work/access.log" | awk '!seen[$0]++' >"$work/targets"
baseline=0
for _ in 1 2 3; do
    rate=$("$build/bench/sequential-fetch" "$SIM_ADDRESS" "$work/targets" | awk '{print $6}')
    baseline=$(higher "$baseline" "$rate")
done
echo "plain fetch: $(wc -l <"$work/targets") pages at $baseline pages/s" >&2
ratio=$(awk -v b="$baseline" -v v="$value" 'BEGIN { printf "%.2f", b / v }')
echo "BENCH name=batch_loopback value=$value baseline=$baseline ratio=$ratio goal=<=2"
