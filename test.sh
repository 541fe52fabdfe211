#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source ./scripts-common.sh

kalvora_install_missing "${KALVORA_PACKAGES[@]}"
kalvora_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure --timeout 600 -j2
