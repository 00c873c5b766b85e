#!/usr/bin/env bash
# Builds the module, writes two synthetic .raw directories (a SYNAPT run with
# functions in encodings A, B and D plus chromatogram channels, and a Xevo run
# in encoding C) and prints what the example inspector reads from them.
#   scripts/demo.sh BUILD_DIR
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
