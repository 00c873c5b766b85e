#!/usr/bin/env bash
# Configures and builds everything into the given build directory.
#   scripts/build.sh BUILD_DIR [extra cmake arguments]
set -euo pipefail
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DTARNVALE_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
