#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${HARDENING_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${DESKTOP_TEST_PACKAGES[@]}"
ensure_locale de_DE.UTF-8
ensure_locale fr_FR.UTF-8  # the Windows tests read the system's reasons in French
export QT_QPA_PLATFORM=offscreen

echo "== Build and tests"
configure_and_build
ctest --test-dir build --output-on-failure --timeout 600

echo "== Windows build of the core, its tests under Wine"
configure_and_build_windows
# Wine maps Windows file names to Unix ones through the locale's character
# set: a UTF-8 locale lets the tests' non-ASCII folder names through.
LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEPREFIX="$PWD/build-windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    ctest --test-dir build-windows --output-on-failure --timeout 600

echo "== Sanitizer build: the same tests, then each fuzz target for a bounded time"
configure_and_build_hardening
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-hardening --output-on-failure --timeout 900
