#!/usr/bin/env bash
# Loads every *.mzML and *.mzML.gz in DIR with pyopenms and runs its semantic
# validator, and decodes every MS-Numpress array with pynumpress, an implementation
# independent of ours (scripts/pyopenms_check.py). pyopenms and pynumpress publish
# wheels only for older Pythons, so this runs outside the toolchain root on the
# host's own Python 3.11, in a virtual environment created once and cached outside
# the checkout. `make test` runs it on the samples the in-root tests wrote into the
# build directory.
#   scripts/pyopenms-check.sh DIR
#   scripts/pyopenms-check.sh --run SCRIPT [ARGUMENTS]   (any script, on the same environment)
# TARNVALE_PYOPENMS_PYTHON names another interpreter; TARNVALE_SKIP_PYOPENMS=1 skips
# the check on a machine without one.
set -euo pipefail
dir=${1:?usage: scripts/pyopenms-check.sh DIR | --run SCRIPT [ARGUMENTS]}
run=()
[ "$dir" = --run ] && run=("${@:2}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pyopenms_version=3.6.0
pynumpress_version=0.1.5
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tarnvale
venv=$cache/pyopenms-venv
python=${TARNVALE_PYOPENMS_PYTHON:-python3.11}

log() { printf 'pyopenms-check: %s\n' "$*" >&2; }

if [ -n "${TARNVALE_SKIP_PYOPENMS:-}" ]; then
    log "skipped (TARNVALE_SKIP_PYOPENMS is set)"
    exit 0
fi

venv_is_current() {
    [ -x "$venv/bin/python" ] && "$venv/bin/python" -c "
import sys, importlib.metadata as m, pyopenms, pynumpress
sys.exit(pyopenms.__version__ != '$pyopenms_version' or m.version('pynumpress') != '$pynumpress_version')" \
        2>/dev/null
}

# Built beside the final place and moved in whole, so that an interrupted
# installation is never taken for a finished one.
create_venv() {
    command -v "$python" >/dev/null 2>&1 || {
        log "$python not found: pyopenms $pyopenms_version and pynumpress need Python 3.11 on the host"
        return 1
    }
    log "creating $venv with pyopenms $pyopenms_version and pynumpress $pynumpress_version"
    rm -rf "$venv.new"
    "$python" -m venv "$venv.new"
    "$venv.new/bin/python" -m pip install --quiet --disable-pip-version-check \
        "pyopenms==$pyopenms_version" "pynumpress==$pynumpress_version"
    rm -rf "$venv"
    mv "$venv.new" "$venv"
}

mkdir -p "$cache"
(
    flock 9
    venv_is_current || create_venv
) 9>"$cache/.pyopenms-venv.lock"
[ ${#run[@]} -gt 0 ] && exec "$venv/bin/python" "${run[@]}"
exec "$venv/bin/python" "$here/pyopenms_check.py" "$dir"
