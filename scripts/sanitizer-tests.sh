#!/usr/bin/env bash
# Builds everything with AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer into build-asan/ (or $QEL_ASAN_DIR) and runs every test there.
# Any finding stops the program that made it, so the test fails.
# Extra arguments go to ctest (for example -R csv).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
dir="${QEL_ASAN_DIR:-build-asan}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_SANITIZE=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"

# halt_on_error/abort_on_error: the first finding ends the test program.
# detect_leaks: LeakSanitizer runs at every test program's exit; the few
# leaks of system libraries we do not own are listed in lsan.supp.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_invalid_pointer_pairs=0:handle_abort=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
cd "$dir"
# Two kinds of test are run apart:
# - install_package_example, install_api_examples and deb_packages build
#   clients against the installed (or packaged) libraries; a sanitized install
#   would need every client built with the sanitizers too. The normal run
#   covers installing and packaging.
# - The tests that unload libqelStatsLib.so on purpose (dlclose): blocks that
#   the unloaded libraries' static data pointed to are reported as leaks with
#   stacks into unmapped code. With dlclose made a no-op those reports vanish,
#   so they are an artifact of unloading; these tests run with everything but
#   leak detection on.
unloading='ComServer\.(OnlyTheEntryPointsAreExported|CanUnloadOnlyWithoutObjectsAndLocks)'
QT_QPA_PLATFORM=offscreen "$root/scripts/pg-test-server.sh" run -- \
  ctest --output-on-failure -j"$(nproc)" --timeout 900 -E "install_package_example|install_api_examples|deb_packages|$unloading" "$@"
ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" \
  ctest --output-on-failure --timeout 900 -R "$unloading"
