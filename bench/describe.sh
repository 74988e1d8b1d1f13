#!/bin/sh
# qelstats describe (every column in one pass) against qelstats univariate on
# one column (price, the benchmarks' usual one, and id, the dearest to finish) and against
# Polars' describe(), on the 10-million-row benchmark
# file. Prints wall and CPU seconds and peak memory of the best of REPEAT runs.
#
#   bench/describe.sh                         # build/bin/qelstats, bench/data/univariate.csv
#   QELSTATS=build-release/bin/qelstats DATA=/path/univariate.csv REPEAT=3 bench/describe.sh
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
QELSTATS=${QELSTATS:-$repo/build/bin/qelstats}
DATA=${DATA:-$here/data/univariate.csv}
REPEAT=${REPEAT:-3}
. "$here/common.sh"
NODE_PATH=${NODE_PATH:-$here/node_modules}
export NODE_PATH

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "file: $DATA ($(wc -l < "$DATA") lines)"
echo "case | wall s | CPU s | max RSS MB"
u=$(best "$QELSTATS" univariate --csv "$DATA" --field price --no-progress --json)
echo "qelstats univariate price | $u"
i=$(best "$QELSTATS" univariate --csv "$DATA" --field id --no-progress --json)
echo "qelstats univariate id (10M distinct) | $i"
d=$(best "$QELSTATS" describe --csv "$DATA" --no-progress --json)
echo "qelstats describe (5 columns) | $d"
if node -e "require('nodejs-polars')" 2>/dev/null; then
  p=$(best node "$here/peer_polars_describe.mjs" "$DATA")
  echo "Polars describe() | $p"
else
  p=""
  echo "Polars describe() | not installed (npm install nodejs-polars in bench/)"
fi
echo "$u $d $i $p" | awk '{printf "describe / univariate price: %.2fx wall, %.2fx CPU; describe / univariate id: %.2fx wall, %.2fx CPU", $4 / $1, $5 / $2, $4 / $7, $5 / $8; if (NF >= 12) printf "; Polars / describe: %.2fx wall, %.2fx CPU", $10 / $4, $11 / $5; print ""}'
