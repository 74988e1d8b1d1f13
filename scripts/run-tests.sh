#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
scripts/build.sh
cd build
# The database tests get a throwaway PostgreSQL server of their own, removed afterwards.
QT_QPA_PLATFORM=offscreen ../scripts/pg-test-server.sh run -- ctest --output-on-failure -j"$(nproc)"
