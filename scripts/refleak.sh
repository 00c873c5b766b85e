#!/usr/bin/env bash
# Builds the extension module for the debug interpreter (python3.14-dbg, whose headers
# need Py_DEBUG defined explicitly) and runs the reference, memory-block and
# descriptor leak check over every public call, once per logging mode.
#   scripts/refleak.sh BUILD_DIR
set -euo pipefail
build=${1:-build-dbg}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
py=$(command -v python3.14-dbg || command -v python3.14d) || {
    echo "refleak: needs the debug interpreter python3.14-dbg" >&2
    exit 1
}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNVALE_WERROR=ON -DTARNVALE_BUILD_TESTS=OFF \
    -DTARNVALE_BUILD_BENCH=OFF -DPython_EXECUTABLE="$py" -DCMAKE_CXX_FLAGS=-DPy_DEBUG >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarnvale
for mode in quiet logging failing; do
    PYTHONPATH="$build/python" "$py" "$top/tests/leaks/check_refcounts.py" "$mode"
done
