#!/usr/bin/env bash
# Builds the project and makes its Debian packages (for a /usr install) with cpack.
# Usage: scripts/make-debs.sh [OUTDIR]     (default: <build dir>/debs)
# The build dir is build/ or $QEL_BUILD_DIR; extra cmake options go in $QEL_CMAKE_ARGS,
# e.g. QEL_BUILD_DIR=build-release QEL_CMAKE_ARGS="-DQEL_BUILD_TESTS=OFF" for a release build.
# Install the result with: sudo apt-get install ./OUTDIR/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${QEL_BUILD_DIR:-build}"
out="${1:-$dir/debs}"
scripts/install-deps.sh build
# shellcheck disable=SC2086  # QEL_CMAKE_ARGS is a list of options
QEL_BUILD_DIR="$dir" scripts/build.sh ${QEL_CMAKE_ARGS:-}
cpack -G DEB -B "$out" --config "$dir/CPackConfig.cmake"
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
