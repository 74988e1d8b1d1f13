#!/bin/sh
# Times `qelstats report` of the 10-million-row benchmark file (id, price, qty,
# region, score) against its target score, beside one `qelstats univariate` on
# price in the same invocation, and prints one Markdown row: both times, their
# ratio, the report's peak memory and size, and the load average around the runs.
#
#   bench/report.sh                                   # best of 3
#   REPEAT=1 QELSTATS=build/bin/qelstats bench/report.sh
#
# Environment: QELSTATS (a built qelstats; default: build bench/build-release),
# DATA (the CSV; default bench/data/univariate.csv, made by gen_univariate_data.py),
# REPEAT (runs of each command; the best is kept), OUT (the report; default a temporary file).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
. "$here/common.sh"

qelstats_release
DATA=${DATA:-$here/data/univariate.csv}
if [ ! -f "$DATA" ]; then
  echo "no $DATA: make it with /usr/bin/python3 $here/gen_univariate_data.py --rows 10000000 --out $DATA" >&2
  exit 2
fi
REPEAT=${REPEAT:-3}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
OUT=${OUT:-$tmp/report.html}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
best "$QELSTATS" univariate --no-progress --csv "$DATA" --field price --json >"$tmp/univariate"
best "$QELSTATS" report --no-progress --csv "$DATA" --target score -o "$OUT" >"$tmp/report"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

read -r uni_s _ uni_mb <"$tmp/univariate"
read -r rep_s _ rep_mb <"$tmp/report"
ratio=$(awk -v a="$rep_s" -v b="$uni_s" 'BEGIN { printf "%.2f", a / b }')
size_kb=$(( $(stat -c %s "$OUT") / 1024 ))
echo "| rows | univariate price (s) | report, target score (s) | ratio | report peak MB | HTML KB | load before / after |"
echo "|---|---|---|---|---|---|---|"
echo "| $(basename "$DATA") | $uni_s | $rep_s | ${ratio}x | $rep_mb | $size_kb | $load_before / $load_after |"
