#!/usr/bin/env bash
# Builds and runs every test: the core's GoogleTest suite, the Python module's
# pytest suite, and an install of the package into a fresh virtual environment.
#   scripts/test.sh BUILD_DIR [extra cmake arguments]
# Build type: that of scripts/build.sh (RelWithDebInfo, -O2 -g1, unless the
# arguments say otherwise); the install check builds Release, as pip install . does.
set -euo pipefail
build=${1:-build}
shift || true
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/build.sh" "$build" "$@"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
if [ -d tests/python ] && compgen -G "$build/python/tarnvale*.so" >/dev/null; then (
    markers=()
    if grep -q '^TARNVALE_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
        # An instrumented extension needs the sanitizer runtimes loaded first; the
        # interpreter's own allocations at exit are not ours to report.
        runtimes="$(c++ -print-file-name=libasan.so) $(c++ -print-file-name=libubsan.so)"
        export LD_PRELOAD="$runtimes" ASAN_OPTIONS=detect_leaks=0
        # The Dask cluster test checks Python's batching, not the extension's memory.
        markers=(-m "not cluster")
    fi
    # A test that hangs fails after five minutes instead of holding the run.
    timeout=()
    python3 -c 'import pytest_timeout' 2>/dev/null && timeout=(--timeout=300)
    PYTHONPATH="$PWD/$build/python" python3 -m pytest -q "${timeout[@]}" "${markers[@]}" tests/python
) fi
# The install check builds its own, plain wheel: a sanitizer build has nothing to add to it.
if [ -f pyproject.toml ] && [ -z "${TARNVALE_SKIP_INSTALL_CHECK:-}" ] &&
    ! grep -q '^TARNVALE_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
    "$here/check-install.sh"
fi
