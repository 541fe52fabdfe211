#!/usr/bin/env bash
# Makes the Debian package kalvora_<version>_amd64.deb: installs what is missing, builds a
# Release tree with Debian's hardening flags in build-package/ (KALVORA_PACKAGE_BUILD names
# another), then runs CPack. ./package.sh [OUTPUT_FOLDER]; the default is this folder.
set -euo pipefail
output=$(realpath -m "${1:-$(dirname "$0")}")
cd "$(dirname "$0")"
source ./scripts-common.sh

kalvora_install_missing "${KALVORA_PACKAGES[@]}" "${KALVORA_PACKAGING_PACKAGES[@]}"

# Every hardening feature, bindnow included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build=$(realpath -m "${KALVORA_PACKAGE_BUILD:-build-package}")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKALVORA_PACKAGING=ON -DKALVORA_SANITIZE= \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# The package's contents only: the tests and benchmarks of this tree are not built here.
cmake --build "$build" --parallel "$(nproc)" --target kalvora-package-contents

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack" >/dev/null)
mkdir -p "$output"
packages=("$build"/cpack/kalvora_*_amd64.deb)
[ -f "${packages[0]}" ] || { echo "CPack made no kalvora_*_amd64.deb" >&2; exit 1; }
mv -f "${packages[@]}" "$output/"
echo "Package: $output/$(basename "${packages[0]}")"
