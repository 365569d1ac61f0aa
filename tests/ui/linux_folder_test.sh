#!/bin/sh
# The release folder where no Qt and no Chinese font is installed (hidden in a
# private mount namespace): from the keyboard the editor reads the demo, finds
# Halilis Knight, retypes its build time as 77 and saves; the file must be the
# demo with that one line changed, and every Qt library, plugin and font the
# editor mapped must be the folder's, though QT_PLUGIN_PATH names the system's
# plugins. The notice names every file shipped, and each licence it names is
# there. Without a library the system must give, the editor's message names
# it.   linux_folder_test.sh TARBALL DEMO
set -eu
if [ -z "${LINUX_FOLDER_TEST_HIDDEN:-}" ]; then
    [ "$(id -u)" -eq 0 ] && namespace=-m || namespace=-rm
    LINUX_FOLDER_TEST_HIDDEN=1 exec unshare $namespace --propagation private "$0" "$@"
fi
fail() { echo "FAIL: $*"; exit 1; }
system=/usr/lib/x86_64-linux-gnu
work=$(mktemp -d)
mkdir -p "$work/foreign/plugins/platforms"  # the system's platform plugin, for QT_PLUGIN_PATH
cp "$system/qt6/plugins/platforms/libqxcb.so" "$work/foreign/plugins/platforms"
mount -t tmpfs hidden "$system/qt6"
for library in "$system"/libQt6*; do [ -L "$library" ] || mount --bind /dev/null "$library"; done
for fonts in $(fc-list :lang=zh file | sed 's|/[^/]*: *$||' | sort -u); do mount -t tmpfs hidden "$fonts"; done
[ -z "$(fc-list :lang=zh)" ] || fail "a system font with Chinese is still visible"

editor=
trap 'kill "$editor" 2>/dev/null || true; rm -rf "$work"' EXIT
tar -xzf "$1" -C "$work"
folder="$work/tarvenor-unit-editor"
licenses="$folder/tarvenor-unit-editor-libs/licenses"
(cd "$folder" && find tarvenor-unit-editor-libs -type f ! -path '*/licenses/*') | while read -r file; do
    grep -qxF "$file" "$licenses/NOTICE.txt" || fail "$file is not in the notice"
done
sed -n 's/^    licence: //p' "$licenses/NOTICE.txt" | sed 's/ or \| and \| with \|, /\n/g' | sort -u | while read -r name; do
    [ -f "$licenses/$name.txt" ] || fail "the notice names the licence $name, whose text is not there"
done
mkdir "$folder/data"
cp "$2" "$folder/data/unitrules.xml"
LC_ALL=C awk '/<JOB_TIME>/ && ++unit == 2 { sub(/>[^<]*</, ">77<") } { print }' "$2" >"$work/expected.xml"

LD_LIBRARY_PATH=$system QT_PLUGIN_PATH="$work/foreign/plugins" "$folder/tarvenor-unit-editor" &  # as Steam starts programs
editor=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$editor" | head -n 1)
[ -n "$window" ] || fail "the editor did not start"
xdotool windowactivate --sync "$window"
# Tab to the find box, then Read; keys typed during the Read are lost, so the
# name is typed until the title shows the row it selects.
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab alt+r
for i in $(seq 100); do
    xdotool key ctrl+a BackSpace
    xdotool type Halilis
    [ "$(xdotool getwindowname "$window")" = 1 ] && break
    sleep 0.1
done
xdotool key shift+Tab ctrl+a  # the build time is last in the tab order
xdotool type 77
xdotool key alt+s
for i in $(seq 100); do cmp -s "$work/expected.xml" "$folder/data/unitrules.xml" && break; sleep 0.1; done
cmp "$work/expected.xml" "$folder/data/unitrules.xml" || fail "the saved file is not the demo with one line changed"

libs="$folder/tarvenor-unit-editor-libs"
awk '$6 ~ /^\// { print $6 }' "/proc/$editor/maps" | sort -u >"$work/maps"
while read -r path; do
    case "$path" in
        "$folder"/*) ;;
        *libQt6* | */plugins/*) fail "Qt from outside the folder: $path" ;;
        *) [ ! -e "$libs/lib/${path##*/}" ] || fail "a library the folder carries came from $path" ;;
    esac
done <"$work/maps"
for carried in lib/libQt6Widgets.so.6 plugins/platforms/libqxcb.so lib/fonts/wqy-microhei.ttc; do
    grep -qx "$libs/$carried" "$work/maps" || fail "the editor has not loaded the folder's $carried"
done
xdotool key alt+x
wait "$editor" || fail "the editor exited with status $?"

mount --bind /dev/null "$system/libSM.so.6"
for platforms in "" "wayland;xcb"; do  # Wayland tried first, with no compositor: still the library
    ! QT_QPA_PLATFORM=$platforms timeout 20 "$folder/tarvenor-unit-editor" 2>"$work/error" || fail "the editor started without libSM.so.6"
    grep -q 'libSM\.so\.6' "$work/error" || fail "the message does not name libSM.so.6: $(cat "$work/error")"
done
