#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
scripts/build.sh
cd build
# The database tests get a throwaway PostgreSQL server of their own, removed afterwards.
QT_QPA_PLATFORM=offscreen ../scripts/pg-test-server.sh run -- ctest --output-on-failure -j"$(nproc)"
cd ..
# The same tests again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (build-asan/), then each fuzz target for a short fixed time.
# QEL_SKIP_SANITIZERS=1 skips both, for a quick local run.
if [ "${QEL_SKIP_SANITIZERS:-0}" != 1 ]; then
  scripts/sanitizer-tests.sh
  scripts/fuzz-smoke.sh
fi
