# Shell functions the benchmark scripts share; sourced after they set `here`
# (this folder) and `repo` (the source tree).

# Sets QELSTATS to a Release build of qelstats in bench/build-release (made
# or brought up to date here) unless QELSTATS is given.
qelstats_release() {
  if [ -z "${QELSTATS:-}" ]; then
    build="$here/build-release"
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_GUI=OFF -DQEL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target qelstats >&2
    QELSTATS="$build/bin/qelstats"
  fi
}

# best COMMAND...: runs COMMAND REPEAT times (standard output discarded) and
# prints "wall cpu maxrss_mb" of the fastest run, "failed - -" when a run fails.
best() {
  best_tf=$(mktemp)
  best_line=""
  best_i=0
  while [ "$best_i" -lt "${REPEAT:-3}" ]; do
    if ! /usr/bin/time -f '%e %U %S %M' -o "$best_tf" "$@" >/dev/null; then
      rm -f "$best_tf"
      echo "failed - -"
      return 0
    fi
    best_run=$(awk '{ printf "%.2f %.2f %.0f", $1, $2 + $3, $4 / 1024 }' "$best_tf")
    if [ -z "$best_line" ] || echo "$best_run $best_line" | awk '{ exit !($1 < $4) }'; then best_line=$best_run; fi
    best_i=$((best_i + 1))
  done
  rm -f "$best_tf"
  echo "$best_line"
}
