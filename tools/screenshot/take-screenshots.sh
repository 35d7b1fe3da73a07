#!/usr/bin/env bash
# Takes docs/screenshots/login-window.png, query-window.png, opportunity-chart.png and tray-menu.png
# on a virtual display, driving the real program against quillmarsh-sim.
#   tools/screenshot/take-screenshots.sh [build dir] [quillmarsh-sim binary]
set -euo pipefail
cd "$(dirname "$0")/../.."
for tool in openbox xdotool xwininfo; do
    command -v "$tool" >/dev/null || missing=1
done
if [ -n "${missing:-}" ]; then
    apt-get install -y -qq --no-install-recommends openbox xdotool x11-utils >/dev/null
fi
root=$PWD
build=$(realpath "${1:-build}")
sim=$(realpath "${2:-$build/tools/sim/quillmarsh-sim}")

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x900x24 -wr" "$0" "$build" "$sim"
fi

out=$root/docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
cp -r "$root/pic" "$work/"
cd "$work"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

openbox & pids+=($!)
"$sim" --port 18765 --graph-size 120 > /dev/null 2>&1 & pids+=($!)
export QUILLMARSH_ACCOUNT_HOST=127.0.0.1:18765 QUILLMARSH_MARKET_HOST=127.0.0.1:18765
sleep 1

# Crops the screen to the window named $3 (the login window by default) with
# its title bar, with a margin of 12 pixels and $1 more pixels on the right;
# writes $2.
shoot() {
    local window info extents x y w h left right top bottom
    window=$(xdotool search --sync --name "${3:-Brisalo}" | head -1)
    info=$(xwininfo -id "$window")
    x=$(awk '/Absolute upper-left X/ {print $4}' <<< "$info")
    y=$(awk '/Absolute upper-left Y/ {print $4}' <<< "$info")
    w=$(awk '/Width/ {print $2}' <<< "$info")
    h=$(awk '/Height/ {print $2}' <<< "$info")
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    read -r left right top bottom <<< "$extents"
    import -window root -crop "$((w + left + right + 24 + $1))x$((h + top + bottom + 24))+$((x - left - 12))+$((y - top - 12))" +repage "$2"
}

"$build/src/app/quillmarsh" & app=$!
pids+=($app)
window=$(xdotool search --sync --name "Brisalo" | head -1)
sleep 1
xdotool mousemove --window "$window" 150 84 click 1 type demo
xdotool mousemove --window "$window" 150 114 click 1 type demo
sleep 0.5
shoot 0 "$out/login-window.png"

# Log in, run a batch for a seed, close the end message and sort by sales.
xdotool mousemove --window "$window" 204 148 click 1
query=$(xdotool search --sync --name "Quillmarsh 1.0" | head -1)
sleep 1
xdotool mousemove --window "$query" 122 30 click 1
sleep 0.5
xdotool type --delay 150 "连衣裙"
sleep 0.5
xdotool mousemove --window "$query" 352 28 click 1
sleep 22
xdotool key Return
sleep 0.5
xdotool mousemove --window "$query" 734 28 click 1
xdotool mousemove --window "$query" 300 160 click 1
sleep 0.5
shoot 0 "$out/query-window.png" "Quillmarsh 1.0"

# Sort by opportunity with a header click, open the chart panel and point at
# the best keyword's point.
xdotool mousemove --window "$query" 885 96 click 1
xdotool mousemove --window "$query" 880 72 click 1
xdotool windowmove "$query" 40 40
sleep 1
shoot 0 "$out/opportunity-chart.png" "Quillmarsh 1.0"
kill "$app"

"$build/tools/screenshot/quillmarsh-traymenu-pose" 20 & pids+=($!)
xdotool search --sync --name "Brisalo" > /dev/null
sleep 2
shoot 200 "$out/tray-menu.png"
echo "wrote $out/login-window.png $out/tray-menu.png"
