#!/usr/bin/env bash
# Benchmark: qelstats univariate over ODBC on a 10-million-row PostgreSQL
# table, against PostgreSQL computing the aggregates itself.
#
#   bench/odbc_postgres.sh [ROWS]        (default 10000000)
#
# Runs on a throwaway server (scripts/pg-test-server.sh), measures elapsed time
# and peak memory (maximum resident set) of
#   qelstats univariate --connection ... --source t --field x --json
# and the elapsed time of
#   psql -c "select count(*), avg(x), stddev(x), min(x), max(x) from t"
# and appends the figures with the date to bench/RESULTS.md.
# Uses the qelstats of build/ (or $QEL_BUILD_DIR); build it first.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
ROWS="${1:-10000000}"

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 2; }
if [ -z "${QEL_TEST_PG_CONN:-}" ]; then
  exec "$ROOT/scripts/pg-test-server.sh" run --no-baseball -- "$0" "$@"
fi

QELSTATS="$ROOT/${QEL_BUILD_DIR:-build}/bin/qelstats"
[ -x "$QELSTATS" ] || { echo "no $QELSTATS: build first (scripts/build.sh)" >&2; exit 2; }
PG() { "$QEL_TEST_PG_HELPER" psql "$QEL_TEST_PG_DIR" "$@"; }

# x takes 100,003 distinct values with two decimals: the analysis keeps one
# tally entry per distinct value, so its memory should not grow with the rows.
echo "Loading $ROWS rows ..." >&2
load_start=$(date +%s.%N)
PG -c "create table t as select (((g::bigint * 7919) % 100003) / 100.0)::double precision as x
       from generate_series(1, $ROWS) g; analyze t;"
load_seconds=$(awk -v a="$load_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')

measure() {  # prints "seconds maxrss_kb" for the command, its stdout to $out
  local tf
  tf="$(mktemp)"
  /usr/bin/time -f "%e %M" -o "$tf" "$@" >"$out"
  cat "$tf"
  rm -f "$tf"
}

out="$(mktemp)"
echo "qelstats univariate over ODBC ..." >&2
read -r q_seconds q_rss < <(measure "$QELSTATS" univariate --connection "$QEL_TEST_PG_CONN" --source t --field x \
  --json --no-progress)
q_json="$(cat "$out")"
echo "psql aggregate ..." >&2
read -r p_seconds p_rss < <(measure env PGPASSWORD="$QEL_TEST_PG_PASSWORD" psql -X -A -t -h "$QEL_TEST_PG_SOCKET" \
  -p "$QEL_TEST_PG_PORT" -U "$QEL_TEST_PG_USER" -d "$QEL_TEST_PG_DATABASE" \
  -c "select count(*), avg(x), stddev(x), min(x), max(x) from t")
p_out="$(cat "$out")"
rm -f "$out"

n="$(sed -n 's/.*"N": \([0-9.e+]*\).*/\1/p' <<<"$q_json")"
mean="$(sed -n 's/.*"Mean": \([-0-9.e+]*\).*/\1/p' <<<"$q_json")"
stdev="$(sed -n 's/.*"Stdev": \([-0-9.e+]*\).*/\1/p' <<<"$q_json")"
echo "qelstats: N=$n Mean=$mean Stdev=$stdev  ${q_seconds}s  $((q_rss / 1024)) MB peak" >&2
echo "psql:     $p_out  ${p_seconds}s" >&2

load="$(cut -d' ' -f1-3 /proc/loadavg)"
cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
{
  echo
  echo "## qelstats univariate over ODBC against PostgreSQL's own aggregate ($(date -u +%Y-%m-%d))"
  echo
  echo "Table \`t\` of $ROWS rows, one \`double precision\` column \`x\` with 100,003 distinct values, on a throwaway"
  echo "PostgreSQL $(PG -A -t -c 'show server_version' | cut -d' ' -f1) server on the same machine ($(nproc) cores, $cpu),"
  echo "read through psqlODBC (\`Driver={PostgreSQL Unicode}\`) in row arrays. Loading took $load_seconds s. Load average at the end: $load (other work shares the machine)."
  echo "Made by \`bench/odbc_postgres.sh\`."
  echo
  echo "| what | elapsed (s) | peak memory (MB) | result |"
  echo "|---|---:|---:|---|"
  echo "| \`qelstats univariate --connection ... --source t --field x\` | $q_seconds | $((q_rss / 1024)) | N $n, Mean $mean, Stdev $stdev (and 18 more statistics) |"
  echo "| \`psql -c \"select count(*), avg(x), stddev(x), min(x), max(x) from t\"\` | $p_seconds | $((p_rss / 1024)) (psql only) | \`$p_out\` |"
} >>"$HERE/RESULTS.md"
echo "Appended to bench/RESULTS.md" >&2
