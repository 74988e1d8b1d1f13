#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping those already present.
# Usage: scripts/install-deps.sh [build|test|all]   (default: all)
set -euo pipefail

BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  dpkg-dev file
  googletest libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3
  unixodbc-dev
  libfast-float-dev
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-documentation-tools libgl1-mesa-dev
  python3-dev python3-numpy pybind11-dev python3-pybind11 python3-setuptools python3-pip python3-venv
)
TEST_PACKAGES=(
  postgresql odbc-postgresql libsqliteodbc
  xvfb xauth
  desktop-file-utils
  clang libclang-rt-14-dev
  chromium
  python3-pytest python3-pandas python3-dask python3-distributed python3-tqdm
)

want=("${BUILD_PACKAGES[@]}")
case "${1:-all}" in
  build) ;;
  test|all) want+=("${TEST_PACKAGES[@]}") ;;
  *) echo "usage: $0 [build|test|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
