#!/usr/bin/env bash
# Configures and builds everything into the given build directory.
#   scripts/build.sh BUILD_DIR [extra cmake arguments]
# Build type: RelWithDebInfo (-O2 -g), the CMakeLists default, unless the arguments
# name another. make build, test, unit and demo build this way: the code optimised
# as it ships, with the debug information a failing test needs.
set -euo pipefail
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DTARNVALE_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
