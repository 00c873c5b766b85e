#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while. Each target starts
# from the corpus kept in the repository (fuzz/corpus/TARGET: seeds from the fixture
# writer and every finding, kept as a regression input), which it only reads, and
# grows a corpus of its own under the build directory. A failing target leaves its
# input in BUILD_DIR/artifacts/ and makes the script fail after the remaining targets
# ran; keep the input in fuzz/corpus/TARGET/finding-<what> once the fault is fixed.
#   scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Line tables only (-g1), as scripts/build.sh: a crash's report names every file and line.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DTARNVALE_WERROR=ON -DTARNVALE_BUILD_FUZZ=ON \
    -DTARNVALE_BUILD_TESTS=OFF -DTARNVALE_BUILD_BENCH=OFF -DTARNVALE_BUILD_PYTHON=OFF >/dev/null
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in "$top"/fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
build=$(cd "$build" && pwd)
mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    kept="$top/fuzz/corpus/$target"
    log="$build/fuzz_$target.log"
    mkdir -p "$corpus"
    inputs=("$corpus")
    [ -d "$kept" ] && inputs+=("$kept")
    # 16 KiB holds dozens of records of every file kind, enough to reach every branch.
    if "$build/fuzz_$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "${inputs[@]}" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: $runs runs in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs"
    else
        echo "fuzz_$target: FAILED (full log: $log)"
        grep -E -A 25 'ERROR:|deadly signal|Test unit written' "$log" | head -n 60 || true
        status=1
    fi
done
exit $status
