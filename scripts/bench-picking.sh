#!/usr/bin/env bash
# tarnvale's peak picking beside OpenMS's PeakPickerHiRes (bench/picking_vs_openms.py):
# the spectra are written and picked by tarnvale in the toolchain root, then picked by
# pyopenms on the host's Python 3.11 (scripts/pyopenms-check.sh --run), one thread each.
# `make bench` runs it after the other benchmarks.
#   scripts/bench-picking.sh BUILD_DIR      (SPECTRA, default 1000, and PEAKS, default 40: the size)
set -euo pipefail
build=${1:-build-bench}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
out=$top/$build/picking-bench
bench=$top/bench/picking_vs_openms.py
in_root() {
    "$here/toolchain.sh" run env PYTHONPATH="$top/$build/python" SPECTRA="${SPECTRA:-1000}" PEAKS="${PEAKS:-40}" \
        python3 "$bench" "$@"
}
on_host() { OMP_NUM_THREADS=1 "$here/pyopenms-check.sh" --run "$bench" "$@"; }
in_root prepare "$out"
# The two sides take turns, three rounds each; every figure is the best of all rounds.
for _ in 1 2; do
    on_host time-openms "$out"
    in_root time "$out"
done
on_host compare "$out"
