#!/usr/bin/env bash
# Read/Save of the 460,800-byte file through the window: the Windows build
# under Wine (windows platform) beside the Linux build (xcb), both on the same
# private Xvfb display.
#   bench/run_window_bench_wine.sh [runs]   (after ./test.sh, or after ./run.sh
#                                            and tools/windows_zip.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth
runs=${1:-5}
linux=${LINUX_BUILD:-build}   # the Linux build folder to compare with
cmake --build "$linux" --target window_bench make_rules >/dev/null
cmake --build build-windows-ui --target window_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"; [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true' EXIT
"$linux"/tools/make_rules "$work/calibrated.xml" --bytes 460800 >/dev/null

export WINEPREFIX=$PWD/build-windows-ui/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LANG=C.UTF-8 LC_ALL=C.UTF-8
tools/wine_prefix.sh "$WINEPREFIX"
qt_bin=$(tools/build_qt_windows.sh --prefix)/bin
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
winpthread=$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")")
export WINEPATH="Z:${qt_bin//\//\\};Z:${runtime//\//\\};Z:${winpthread//\//\\}"

Xvfb :93 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=:93
echo "== Linux build, xcb"
QT_QPA_PLATFORM=xcb "$linux"/bench/window_bench "$work/calibrated.xml" "$runs" 2>/dev/null
echo "== Windows build under Wine, windows platform"
wine build-windows-ui/window_bench.exe "Z:${work//\//\\}\\calibrated.xml" "$runs" -platform windows 2>/dev/null
