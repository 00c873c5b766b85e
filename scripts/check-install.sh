#!/usr/bin/env bash
# Installs the package from the checkout into a fresh virtual environment, as a
# user would, and checks the installation from outside the checkout: the module
# imports from the environment, its type stubs are installed and agree with the
# module, the example passes `mypy --strict` against them, and the example runs
# on a synthetic directory. Writes nothing into the checkout.
#   scripts/check-install.sh
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset PYTHONPATH

# System site packages give the environment the distribution's scikit-build-core,
# CMake, Ninja and mypy; no build isolation, so nothing is downloaded.
python3 -m venv --system-site-packages "$work/venv"
py=$work/venv/bin/python
"$py" -m pip install --quiet --no-build-isolation --no-deps --no-cache-dir "$top"

cd "$work"
"$py" - <<'PY'
import pathlib
import sys
import sysconfig

import tarnvale

site = pathlib.Path(sysconfig.get_paths()["platlib"])
module = pathlib.Path(tarnvale.__file__)
assert module.parent == site, f"tarnvale imported from {module}, not from {site}"
stub = site / "tarnvale-stubs" / "__init__.pyi"
assert stub.is_file(), f"{stub} is not installed"
assert tarnvale.__all__[0] == "RawReader"
# The wheel holds the module, the stubs and its metadata, nothing else.
from importlib.metadata import files
installed = sorted(str(f) for f in files("tarnvale") or [] if ".dist-info/" not in str(f))
assert installed == sorted([module.name, "tarnvale-stubs/__init__.pyi"]), installed
print(f"check-install: {module.name} and tarnvale-stubs installed in {site}")
PY
"$py" -m mypy.stubtest tarnvale
"$py" -m mypy --strict --cache-dir "$work/mypy-cache" "$top/examples"
"$py" "$top/scripts/rawfixture.py" demo "$work/demo" >/dev/null
"$py" "$top/examples/inspect_raw.py" "$work/demo/sample.raw" >/dev/null
echo "check-install: import, stubs, mypy --strict on examples and the example run all pass"
