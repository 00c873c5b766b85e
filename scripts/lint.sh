#!/usr/bin/env bash
# Static checks of the tracked C++ files; fails on the first kind that finds anything:
#   1. clang-format: every file is formatted as `make format` leaves it;
#   2. layers: no include in src/ points to a layer above the including file's,
#      and nothing in src/ includes the Python bindings;
#   3. clang-tidy with the checks of .clang-tidy, over a clang compilation
#      database of every target (the fuzz targets included).
#   scripts/lint.sh BUILD_DIR
set -euo pipefail
build=${1:-build-lint}
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The core's layers from the bottom up; src/ itself is the base layer. A new
# layer directory goes here in its place.
layers=(base raw reader processing columns mzml export)

scripts/check-format.sh

rank_of() {
    local i
    for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
    echo -1
}

echo "lint: layering of src/"
status=0
while IFS= read -r file; do
    dir=$(dirname "${file#src/}")
    [ "$dir" = . ] && dir=base
    own=$(rank_of "$dir")
    if [ "$own" -lt 0 ]; then
        echo "$file: src/$dir is not among the layers listed in scripts/lint.sh"; status=1; continue
    fi
    while IFS= read -r included; do
        top=${included%%/*}
        [ "$top" = "$included" ] && top=base
        case $top in common | tarnvale | tools_ext)
            echo "$file includes the binding header $included"; status=1; continue ;;
        esac
        rank=$(rank_of "$top")
        if [ "$rank" -gt "$own" ]; then
            echo "$file (layer $dir) includes $included from the higher layer $top"
            status=1
        fi
    done < <(sed -n 's/^#include "\(.*\)"/\1/p' "$file")
done < <(git ls-files 'src/*.cpp' 'src/*.hpp')
[ $status -eq 0 ] || exit $status

echo "lint: clang-tidy"
# No precompiled header: clang-tidy reads each file as written, and nothing is built here.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTARNVALE_BUILD_FUZZ=ON \
    -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON >/dev/null
run-clang-tidy -p "$build" -quiet -j "$(nproc)" >"$build/clang-tidy.log" 2>&1 || {
    grep -E -A 4 'warning:|error:' "$build/clang-tidy.log" | head -n 200
    echo "lint: clang-tidy found problems (full log: $build/clang-tidy.log)"
    exit 1
}
echo "lint: clean"
