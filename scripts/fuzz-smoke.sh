#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or $QEL_FUZZ_DIR)
# and runs each from its seed corpus in fuzz/corpus/<target>/ for a fixed
# time (QEL_FUZZ_SECONDS, default 20). Fails on the first finding; the input
# that caused it is left in the build folder as crash-*, leak-* or timeout-*.
# fuzz/README.md says how to fuzz for longer.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
dir="${QEL_FUZZ_DIR:-build-fuzz}"
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
seconds="${QEL_FUZZ_SECONDS:-20}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_FUZZ=ON -DQEL_BUILD_GUI=OFF -DQEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" --target fuzz_all -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
mkdir -p "$dir/fuzz-out"
for target in fuzz_csv fuzz_connection_string fuzz_number_text fuzz_runs; do
  # New inputs go to a scratch corpus, so that CI never changes the seeds.
  work="$dir/fuzz-out/$target"
  mkdir -p "$work"
  echo "fuzzing $target for ${seconds}s"
  (cd "$dir/fuzz-out" && "$dir/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -max_len=4096 -print_final_stats=1 "$work" "$root/fuzz/corpus/$target" 2>"$target.log") || {
    tail -60 "$dir/fuzz-out/$target.log" >&2
    echo "fuzz-smoke: $target found a fault (input and log in $dir/fuzz-out)" >&2
    exit 1
  }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$dir/fuzz-out/$target.log" | sed "s/^/  /"
done
