#!/usr/bin/env bash
# Builds the Windows editor's folder and zip without running any tests: Qt
# for Windows from Debian's qt6-base source (the first time only, about 20
# minutes on two cores; cached after that), then the editor cross-built with
# mingw-w64.
#   tools/windows_zip.sh   ->  build-windows-ui/tarvenor-unit-editor-windows-x86_64.zip
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${WINDOWS_UI_PACKAGES[@]}"
configure_and_build_windows_ui
echo "build-windows-ui/tarvenor-unit-editor-windows-x86_64.zip"
