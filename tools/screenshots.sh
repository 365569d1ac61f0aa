#!/usr/bin/env bash
# Takes the README's pictures: runs the built editor under Xvfb on the demo
# rules file, reads it, picks a unit, and photographs the main window; then
# opens the about window and photographs it.
#   tools/screenshots.sh            (after ./run.sh or ./test.sh has built it)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth xdotool imagemagick fonts-wqy-microhei

editor=build/app/tarvenor-unit-editor
out=docs
mkdir -p "$out"
display=:97
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1

"$editor" &
app=$!
trap 'kill $app 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
window=$(xdotool search --sync --onlyvisible --name 'Tarvenor' | head -n 1)
xdotool windowmove "$window" 0 0
sleep 0.5
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key alt+r
sleep 1.5
# The find box selects the first unit whose name starts with "Ar".
xdotool mousemove 60 20 click 1
xdotool type --delay 80 'ar'
sleep 0.5
geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}')
import -window root -crop "${geometry}+0+0" +repage "$out/main-window.png"

xdotool key alt+a
about=$(xdotool search --sync --onlyvisible --name '关于' | head -n 1)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$about")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/about-window.png"
xdotool mousemove $((X + 300)) $((Y + 60)) click 1
sleep 0.3
echo "pictures written to $out/"
