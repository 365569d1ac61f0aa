#!/bin/sh
# The Linux release folder on a system without Qt and without Chinese fonts:
# in a private mount namespace the system's Qt libraries and plugins and its
# Chinese fonts are hidden, the tarball is unpacked, and the editor reads the
# demo rules file, Halilis Knight is found through the find box, its build time
# is retyped as 77 and saved, all from the keyboard. The saved file must be
# the demo with that one line changed. Every Qt library and plugin the editor
# has mapped, and every library the folder carries, must be the folder's, and
# so must the Chinese font it draws with.
#   linux_folder_test.sh TARBALL DEMO_RULES_FILE   (on an X display with a window manager)
set -eu
if [ -z "${LINUX_FOLDER_TEST_HIDDEN:-}" ]; then
    namespace=-m
    [ "$(id -u)" -eq 0 ] || namespace=-rm
    LINUX_FOLDER_TEST_HIDDEN=1 exec unshare $namespace --propagation private "$0" "$@"
fi
fail() { echo "FAIL: $*"; exit 1; }
system=/usr/lib/x86_64-linux-gnu
mount -t tmpfs hidden "$system/qt6"
for library in "$system"/libQt6*; do [ -L "$library" ] || mount --bind /dev/null "$library"; done
for fonts in $(fc-list :lang=zh file | sed 's|/[^/]*: *$||' | sort -u); do mount -t tmpfs hidden "$fonts"; done
[ -z "$(fc-list :lang=zh)" ] || fail "a system font with Chinese is still visible"

work=$(mktemp -d)
editor=
trap 'kill "$editor" 2>/dev/null || true; rm -rf "$work"' EXIT
tar -xzf "$1" -C "$work"
folder="$work/tarvenor-unit-editor"
mkdir "$folder/data"
cp "$2" "$folder/data/unitrules.xml"
LC_ALL=C awk '/<JOB_TIME>/ && ++unit == 2 { sub(/>[^<]*</, ">77<") } { print }' "$2" >"$work/expected.xml"

# Started as Steam starts programs, with the system's library folder first.
LD_LIBRARY_PATH=$system "$folder/tarvenor-unit-editor" &
editor=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$editor" | head -n 1)
[ -n "$window" ] || fail "the editor did not start"
xdotool windowactivate --sync "$window"
# Tab from the first box to the find box, then Read; the focus returns to
# the find box when the Read is over, and the window's title then shows the
# row the typed name selects (keys typed during the Read are lost).
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab alt+r
for i in $(seq 100); do
    xdotool key ctrl+a BackSpace
    xdotool type Halilis
    [ "$(xdotool getwindowname "$window")" = 1 ] && break
    sleep 0.1
done
# Back from the find box to the last box of the tab order, the build time.
xdotool key shift+Tab ctrl+a
xdotool type 77
xdotool key alt+s
for i in $(seq 100); do
    cmp -s "$work/expected.xml" "$folder/data/unitrules.xml" && break
    sleep 0.1
done
cmp "$work/expected.xml" "$folder/data/unitrules.xml" || fail "the saved file is not the demo with one line changed"

awk '$6 ~ /^\// { print $6 }' "/proc/$editor/maps" | sort -u >"$work/maps"
libs="$folder/tarvenor-unit-editor-libs"
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
echo "the folder's editor read, edited and saved the file with the folder's Qt and font alone"
