#!/usr/bin/env bash
# Takes the README's pictures of the Windows editor: unpacks the zip, puts the
# demo rules file beside the editor as a modder would, starts it under Wine on
# a private Xvfb display, reads, picks a unit and photographs the main window;
# then opens the about window and photographs it.
#   tools/screenshots_windows.sh   (after ./test.sh or tools/windows_zip.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth xdotool imagemagick unzip fonts-dejavu-core fonts-wqy-microhei fonts-wine

zip=build-windows-ui/tarvenor-unit-editor-windows-x86_64.zip
out=docs
work=$(mktemp -d)
unzip -q "$zip" -d "$work"
editor=$work/tarvenor-unit-editor
mkdir -p "$editor/data"
cp tools/demo/unitrules.xml "$editor/data/unitrules.xml"

export WINEPREFIX=$PWD/build-windows-ui/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LANG=C.UTF-8 LC_ALL=C.UTF-8
tools/wine_prefix.sh "$WINEPREFIX"

display=:94
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1

wine "$editor/tarvenor-unit-editor.exe" &
app=$!
window=$(xdotool search --sync --onlyvisible --name 'Tarvenor' | head -n 1)
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
# Wine draws the frame itself: the client area starts inside the left border
# and below the title bar. Clicks go to controls by their place in it.
client_x=$((X + 3))
client_y=$((Y + 22))
click() { xdotool mousemove $((client_x + $1)) $((client_y + $2)) click 1; }
click 297 179          # Read
sleep 4
click 102 21           # the find box, which selects the first unit whose name starts with "Ar"
xdotool type --delay 150 'ar'
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/windows-main-window.png"

click 248 239          # About
about=$(xdotool search --sync --onlyvisible --name '关于' | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$about")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/windows-about-window.png"
xdotool mousemove $((X + 300)) $((Y + 60)) click 1
sleep 0.5
echo "pictures written to $out/windows-main-window.png and $out/windows-about-window.png"
