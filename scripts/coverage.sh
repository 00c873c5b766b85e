#!/usr/bin/env bash
# Builds with gcov instrumentation, runs the C++ and the Python tests, and prints
# the line coverage of src/ and python/ per file and in total.
#   scripts/coverage.sh BUILD_DIR
set -euo pipefail
build=${1:-build-coverage}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNVALE_COVERAGE=ON -DTARNVALE_BUILD_BENCH=OFF >/dev/null
find "$build" -name '*.gcda' -delete 2>/dev/null || true # counts of an earlier build
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j "$(nproc)" >/dev/null
PYTHONPATH="$PWD/$build/python" python3 -m pytest -q tests/python >/dev/null
gcovr --root . --object-directory "$build" --filter 'src/' --filter 'python/' --exclude-unreachable-branches \
    --json "$build/coverage.json" "$build" >/dev/null
gcovr --add-tracefile "$build/coverage.json" --txt --sort uncovered-number
for part in src python; do
    printf '%-8s' "$part/:"
    gcovr --add-tracefile "$build/coverage.json" --filter "$part/" --print-summary --txt /dev/null | grep '^lines:'
done
