#!/bin/sh
# The univariate benchmark in one command: installs what is missing (Debian's
# time and python3-pandas), builds qelstats in Release mode, generates the
# 10-million-row CSV once, and times qelstats against pandas.
#
#   bench/run_univariate.sh                 # best of 3
#   REPEAT=5 bench/run_univariate.sh --markdown
#   QELSTATS=build-uni/bin/qelstats bench/run_univariate.sh   # an existing build
#
# Environment: QELSTATS (a built qelstats; default: build bench/build-release),
# DATA (the CSV; default bench/data/univariate.csv), ROWS (rows to generate),
# REPEAT (runs per peer). Further arguments go to bench_univariate.py.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
. "$here/common.sh"

missing=""
[ -x /usr/bin/time ] || missing="$missing time"
/usr/bin/python3 -c 'import pandas' 2>/dev/null || missing="$missing python3-pandas"
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v ninja >/dev/null 2>&1 || missing="$missing ninja-build"
if [ -n "$missing" ]; then
  echo "installing:$missing" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

qelstats_release

DATA=${DATA:-$here/data/univariate.csv}
if [ ! -f "$DATA" ]; then
  /usr/bin/python3 "$here/gen_univariate_data.py" --rows "${ROWS:-10000000}" --out "$DATA"
fi

exec /usr/bin/python3 "$here/bench_univariate.py" --qelstats "$QELSTATS" --data "$DATA" --column price \
  --repeat "${REPEAT:-3}" "$@"
