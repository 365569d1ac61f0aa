#!/usr/bin/env bash
# Builds the Linux editor's folder and tarball without running any tests.
#   tools/linux_tarball.sh   ->  build/tarvenor-unit-editor-linux-x86_64.tar.gz
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${LINUX_RELEASE_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target linux_deploy
echo "build/tarvenor-unit-editor-linux-x86_64.tar.gz"
