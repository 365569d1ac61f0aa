#!/usr/bin/env bash
# Takes the pictures of the Windows editor in docs/: unpacks the zip, puts the
# demo rules file beside the editor as a modder would, starts it under Wine on
# a private Xvfb display, reads, picks a unit and photographs the main window;
# then opens the about window and photographs it; last, the game folder as
# Wine's Explorer shows it, with the editor's icon (at 96 DPI). With a DPI (144 for a
# Windows display scale of 150 %, 192 for 200 %) the desktop has that DPI and
# the pictures' names end in -dpiDPI. The editor is driven by its keys.
#   tools/screenshots_windows.sh [DPI]   (after ./test.sh or tools/windows_zip.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth xdotool imagemagick unzip fonts-dejavu-core fonts-wqy-microhei fonts-wine

dpi=${1:-96}
suffix=
[ "$dpi" = 96 ] || suffix=-dpi$dpi
zip=build-windows-ui/tarvenor-unit-editor-windows-x86_64.zip
out=docs
work=$(mktemp -d)
unzip -q "$zip" -d "$work"
editor=$work/tarvenor-unit-editor
mkdir -p "$editor/data"
cp tools/demo/unitrules.xml "$editor/data/unitrules.xml"

# The prefixes the window tests use (tests/ui/wine_tests.cmake).
prefix=build-windows-ui/wineprefix
[ "$dpi" = 96 ] || prefix=${prefix}_dpi$dpi
export WINEPREFIX=$PWD/$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LANG=C.UTF-8 LC_ALL=C.UTF-8
tools/wine_prefix.sh "$WINEPREFIX" "$dpi"

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
shot() {  # window, picture
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$2$suffix.png"
    echo "$out/$2$suffix.png"
}
xdotool key alt+r      # Read
sleep 4
# From the first stat box, where the focus starts, to the find box: the first
# unit whose name starts with "Ar" is selected.
xdotool key --delay 100 Tab Tab Tab Tab Tab Tab Tab Tab
xdotool type --delay 150 'ar'
sleep 1
shot "$window" windows-main-window

xdotool key alt+a      # About
about=$(xdotool search --sync --onlyvisible --name '关于' | head -n 1)
sleep 1
shot "$about" windows-about-window
# A press on the background closes it.
xdotool mousemove $((X + WIDTH * 3 / 4)) $((Y + HEIGHT * 3 / 10)) click 1
sleep 0.5
xdotool key alt+x      # Exit
wait "$app" || true

# The game folder with the editor in it, as Explorer shows it (once, at 96 DPI).
[ "$dpi" = 96 ] || exit 0
wine explorer.exe "Z:${editor//\//\\}" &
app=$!
folder=$(xdotool search --sync --onlyvisible --name 'tarvenor-unit-editor' | head -n 1)
sleep 3
shot "$folder" windows-game-folder
