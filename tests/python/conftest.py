"""Shared fixtures: the fixture writer on sys.path, and builders that write
.raw directories into the test's temporary directory."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from collections.abc import Callable
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SCRIPTS = HERE.parent.parent / "scripts"
for entry in (str(SCRIPTS), str(HERE)):
    if entry not in sys.path:
        sys.path.insert(0, entry)

import samples  # noqa: E402  (needs the paths above)
from rawfixture import RawDir  # noqa: E402

WriteRaw = Callable[..., str]


@pytest.fixture
def write_raw(tmp_path: Path) -> WriteRaw:
    """write_raw(description, name="sample.raw") -> path string of the new directory."""

    def write(description: RawDir, name: str = "sample.raw") -> str:
        return str(description.write(tmp_path / name))

    return write


@pytest.fixture
def open_raw(write_raw: WriteRaw) -> Callable[..., object]:
    """open_raw(description, name="sample.raw") -> a RawReader over the written directory."""
    import tarnvale

    return lambda description, name="sample.raw": tarnvale.RawReader(write_raw(description, name))


@pytest.fixture
def sample_path(write_raw: WriteRaw) -> str:
    return write_raw(samples.sample())


@pytest.fixture
def sample_reader(sample_path: str):
    import tarnvale

    return tarnvale.RawReader(sample_path)


def _module_dir() -> str:
    import tarnvale

    return os.path.dirname(os.path.abspath(tarnvale.__file__))


@pytest.fixture
def run_fresh() -> Callable[..., subprocess.CompletedProcess[str]]:
    """run_fresh(code, *args, extra_path=(), prefix=(), timeout=120): runs `code` in a
    new interpreter that imports the same tarnvale module, the fixture writer and the
    sample descriptions, the command line starting with `prefix`; returns the
    completed process."""

    def run(
        code: str, *args: str, extra_path: tuple[str, ...] = (), prefix: tuple[str, ...] = (), timeout: float = 120
    ) -> subprocess.CompletedProcess[str]:
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join([_module_dir(), str(SCRIPTS), str(HERE), *extra_path])
        command = [*prefix, sys.executable, "-c", textwrap.dedent(code), *args]
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)

    return run


def pytest_configure(config: pytest.Config) -> None:
    # scripts/test.sh leaves these out of the sanitizer run: they start processes and
    # check nothing the plain run does not.
    config.addinivalue_line("markers", "cluster: starts a local Dask cluster; runs once per `make test`")
