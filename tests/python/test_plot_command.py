"""`tarnvale plot` at the command line: output files, their formats and size,
exit status and one-line messages for bad input, nothing half-written."""

from __future__ import annotations

import struct
from pathlib import Path
from typing import Any

import pytest
from plot_runs import quick_run
from rawfixture import demo_lc

pytest.importorskip("matplotlib")
from tarnvale_tools.cli import main  # noqa: E402


@pytest.fixture
def quick(write_raw: Any) -> str:
    return write_raw(quick_run())


def plot(capsys: Any, *args: str) -> tuple[int, str]:
    """Runs `tarnvale plot ARGS`; returns the exit status and stderr."""
    try:
        status = main(["plot", *args])
    except SystemExit as exit_:  # argparse rejects the arguments
        status = int(exit_.code or 0)
    return status, capsys.readouterr().err


def png_size(path: Path) -> tuple[int, int]:
    header = path.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n" and header[12:16] == b"IHDR"
    width, height = struct.unpack(">II", header[16:24])
    return width, height


def test_picture_of_an_lc_run_has_a_sane_size(tmp_path: Path, capsys: Any) -> None:
    run = demo_lc().write(tmp_path / "lcms.raw")
    output = tmp_path / "look.png"
    assert plot(capsys, str(run), "-o", str(output), "--xic", "524.2648", "--ppm", "30") == (0, "")
    width, height = png_size(output)
    assert width == 1440 and 1200 <= height <= 2400
    assert 30_000 <= output.stat().st_size <= 600_000
    assert output.stat().st_mode & 0o777 != 0o600  # the usual permissions, not a temporary file's
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []


@pytest.mark.parametrize(("name", "magic"), [("a.png", b"\x89PNG"), ("b.PDF", b"%PDF"), ("c.svg", b"<?xml")])
def test_format_follows_the_extension(quick: str, tmp_path: Path, capsys: Any, name: str, magic: bytes) -> None:
    assert plot(capsys, quick, "-o", str(tmp_path / name))[0] == 0
    assert (tmp_path / name).read_bytes().startswith(magic)


@pytest.mark.parametrize(
    ("args", "status", "message"),
    [
        (["{tmp}/none.raw"], 1, "'{tmp}/none.raw' is not a directory"),
        (["{run}", "--function", "7"], 1, "sample.raw has no function 7 (functions: 1, 2, 3)"),
        (["{run}", "--scan", "9"], 1, "function 1 of sample.raw has scans 0 to 4, not 9"),
        (["{run}", "--rt", "30"], 1, "retention time 30 min is outside function 1 of sample.raw"),
        (["{run}", "--rt", "nan"], 1, "retention time nan min is outside function 1"),
        (["{run}", "-o", "{tmp}/look.jpg"], 1, "cannot write {tmp}/look.jpg: the name must end in .png, .pdf or .svg"),
        (["{run}", "-o", "{tmp}/no/look.png"], 1, "cannot write {tmp}/no/look.png: No such file or directory"),
        (["{run}", "--xic", "-5"], 2, "argument --xic: must be a positive number, not '-5'"),
        (["{run}", "--xic", "0"], 2, "argument --xic: must be a positive number, not '0'"),
        (["{run}", "--xic", "x"], 2, "argument --xic: not a number: 'x'"),
        (["{run}", "--ppm", "inf"], 2, "argument --ppm: must be a positive number, not 'inf'"),
        (["{run}", "--function", "0"], 2, "argument --function: function numbers start at 1"),
        (["{run}", "--scan", "-1"], 2, "argument --scan: must not be negative, not '-1'"),
        (["{run}", "--scan", "1", "--rt", "0.2"], 2, "argument --rt: not allowed with argument --scan"),
    ],
)
def test_bad_input(quick: str, tmp_path: Path, capsys: Any, args: list[str], status: int, message: str) -> None:
    args = [arg.format(run=quick, tmp=tmp_path) for arg in args]
    code, stderr = plot(capsys, *args, *(["-o", str(tmp_path / "out.png")] if "-o" not in args else []))
    assert code == status
    # one line; argparse puts its usage before it
    assert len(stderr.splitlines()) == 1 or stderr.startswith("usage: tarnvale plot")
    assert stderr.splitlines()[-1].startswith(f"tarnvale plot: error: {message.format(tmp=tmp_path)}")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["sample.raw"]


def test_a_failed_write_leaves_the_old_picture(quick: str, tmp_path: Path, capsys: Any, monkeypatch: Any) -> None:
    from matplotlib.figure import Figure

    def fail_halfway(self: Figure, path: Path, **_: Any) -> None:
        Path(path).write_bytes(b"\x89PNG half")
        raise OSError(28, "No space left on device")

    output = tmp_path / "look.png"
    output.write_bytes(b"old picture")
    monkeypatch.setattr(Figure, "savefig", fail_halfway)
    assert plot(capsys, quick, "-o", str(output)) == (1, f"tarnvale plot: error: cannot write {output}: No space left on device\n")
    assert output.read_bytes() == b"old picture"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["look.png", "sample.raw"]


def test_without_matplotlib(quick: str, run_fresh: Any) -> None:
    code = """
        import sys
        sys.modules["matplotlib"] = sys.modules["numpy"] = None  # importing either fails
        import tarnvale_tools.cli
        sys.exit(tarnvale_tools.cli.main(["plot", sys.argv[1]]))
    """
    done = run_fresh(code, quick)
    assert (done.returncode, done.stderr) == (2, "tarnvale plot needs matplotlib: pip install 'tarnvale[plot]'\n")


def test_runs_as_a_module(quick: str, tmp_path: Path, run_fresh: Any) -> None:
    output = tmp_path / "look.svg"
    done = run_fresh("import runpy; runpy.run_module('tarnvale_tools', run_name='__main__')", "plot", quick, "-o", str(output))
    assert (done.returncode, done.stdout, done.stderr) == (0, f"wrote {output}\n", "")
