#!/bin/sh
# Memory per distinct value: peak resident memory of the runs whose result
# table has one row per distinct value (outlier, categorical bivariate) against
# the univariate run on the same field, on a file where every value of `x` is
# distinct. Prints one Markdown row per run: max RSS, bytes per distinct value
# and the ratio to the univariate run, with the date and the load average.
#
#   bench/memory_per_value.sh                          # build/bin/qelstats, 2 million rows
#   QELSTATS=build-release/bin/qelstats ROWS=2000000 bench/memory_per_value.sh
#
# The file is written once to bench/data/distinct<ROWS>.csv (git-ignored):
# `x` is row i's value (i * 0.37 + 0.01 with two decimals, all distinct), `y`
# a target of four decimals in [0, 1), `k` a text predictor ("k" and i, all
# distinct); same file for the same ROWS.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
QELSTATS=${QELSTATS:-$repo/build/bin/qelstats}
ROWS=${ROWS:-2000000}
DATA=${DATA:-$here/data/distinct$ROWS.csv}

if [ ! -s "$DATA" ]; then
  mkdir -p "$(dirname "$DATA")"
  awk -v rows="$ROWS" 'BEGIN {
    print "id,x,y,k"
    for (i = 1; i <= rows; i++) {
      c = i * 37 + 1                   # x in hundredths: distinct, two decimals
      t = (i * 7919) % 10000           # y: four decimals in [0, 1)
      printf "%d,%d.%02d,0.%04d,k%d\n", i, int(c / 100), c % 100, t, i
    }
  }' > "$DATA.partial"
  mv "$DATA.partial" "$DATA"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# peak resident memory (kB) of one run, its output kept in $tmp/NAME.out
peak() {
  name=$1
  shift
  /usr/bin/time -f '%M %U %S' -o "$tmp/$name.time" "$@" > "$tmp/$name.out"
  cat "$tmp/$name.time"
}

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "file: $DATA ($ROWS rows, $ROWS distinct values of x); $QELSTATS"
echo
echo "| run | max RSS MB | CPU s | bytes per distinct value | against univariate | output md5 |"
echo "|---|---:|---:|---:|---:|---|"
base=""
for run in univariate outlier binned categorical categorical-text; do
  case $run in
    univariate) set -- univariate --csv "$DATA" --field x ;;
    outlier) set -- outlier --csv "$DATA" --field x --rule std --parm 2 ;;
    binned) set -- bivariate --csv "$DATA" --predictor x --target y --bins 20 ;;
    categorical) set -- bivariate --csv "$DATA" --predictor x --target y --categorical ;;
    categorical-text) set -- bivariate --csv "$DATA" --predictor k --target y ;;
  esac
  r=$(peak "$run" "$QELSTATS" "$@" --no-progress --json)
  kb=${r%% *}
  [ -n "$base" ] || base=$kb
  sum=$(md5sum < "$tmp/$run.out" | cut -c1-12)
  echo "$r" | awk -v run="$run" -v rows="$ROWS" -v base="$base" -v sum="$sum" \
    '{printf "| %s | %.0f | %.2f | %.0f | %.1fx | %s |\n", run, $1 / 1024, $2 + $3, $1 * 1024 / rows, $1 / base, sum}'
done
