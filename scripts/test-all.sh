#!/usr/bin/env bash
# Everything `make test` runs:
#   1. clang-format --dry-run -Werror over the tracked C++ files;
#   2. the plain build (benchmarks left out): C++ and Python tests;
# then, in two lanes side by side,
#   3. the C++ and Python tests again, built with AddressSanitizer and UBSan;
#   4. the install check, every fuzz target for a short smoke run on the corpus kept
#      in the repository, and the reference, memory-block and descriptor leak check
#      under the debug interpreter.
# The instrumented pytest run keeps one core busy for minutes and the fuzz and leak
# runs keep one each: the lanes let the other lane's builds use the core left idle.
# The sanitizer tests take longest, so the second lane yields the processor to them
# (nice 10): it finishes in the time they leave.
# Steps 1 and 2 stop the run at the first failure; each lane stops at its own first
# failure, and the run fails after both ended. The second lane's output is kept in
# BUILD_DIR/second-lane.log and printed after the first lane's.
# Each step keeps its own build directory (BUILD_DIR, -asan, -fuzz, -dbg), so a second
# run only rebuilds what changed.
#   scripts/test-all.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fuzz_seconds=${TARNVALE_FUZZ_SMOKE_SECONDS:-10}

step() { printf '\n== %s (at %d s)\n' "$*" "$SECONDS"; }

step "format"
"$here/check-format.sh"
step "tests"
# The benchmarks are built by make bench, and read by clang-tidy in make lint. The
# install check runs in the second lane.
TARNVALE_SKIP_INSTALL_CHECK=1 "$here/test.sh" "$build" -DTARNVALE_BUILD_BENCH=OFF

second_log=$build/second-lane.log
(
    renice -n 10 -p "$BASHPID" >/dev/null || true
    if [ -z "${TARNVALE_SKIP_INSTALL_CHECK:-}" ]; then
        step "install check"
        "$here/check-install.sh"
    fi
    step "fuzz smoke run, $fuzz_seconds s per target"
    "$here/fuzz.sh" "$build-fuzz" "$fuzz_seconds"
    step "reference leaks under the debug interpreter"
    "$here/refleak.sh" "$build-dbg"
    step "second lane passed"
) >"$second_log" 2>&1 &
second=$!

step "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
first_status=0
"$here/test.sh" "$build-asan" -DTARNVALE_SANITIZE=ON -DTARNVALE_BUILD_BENCH=OFF || first_status=$?
second_status=0
wait "$second" || second_status=$?
printf '\n== the second lane, run beside the sanitizer tests (%s)\n' "$second_log"
cat "$second_log"
if [ "$first_status" -ne 0 ] || [ "$second_status" -ne 0 ]; then
    printf '\n== failed: sanitizer tests status %d, second lane status %d\n' "$first_status" "$second_status"
    exit 1
fi
printf '\n== all passed in %d s\n' "$SECONDS"
