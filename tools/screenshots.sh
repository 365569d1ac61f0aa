#!/usr/bin/env bash
# Takes the pictures in docs/ (shown in the README and docs/desktops.md):
# runs the built editor under Xvfb on the demo rules file, reads it, picks a
# unit, and photographs the main window; then opens the about window and
# photographs it.
#   tools/screenshots.sh            (after ./run.sh or ./test.sh has built it)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth xdotool imagemagick fonts-wqy-microhei

editor=build/app/tarvenor-unit-editor
out=docs
mkdir -p "$out"
display=:97
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1

# shoot SUFFIX FACTOR [VARIABLE=VALUE...]: the two pictures, with the editor
# started under the given environment (a scale of FACTOR).
shoot() {
    local suffix=$1 factor=$2
    shift 2
    env "$@" "$editor" &
    local app=$!
    local window
    window=$(xdotool search --sync --onlyvisible --name 'Tarvenor' | head -n 1)
    xdotool windowmove "$window" 0 0
    sleep 0.5
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    xdotool key alt+r
    sleep 1.5
    # The find box selects the first unit whose name starts with "Ar".
    xdotool mousemove "$(awk "BEGIN {print int(60 * $factor)}")" "$(awk "BEGIN {print int(20 * $factor)}")" click 1
    xdotool type --delay 80 'ar'
    sleep 0.5
    local geometry
    geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}')
    import -window root -crop "${geometry}+0+0" +repage "$out/main-window$suffix.png"

    xdotool key alt+a
    local about
    about=$(xdotool search --sync --onlyvisible --name '关于' | head -n 1)
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$about")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/about-window$suffix.png"
    xdotool mousemove "$(awk "BEGIN {print int($X + 300 * $factor)}")" "$(awk "BEGIN {print int($Y + 60 * $factor)}")" click 1
    sleep 0.3
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
}

shoot "" 1
shoot -scale2 2 QT_SCALE_FACTOR=2
shoot -dpi144 1.5 QT_FONT_DPI=144
echo "pictures written to $out/"
