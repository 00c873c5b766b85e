#!/usr/bin/env bash
# Installs the package from the checkout into a fresh virtual environment, as a
# user would, and checks the installation from outside the checkout: the module
# and the tarnvale_tools package import from the environment, the type stubs are
# installed and agree with the extensions, tarnvale_tools and the examples pass
# `mypy --strict`, and the examples run on a synthetic directory. Writes nothing
# into the checkout.
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
import tarnvale_tools
import tarnvale_tools._core as core

tools = pathlib.Path(tarnvale_tools.__file__).parent
assert tools == site / "tarnvale_tools", f"tarnvale_tools imported from {tools}"
# The wheel holds the module, the stubs, the tools package and the metadata, nothing else.
from importlib.metadata import files
# (pip adds the bytecode it compiles at install time)
installed = sorted(str(f) for f in files("tarnvale") or [] if ".dist-info/" not in str(f) and "__pycache__" not in str(f))
package = ["__init__.py", "_core.pyi", "py.typed", pathlib.Path(core.__file__).name]
expected = [module.name, "tarnvale-stubs/__init__.pyi"] + [f"tarnvale_tools/{name}" for name in package]
assert installed == sorted(expected), installed
print(f"check-install: {module.name}, tarnvale-stubs and tarnvale_tools installed in {site}")
PY
"$py" -m mypy.stubtest tarnvale tarnvale_tools._core
"$py" -m mypy --strict --cache-dir "$work/mypy-cache" -p tarnvale_tools
"$py" -m mypy --strict --cache-dir "$work/mypy-cache" "$top/examples"
"$py" "$top/scripts/rawfixture.py" demo "$work/demo" >/dev/null
"$py" "$top/examples/inspect_raw.py" "$work/demo/sample.raw" >/dev/null
"$py" "$top/examples/whole_run_numpy.py" "$work/demo/sample.raw" >/dev/null
echo "check-install: imports, stubs, mypy --strict on tarnvale_tools and the examples, and the example runs all pass"
