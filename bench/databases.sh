#!/usr/bin/env bash
# qelstats over databases beside the CSV file: the main file of bench/run
# (bench/data/univariate.csv, 10 million rows) loaded into a SQLite table and
# into a PostgreSQL table (a throwaway server, scripts/pg-test-server.sh, read
# through unixODBC and psqlODBC), then the univariate, outlier and bivariate
# analyses on each, record by record and with --in-database, best of REPEAT,
# with the databases' own aggregate query (count, avg, stddev, min, max) and
# PostgreSQL's own group by of the column for scale.
#
#   bench/databases.sh            (or: bench/run databases)
#
# Environment: QELSTATS (default bench/build-release/bin/qelstats, as bench/run
# builds it), REPEAT (default 3), DATA (the folder of univariate.csv; default
# bench/data; a real folder: the text provider refuses a symlink that leaves
# its folder), DB (the SQLite file; default DATA/univariate.sqlite, made when
# missing), CSV_ROWS=0 leaves out the rows of the CSV file. ONLY=in-database times
# just the --in-database rows and the databases' own queries.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
here=$HERE repo=$ROOT
. "$HERE/common.sh"  # best
QELSTATS="${QELSTATS:-$HERE/build-release/bin/qelstats}"
REPEAT="${REPEAT:-3}"
DATA="${DATA:-$HERE/data}"
CSV="$DATA/univariate.csv"
[ -x "$QELSTATS" ] || { echo "no $QELSTATS: run bench/run first, or set QELSTATS" >&2; exit 2; }
[ -f "$CSV" ] || { echo "no $CSV: run bench/run first" >&2; exit 2; }
for tool in sqlite3 psql odbcinst; do
  command -v $tool >/dev/null 2>&1 || { echo "needs $tool (scripts/install-deps.sh)" >&2; exit 2; }
done

if [ -z "${QEL_TEST_PG_CONN:-}" ]; then
  exec "$ROOT/scripts/pg-test-server.sh" run --no-baseball -- "$0" "$@"
fi
PG() { "$QEL_TEST_PG_HELPER" psql "$QEL_TEST_PG_DIR" -X -q "$@"; }

DB="${DB:-$DATA/univariate.sqlite}"
if [ ! -f "$DB" ]; then
  echo "loading $CSV into $DB ..." >&2
  sqlite3 "$DB.partial" "create table t (id integer, price real, qty integer, region text, score real);" \
    ".mode csv" ".import --skip 1 '$CSV' t"
  mv "$DB.partial" "$DB"
fi
echo "loading $CSV into PostgreSQL ..." >&2
# region as varchar: PostgreSQL's text type reaches ODBC as a long text, which
# the bivariate run refuses as a predictor ("Invalid Data Type on input data.").
PG -c "create table t (id integer, price double precision, qty integer, region varchar(16), score double precision)"
PG -c "\\copy t from '$CSV' with (format csv, header true)"
PG -c "analyze t"

SQLITE_CONN="Driver=SQLite3;Database=$DB"

echo
echo "| analysis | source | best wall s | CPU s | max RSS MB |"
echo "|---|---|---:|---:|---:|"
run_row() {  # label, source label, then the command
  local label="$1" where="$2" r
  shift 2
  r=($(best "$@"))
  echo "| $label | $where | ${r[0]} | ${r[1]} | ${r[2]} |"
}
# One analysis: record by record over the CSV file, the SQLite table and the
# PostgreSQL table, then its reading pass as one query in each database
# (--in-database: the distinct values cross the driver instead of the records).
analysis() {  # label, then the subcommand and its arguments after the input
  local label="$1" sub="$2"
  shift 2
  if [ "${ONLY:-}" != in-database ]; then
    [ "${CSV_ROWS:-1}" = 0 ] || run_row "$label" "CSV file" "$QELSTATS" "$sub" --csv "$CSV" "$@" --json --no-progress
    run_row "$label" "SQLite table" "$QELSTATS" "$sub" --connection "$SQLITE_CONN" --source t "$@" --json --no-progress
    run_row "$label" "PostgreSQL via ODBC" \
      "$QELSTATS" "$sub" --connection "$QEL_TEST_PG_CONN" --source t "$@" --json --no-progress
  fi
  run_row "$label, --in-database" "SQLite table" \
    "$QELSTATS" "$sub" --connection "$SQLITE_CONN" --source t "$@" --in-database --json --no-progress
  run_row "$label, --in-database" "PostgreSQL via ODBC" \
    "$QELSTATS" "$sub" --connection "$QEL_TEST_PG_CONN" --source t "$@" --in-database --json --no-progress
}
psql_row() {  # label, SQL
  run_row "$1" PostgreSQL env PGPASSWORD="$QEL_TEST_PG_PASSWORD" psql -X -A -t -h "$QEL_TEST_PG_SOCKET" \
    -p "$QEL_TEST_PG_PORT" -U "$QEL_TEST_PG_USER" -d "$QEL_TEST_PG_DATABASE" -c "$2"
}
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) CPUs"
psql_row "psql: PostgreSQL's own count, avg, stddev, min, max" \
  "select count(price), avg(price), stddev(price), min(price), max(price) from t"
analysis "univariate price" univariate --field price
analysis "univariate price weighted by qty" univariate --field price --weight qty
analysis "outlier price, 2-stdev band" outlier --field price --rule std --parm 2
analysis "outlier price, 5% trimmed-mean band" outlier --field price --rule tmean --parm 5
analysis "bivariate price -> score, 20 bins" bivariate --predictor price --target score --bins 20
analysis "bivariate region -> score" bivariate --predictor region --target score --bins 20
run_row "sqlite3's own count, avg, min, max" "SQLite table" sqlite3 "$DB" "select count(price), avg(price), min(price), max(price) from t"
psql_row "psql: PostgreSQL's own count, avg, stddev, min, max" \
  "select count(price), avg(price), stddev(price), min(price), max(price) from t"
psql_row "psql: PostgreSQL's own group by price (default work_mem)" \
  "select count(*) from (select price, count(*) from t group by price) g"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
