#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the database-backed tests and benchmarks.
#
#   scripts/pg-test-server.sh run [--no-baseball] -- COMMAND...
#       Creates a cluster in a new temporary folder, loads BaseBall.csv into the
#       table "baseball", runs COMMAND with the variables below exported, then
#       stops the server and removes the folder, also when COMMAND fails or is
#       interrupted. Exits with COMMAND's status.
#   scripts/pg-test-server.sh start DIR      creates and starts a cluster in the
#       empty or missing folder DIR; prints its variables as KEY=VALUE lines
#   scripts/pg-test-server.sh sql DIR SQL    runs SQL on the cluster in DIR (psql)
#   scripts/pg-test-server.sh psql DIR ARGS  runs psql with ARGS on the cluster in DIR
#   scripts/pg-test-server.sh kill DIR       stops the server at once (-m immediate), keeps DIR
#   scripts/pg-test-server.sh restart DIR    starts the server in DIR again
#   scripts/pg-test-server.sh stop DIR       stops the server and removes DIR
#
# Exported to COMMAND (and printed by start):
#   QEL_TEST_PG_CONN     ODBC connection string: Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...
#   QEL_TEST_PG_DIR      the cluster's folder (data in DIR/data, socket in DIR/sock)
#   QEL_TEST_PG_PORT, QEL_TEST_PG_USER, QEL_TEST_PG_PASSWORD, QEL_TEST_PG_DATABASE, QEL_TEST_PG_SOCKET
#   QEL_TEST_PG_HELPER   the absolute path of this script, for tests that need a cluster of their own
#
# The server listens on 127.0.0.1 only, on a free port, with its socket inside
# the folder. Run as root, the server runs as the unprivileged user "nobody".
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
SELF="$HERE/$(basename "${BASH_SOURCE[0]}")"

pg_bin() {
  local d
  d="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)"
  if [ -n "$d" ] && [ -x "$d/initdb" ]; then echo "$d"; return; fi
  d="$(dirname "$(command -v initdb 2>/dev/null || true)")"
  if [ -n "$d" ] && [ -x "$d/initdb" ]; then echo "$d"; return; fi
  echo "pg-test-server: no PostgreSQL server binaries (install the Debian package postgresql)" >&2
  exit 3
}

# Runs a command as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  echo "pg-test-server: no free port found" >&2
  exit 3
}

env_file() { echo "$1/env"; }

cmd_start() {
  local dir="$1" bin port password
  bin="$(pg_bin)"
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  mkdir -p "$dir/sock"
  chmod 755 "$dir"
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$dir"
  password="$(head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n')"
  printf '%s\n' "$password" >"$dir/pwfile"
  [ "$(id -u)" -eq 0 ] && chown nobody "$dir/pwfile"
  chmod 600 "$dir/pwfile"
  as_owner "$bin/initdb" -D "$dir/data" -U qeltest --pwfile="$dir/pwfile" -E UTF8 --locale=C --no-sync \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    exit 3
  }
  rm -f "$dir/pwfile"
  # The port is only known free when the server binds it: retry on a clash.
  local started=0
  for _ in 1 2 3 4 5; do
    port="$(free_port)"
    if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir/sock -c fsync=off -c full_page_writes=off" \
      start >/dev/null 2>&1; then
      started=1
      break
    fi
  done
  if [ "$started" -ne 1 ]; then
    echo "pg-test-server: the server did not start; its log:" >&2
    cat "$dir/server.log" >&2 || true
    exit 3
  fi
  as_owner "$bin/createdb" -h "$dir/sock" -p "$port" -U qeltest qeltest
  cat >"$(env_file "$dir")" <<EOF
QEL_TEST_PG_DIR=$dir
QEL_TEST_PG_PORT=$port
QEL_TEST_PG_USER=qeltest
QEL_TEST_PG_PASSWORD=$password
QEL_TEST_PG_DATABASE=qeltest
QEL_TEST_PG_SOCKET=$dir/sock
QEL_TEST_PG_HELPER=$SELF
QEL_TEST_PG_CONN=Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=qeltest;Uid=qeltest;Pwd=$password;
EOF
  cat "$(env_file "$dir")"
}

load_env() {
  local dir="$1"
  [ -f "$(env_file "$dir")" ] || { echo "pg-test-server: no cluster in $dir" >&2; exit 3; }
  while IFS='=' read -r key value; do
    [ -n "$key" ] && export "$key=$value"
  done <"$(env_file "$dir")"
}

cmd_psql() {
  local dir="$1"
  shift
  load_env "$dir"
  PGPASSWORD="$QEL_TEST_PG_PASSWORD" PGOPTIONS="-c client_min_messages=warning" psql -X -q -v ON_ERROR_STOP=1 -h "$QEL_TEST_PG_SOCKET" -p "$QEL_TEST_PG_PORT" \
    -U "$QEL_TEST_PG_USER" -d "$QEL_TEST_PG_DATABASE" "$@"
}

cmd_kill() {
  local dir="$1"
  as_owner "$(pg_bin)/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
}

cmd_restart() {
  local dir="$1"
  load_env "$dir"
  as_owner "$(pg_bin)/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-c listen_addresses=127.0.0.1 -p $QEL_TEST_PG_PORT -k $dir/sock -c fsync=off -c full_page_writes=off" \
    start >/dev/null
}

cmd_stop() {
  local dir="$1"
  [ -d "$dir" ] || return 0
  # Clusters a test made inside this one's folder go too.
  local d
  for d in "$dir"/*/data "$dir/data"; do
    [ -f "$d/postmaster.pid" ] && as_owner "$(pg_bin)/pg_ctl" -D "$d" -m immediate -t 30 stop >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}

load_baseball() {
  local dir="$1" csv="$ROOT/VesquinDemo/datasets/BaseBall.csv"
  # Quoted names keep the file's spelling of its field names.
  cmd_psql "$dir" <<EOF
create table baseball (
  "Salary" integer, "AB" integer, "R" integer, "H" integer, "Doubles" integer, "Triples" integer,
  "HR" integer, "RBI" integer, "BB" integer, "SO" integer, "SB" integer, "CS" integer,
  "AVG" numeric(6,3), "G" integer, "IBB" integer, "HBP" integer, "SH" integer, "SF" integer,
  "GIDP" integer, "Age" integer, "Seasons" integer, "Height" integer, "Weight" integer,
  "Team" varchar(3), "League" varchar(2), "Position" varchar(2), "Bats" varchar(1), "Throws" varchar(1),
  "Player" text);
\copy baseball from '$csv' with (format csv, header true)
EOF
}

cmd_run() {
  local baseball=1
  while [ $# -gt 0 ]; do
    case "$1" in
      --no-baseball) baseball=0; shift ;;
      --) shift; break ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] || { echo "usage: $0 run [--no-baseball] -- COMMAND..." >&2; exit 2; }
  RUN_DIR="$(mktemp -d "${TMPDIR:-/tmp}/qel-pg.XXXXXX")"
  trap 'cmd_stop "$RUN_DIR"' EXIT
  trap 'exit 130' INT TERM
  cmd_start "$RUN_DIR" >/dev/null
  if [ "$baseball" -eq 1 ]; then load_baseball "$RUN_DIR"; fi
  load_env "$RUN_DIR"
  local status=0
  "$@" || status=$?
  return "$status"
}

case "${1:-}" in
  run) shift; cmd_run "$@" ;;
  start) [ $# -eq 2 ] || { echo "usage: $0 start DIR" >&2; exit 2; }; cmd_start "$2" ;;
  sql) [ $# -eq 3 ] || { echo "usage: $0 sql DIR SQL" >&2; exit 2; }; cmd_psql "$2" -c "$3" ;;
  psql) [ $# -ge 2 ] || { echo "usage: $0 psql DIR ARGS..." >&2; exit 2; }; d="$2"; shift 2; cmd_psql "$d" "$@" ;;
  kill) [ $# -eq 2 ] || { echo "usage: $0 kill DIR" >&2; exit 2; }; cmd_kill "$2" ;;
  restart) [ $# -eq 2 ] || { echo "usage: $0 restart DIR" >&2; exit 2; }; cmd_restart "$2" ;;
  stop) [ $# -eq 2 ] || { echo "usage: $0 stop DIR" >&2; exit 2; }; cmd_stop "$2" ;;
  *) sed -n '2,25p' "$SELF" >&2; exit 2 ;;
esac
