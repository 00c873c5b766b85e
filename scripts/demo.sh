#!/usr/bin/env bash
# Builds the module, writes three synthetic .raw directories (a SYNAPT run with
# functions in encodings A, B and D plus chromatogram channels, a Xevo run in
# encoding C and a SYNAPT LC-IMS run), prints what the example inspector reads
# from the first two and draws the quick-look picture of the LC run
# (BUILD_DIR/quicklook.png).
#   scripts/demo.sh BUILD_DIR
# Build type: that of scripts/build.sh (RelWithDebInfo), sharing the test build.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"
"$here/build.sh" "$build"

demo=$build/demo
python3 scripts/rawfixture.py demo "$demo" >/dev/null
export PYTHONPATH="$top/$build/python"
run() {
    printf '\n$ python3 examples/inspect_raw.py %s\n\n' "$*"
    python3 examples/inspect_raw.py "$@"
}
run "$demo/sample.raw"
run "$demo/sample.raw" --function 2 --scan 2
run "$demo/xevo.raw" --scan 3

# The quick-look picture of the LC run (README shows a copy, docs/quicklook.png).
printf '\n$ tarnvale plot %s/lcms.raw -o %s/quicklook.png --xic 420.7321 524.2648 785.8426 --ppm 30\n\n' "$demo" "$build"
python3 -m tarnvale_tools plot "$demo/lcms.raw" -o "$build/quicklook.png" --xic 420.7321 524.2648 785.8426 --ppm 30
