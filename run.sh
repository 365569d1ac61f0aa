#!/usr/bin/env bash
# Installs what is missing, builds the editor (only the editor: ./test.sh
# builds the tests and benchmarks), and opens it on the demo rules file placed
# beside the built executable (build/app/data/unitrules.xml).
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target app
exec build/app/tarvenor-unit-editor
