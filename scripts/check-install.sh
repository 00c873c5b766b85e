#!/usr/bin/env bash
# Installs the package from the checkout into a fresh virtual environment, as a
# user would, and checks the installation from outside the checkout: the module
# and the tarnvale_tools package import from the environment, the type stubs are
# installed and agree with the extensions, tarnvale_tools and the examples pass
# `mypy --strict`, and the examples and the `tarnvale` command run on synthetic
# directories. Writes nothing into the checkout.
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
"$py" - "$top" <<'PY'
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
# The wheel holds the module, the stubs, the tarnvale_tools package, the `tarnvale`
# command (outside site-packages) and its metadata, nothing else; pip adds bytecode.
from importlib.metadata import files
import tarnvale_tools
import tarnvale_tools._core as core

tools_dir = pathlib.Path(tarnvale_tools.__file__).parent
assert tools_dir == site / "tarnvale_tools", f"tarnvale_tools imported from {tools_dir}"
source = pathlib.Path(sys.argv[1]) / "python" / "tarnvale_tools"
tools = [
    str(p.relative_to(source)) for p in source.rglob("*")
    if p.is_file() and (p.suffix in (".py", ".pyi") or p.name == "py.typed" or p.parent.name == "static")
    and "__pycache__" not in p.parts
]
tools.append(pathlib.Path(core.__file__).name)
installed = sorted(str(f) for f in files("tarnvale") or [] if ".dist-info/" not in str(f) and "__pycache__" not in str(f))
expected = [module.name, "tarnvale-stubs/__init__.pyi", "../../../bin/tarnvale"] + [f"tarnvale_tools/{t}" for t in tools]
assert installed == sorted(expected), installed
# The viewer finds its page's files, and plotly's script, as installed.
from tarnvale_tools.view.app import STATIC_FILES, static_file, static_file_text

assert "{{TOKEN}}" in static_file_text("index.html")
assert all(static_file(name) for name in STATIC_FILES)
print(f"check-install: {module.name}, tarnvale-stubs and tarnvale_tools installed in {site}")
PY
"$py" -m mypy.stubtest tarnvale tarnvale_tools._core
"$py" -m mypy --strict --cache-dir "$work/mypy-cache" -p tarnvale_tools
"$py" -m mypy --strict --cache-dir "$work/mypy-cache" "$top/examples"
"$py" "$top/scripts/rawfixture.py" demo "$work/demo" >/dev/null
"$py" "$top/examples/inspect_raw.py" "$work/demo/sample.raw" >/dev/null
"$py" "$top/examples/whole_run_numpy.py" "$work/demo/sample.raw" >/dev/null
"$work/venv/bin/tarnvale" plot "$work/demo/lcms.raw" -o "$work/quicklook.png" >/dev/null
"$work/venv/bin/tarnvale" convert "$work/demo/sample.raw" "$work/demo/lcms.raw" -o "$work/mzml" >/dev/null
test -s "$work/mzml/sample.mzML" && test -s "$work/mzml/lcms.mzML"
"$work/venv/bin/tarnvale" info "$work/demo/lcms.raw" --json | "$py" -c 'import json, sys; json.load(sys.stdin)'
"$work/venv/bin/tarnvale" view --help >/dev/null
echo "check-install: imports, stubs, mypy --strict on tarnvale_tools and the examples, the example runs, tarnvale plot, convert, info and view all pass"
