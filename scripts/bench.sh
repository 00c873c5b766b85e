#!/usr/bin/env bash
# Builds the benchmarks optimised and runs every one of them.
#   scripts/bench.sh BUILD_DIR [benchmark arguments]
# Build type: Release (-O3), the one pip install . uses (pyproject.toml), so that the
# figures are those of the installed module.
set -euo pipefail
build=${1:-build-bench}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNVALE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
# The benchmarks' synthetic directories (up to a few GB) go to the build directory, on disk.
export TMPDIR="$PWD/$build/tmp"
mkdir -p "$TMPDIR"
for program in "$build"/bench_*; do
    [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program" "$@"
done
if compgen -G "$build/python/tarnvale*.so" >/dev/null; then
    echo "== end_to_end.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/end_to_end.py
    echo "== tools_end_to_end.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/tools_end_to_end.py
    echo "== export_vs_psims.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/export_vs_psims.py
    echo "== processing.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/processing.py
    echo "== view.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/view.py
    echo "== compact_mzml.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/compact_mzml.py --bench-export "$build/bench_export"
    echo "== export_skipping.py"
    PYTHONPATH="$PWD/$build/python" python3 bench/export_skipping.py --bench-export "$build/bench_export"
fi
