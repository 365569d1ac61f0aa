#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

ensure_packages "${BUILD_PACKAGES[@]}"
ensure_locale de_DE.UTF-8
configure_and_build
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --timeout 600
