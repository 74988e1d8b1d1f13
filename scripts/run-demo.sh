#!/usr/bin/env bash
# Installs what is missing, builds, and starts the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
scripts/build.sh
if [ -x build/bin/VesquinDemo ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/VesquinDemo
fi
[ -x build/bin/VesquinDemo ] && echo "No display: showing the command-line demonstration instead of VesquinDemo."
echo "qelstats univariate --csv VesquinDemo/datasets/BaseBall.csv --field Salary"
exec build/bin/qelstats univariate --csv VesquinDemo/datasets/BaseBall.csv --field Salary
