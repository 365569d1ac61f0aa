#!/usr/bin/env bash
# Installs what is missing, builds, and opens the editor on the demo rules
# file placed beside the built executable (build/app/data/unitrules.xml).
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

ensure_packages "${BUILD_PACKAGES[@]}"
configure_and_build
exec build/app/tarvenor-unit-editor
