#!/usr/bin/env bash
# Everything `make test` runs, one step after the other, stopping at the first failure:
#   1. clang-format --dry-run -Werror over the tracked C++ files;
#   2. the plain build (benchmarks left out): C++ and Python tests, install check;
#   3. the C++ and Python tests again, built with AddressSanitizer and UBSan;
#   4. every fuzz target for a short smoke run on the corpus kept in the repository;
#   5. the reference, memory-block and descriptor leak check under the debug interpreter.
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
# The benchmarks are built by make bench, and read by clang-tidy in make lint.
"$here/test.sh" "$build" -DTARNVALE_BUILD_BENCH=OFF
step "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
"$here/test.sh" "$build-asan" -DTARNVALE_SANITIZE=ON -DTARNVALE_BUILD_BENCH=OFF
step "fuzz smoke run, $fuzz_seconds s per target"
"$here/fuzz.sh" "$build-fuzz" "$fuzz_seconds"
step "reference leaks under the debug interpreter"
"$here/refleak.sh" "$build-dbg"
printf '\n== all passed in %d s\n' "$SECONDS"
