#!/usr/bin/env bash
# Configures and builds everything into the given build directory.
#   scripts/build.sh BUILD_DIR [extra cmake arguments]
# Build type: RelWithDebInfo, the CMakeLists default, unless the arguments name
# another, with line tables only (-O2 -g1). make build, test, unit and demo build
# this way: the code optimised as it ships, and every frame of a failure's backtrace
# or a sanitizer's report with its file and line; full debug information would add a
# quarter to the optimised files' compile time.
set -euo pipefail
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DTARNVALE_WERROR=ON "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
