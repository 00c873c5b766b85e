#!/usr/bin/env bash
# Builds the module, writes three synthetic .raw directories (a SYNAPT run with
# functions in encodings A, B and D plus chromatogram channels, a Xevo run in
# encoding C and a SYNAPT LC-IMS run), prints what the example inspector reads
# from the first two, draws the quick-look picture of the LC run
# (BUILD_DIR/quicklook.png) with its lock mass's drift, prints that drift before and
# after correction, converts the three runs to mzML (BUILD_DIR/demo-mzml) and the LC
# run once more with its peaks picked and its lock mass corrected, and prints each
# validator's verdict on them. The Makefile's demo target then runs
# pyopenms on them, outside the toolchain root (scripts/pyopenms-check.sh).
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

# The quick-look picture of the LC run (README and docs/cli.md show a copy, docs/quicklook.png),
# with the lock mass's error over the lock-mass function's panel.
printf '\n$ tarnvale plot %s/lcms.raw -o %s/quicklook.png --xic 420.7321 524.2648 785.8426 --ppm 30 --lock-mass leu-enk\n\n' "$demo" "$build"
python3 -m tarnvale_tools plot "$demo/lcms.raw" -o "$build/quicklook.png" --xic 420.7321 524.2648 785.8426 --ppm 30 \
    --lock-mass leu-enk

# The LC run drifts by -20 to +20 ppm; its lock mass, before and after correction.
printf '\n$ tarnvale info %s/lcms.raw --lock-mass leu-enk   (the last 4 lines)\n\n' "$demo"
python3 -m tarnvale_tools info "$demo/lcms.raw" --lock-mass leu-enk | tail -n 4

# The three runs as indexed mzML, and what the validators make of them.
mzml=$build/demo-mzml
rm -rf "$mzml"
printf '\n$ tarnvale convert %s/sample.raw %s/xevo.raw %s/lcms.raw -o %s --jobs 2\n\n' "$demo" "$demo" "$demo" "$mzml"
python3 -m tarnvale_tools convert "$demo/sample.raw" "$demo/xevo.raw" "$demo/lcms.raw" -o "$mzml" --jobs 2
# The LC run once more, its profile peaks picked and its m/z corrected by the lock mass.
picked=$build/demo-picked
rm -rf "$picked"
printf '\n$ tarnvale convert %s/lcms.raw -o %s --jobs 2 --centroid --lock-mass leu-enk\n\n' "$demo" "$picked"
python3 -m tarnvale_tools convert "$demo/lcms.raw" -o "$picked" --jobs 2 --centroid --lock-mass leu-enk
cp "$picked/lcms.mzML" "$mzml/lcms-centroid-lockmass.mzML"
printf '\n$ tarnvale info %s/lcms.raw --json   (the first 24 lines)\n\n' "$demo"
python3 -m tarnvale_tools info "$demo/lcms.raw" --json >"$build/lcms-info.json"
head -n 24 "$build/lcms-info.json"
printf '\nValidators\n\n'
PYTHONPATH="$PYTHONPATH:$here" python3 "$here/mzml_verdicts.py" \
    "$demo/sample.raw" "$mzml/sample.mzML" "$demo/xevo.raw" "$mzml/xevo.mzML" "$demo/lcms.raw" "$mzml/lcms.mzML" \
    "$demo/lcms.raw" "$mzml/lcms-centroid-lockmass.mzML"
