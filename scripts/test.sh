#!/usr/bin/env bash
# Builds and runs every test: the core's GoogleTest suite, the Python module's
# pytest suite, and an install of the package into a fresh virtual environment.
#   scripts/test.sh BUILD_DIR [extra cmake arguments]
set -euo pipefail
build=${1:-build}
shift || true
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/build.sh" "$build" "$@"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
if [ -d tests/python ] && compgen -G "$build/python/tarnvale*.so" >/dev/null; then
    PYTHONPATH="$PWD/$build/python" python3 -m pytest -q tests/python
fi
if [ -f pyproject.toml ] && [ -z "${TARNVALE_SKIP_INSTALL_CHECK:-}" ]; then
    "$here/check-install.sh"
fi
