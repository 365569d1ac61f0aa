#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
# Each step says when it starts, so a run's log shows where its time went.
step() { echo "== $1 ($SECONDS s in)"; }

ensure_packages "${BUILD_PACKAGES[@]}" "${HARDENING_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${WINDOWS_UI_PACKAGES[@]}" \
    "${DESKTOP_TEST_PACKAGES[@]}" "${LINUX_RELEASE_PACKAGES[@]}"
ensure_locale de_DE.UTF-8
ensure_locale fr_FR.UTF-8  # the Windows tests read the system's reasons in French
export QT_QPA_PLATFORM=offscreen
# Tests that share no display, Wine prefix or file run side by side: most of
# them wait on windows, compositors or other processes more than they work.
jobs=$(( $(nproc) + 1 ))

# Qt for Windows, when it is not cached yet, is the longest step of all: it
# builds in the background at low priority while the other builds' tests run.
# A run that fails first ends it too (all its compilers: its own process group).
qt_log=$(mktemp)
setsid -w tools/build_qt_windows.sh >/dev/null 2>"$qt_log" &
qt_build=$!
trap 'kill -- -"$qt_build" 2>/dev/null || true' EXIT

step "Build and tests"
configure_and_build
ctest --test-dir build --output-on-failure --timeout 600 -j "$jobs"

step "Windows build of the core, its tests under Wine"
configure_and_build_windows
# Wine maps Windows file names to Unix ones through the locale's character
# set: a UTF-8 locale lets the tests' non-ASCII folder names through.
LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEPREFIX="$PWD/build-windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    ctest --test-dir build-windows --output-on-failure --timeout 600 -j "$jobs"

step "Sanitizer build: the same tests, then each fuzz target for a bounded time"
configure_and_build_hardening
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-hardening --output-on-failure --timeout 900 -j "$(nproc)"  # fuzzers work, each on a core

step "The whole editor for Windows: Qt for Windows (built once, then cached), the window tests under Wine"
qt_status=0
wait "$qt_build" || qt_status=$?
trap - EXIT
cat "$qt_log"
rm -f "$qt_log"
[ "$qt_status" -eq 0 ] || exit 1
configure_and_build_windows_ui
# First on Qt's offscreen platform, with the deploy folder's import check;
# then on the windows platform, where Wine draws real windows on a private X
# display.
ctest --test-dir build-windows-ui -L 'wine_offscreen|deploy' --output-on-failure --timeout 1800
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    ctest --test-dir build-windows-ui -L wine_windows --output-on-failure --timeout 1800
step "Done. Windows editor: build-windows-ui/tarvenor-unit-editor-windows-x86_64.zip"
