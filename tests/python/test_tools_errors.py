"""tarnvale_tools on bad input and bad arguments, its log records, and its use
without numpy: clear errors with the reader's own messages, never a crash or a hang."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest
import samples
import tools_samples
from samples import runtime_error

import tarnvale
import tarnvale_tools as tt


def _not_a_directory(tmp_path: Path) -> str:
    (tmp_path / "plain").write_bytes(b"")
    return str(tmp_path / "plain")


def _no_header(tmp_path: Path) -> str:
    raw = samples.sample()
    raw.names["_HEADER.TXT"] = None
    return str(raw.write(tmp_path / "noheader.raw"))


def _no_index(tmp_path: Path) -> str:
    raw = samples.sample()
    raw.functions[0].index_bytes = bytes(50)
    return str(raw.write(tmp_path / "badindex.raw"))


@pytest.mark.parametrize("directory", [_not_a_directory, _no_header, _no_index])
def test_opening_fails_like_the_reader(tmp_path: Path, directory) -> None:
    path = directory(tmp_path)
    assert runtime_error(lambda: tt.Run(path)) == runtime_error(lambda: tarnvale.RawReader(path))


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda run: run.columns(4), RuntimeError, "function 4 not found"),
        (lambda run: run.tic(0), RuntimeError, "function 0 not found"),
        (lambda run: run.columns(-1), OverflowError, "can't convert negative int to unsigned"),
        (lambda run: run.columns("1"), TypeError, "'str' object cannot be interpreted as an integer"),
        (lambda run: run.columns(1, threads=0), ValueError, "threads must be at least 1"),
        (lambda run: run.columns(1, on_error="ignore"), ValueError, "on_error must be 'fail' or 'skip', not 'ignore'"),
        (lambda run: run.columns(1, on_error=None), TypeError, "on_error must be 'fail' or 'skip', not NoneType"),
        # The extension's own argument binding, under the Python layer.
        (lambda run: run._run.columns(), TypeError, "Run.columns() missing required argument 'func_index' (pos 1)"),
        (lambda run: run._run.columns(1, 1, "fail", *[None] * 8), TypeError, "Run.columns() takes at most 10 arguments (11 given)"),
        (lambda run: run._run.columns(1, thread=2), TypeError, "Run.columns() got an unexpected keyword argument 'thread'"),
        (lambda run: run._run.read_chrom(), TypeError, "Run.read_chrom() missing required argument 'channel_index'"),
        (lambda run: tt._core.Run(path=3), TypeError, "Run() argument 'path' must be str, not int"),
        (lambda run: run.xic(1, [500.0]), TypeError, "Run.chromatograms() takes the width of the targets as either ppm= or da="),
        (lambda run: run.xic(1, [500.0], ppm=5, da=1), TypeError, "either ppm= or da="),
        (lambda run: run.xic(1, [500.0], ppm=-5), ValueError, "ppm must be finite and >= 0, not -5.0"),
        (lambda run: run.xic(1, [float("nan")], da=1), ValueError, "targets must be finite, not nan"),
        (lambda run: run.xic(1, [500.0, 600.0], da=[1.0]), ValueError, "da holds 1 values for 2 targets"),
        (lambda run: run.xic(1, ["500"], da=1), TypeError, "must be real number, not str"),
        (lambda run: run.xic(1, 500.0, da=1), TypeError, "targets must be a sequence of m/z values"),
        (lambda run: run.read_chrom(7), RuntimeError, "CHRO file 10 not found"),
        (lambda run: run.columns(1).scan(3), IndexError, "scan 3 out of range (3 scans)"),
        (lambda run: run.columns(1).xic([1.0], ppm="5"), TypeError, "must be real number, not str"),
    ],
)
def test_bad_arguments(sample_path: str, call, error: type[Exception], message: str) -> None:
    with pytest.raises(error) as caught:
        call(tt.Run(sample_path))
    assert type(caught.value) is error
    assert message in str(caught.value)


def _vanish(dat: Path) -> None:
    dat.unlink()


def _shrink(dat: Path) -> None:
    os.truncate(dat, dat.stat().st_size // 2)


@pytest.mark.parametrize("change", [_vanish, _shrink])
@pytest.mark.parametrize("threads", [1, 2, 8])
def test_a_data_file_changed_after_opening_fails_like_decoding_each_scan(write_raw, change, threads: int) -> None:
    path = write_raw(tools_samples.random_raw("A", 5, damaged=False))
    run, reader = tt.Run(path), tarnvale.RawReader(path)
    change(Path(path) / "_FUNC001.DAT")
    failing = []
    for scan in range(reader.n_scans(1)):
        try:
            reader.read_spectrum(1, scan)
        except RuntimeError as error:
            failing.append((scan, str(error)))
    assert failing
    assert runtime_error(lambda: run.columns(1, threads=threads)) == failing[0][1]
    assert runtime_error(lambda: run.xic(1, [500.0], da=1.0, threads=threads)) == failing[0][1]
    assert run.columns(1, threads=threads, on_error="skip").skipped == [scan for scan, _ in failing]


def test_a_fifo_in_place_of_the_data_file_fails_at_once(child_json) -> None:
    # In a child, so that a read that waited for a writer could not stop the test run.
    (result,) = child_json(
        """
        import os, tarnvale, tarnvale_tools as tt
        path = samples.sample().write(OUT / "fifo.raw")
        run, reader = tt.Run(str(path)), tarnvale.RawReader(str(path))
        dat = path / "_FUNC001.DAT"
        dat.unlink()
        os.mkfifo(dat)
        try:
            reader.read_spectrum(1, 0)
        except RuntimeError as error:
            messages = [str(error)]
        for threads in (1, 4):
            try:
                run.columns(1, threads=threads)
            except RuntimeError as error:
                messages.append(str(error))
            messages.append(run.tic(1, threads=threads, on_error="skip")[1].tolist())
        emit(messages)
        """
    )
    assert result[0].endswith("_FUNC001.DAT: not a regular file (FIFO)")
    assert result[1:] == [result[0], [0.0, 0.0, 0.0]] * 2


def test_log_records_reach_python_from_every_worker(child_json, tmp_path: Path) -> None:
    records, threads = child_json(
        """
        import logging, threading
        records = []
        class Collect(logging.Handler):
            def emit(self, record):
                records.append(record)
        logging.basicConfig(level=logging.DEBUG, handlers=[Collect()])
        import tarnvale_tools as tt
        raw = samples.sample()
        raw.functions[0].data_bytes = raw.functions[0].render_data()[:-3]
        run = tt.Run(str(raw.write(OUT / "log.raw")))
        run.columns(1, threads=3, on_error="skip")
        emit([[r.name, r.levelname, r.getMessage()] for r in records if r.name != "tarnvale.reader"])
        emit(len({r.thread for r in records if "scans" in r.getMessage() and ".." in r.getMessage()}))
        """
    )
    prefix = "function 1 scans "
    assert sorted(records[:3]) == [
        ["tarnvale.columns", "DEBUG", prefix + "0..1: 3 points"],
        ["tarnvale.columns", "DEBUG", prefix + "1..2: 0 points"],
        ["tarnvale.columns", "DEBUG", prefix + "2..3: 0 points"],
    ]
    assert records[3:] == [
        [
            "tarnvale.columns",
            "WARNING",
            "function 1: 1 scan(s) could not be decoded and are left empty; the first: "
            f"{tmp_path}/log.raw function 1 scan 1: parse error: Encoding A: scan size 9 is not a multiple of 6",
        ],
        ["tarnvale.columns", "DEBUG", "function 1: 3 scans, 3 points, 3 worker(s)"],
    ]
    assert threads == 3  # each worker logs from its own thread, with the interpreter lock released meanwhile


def test_works_without_numpy(child_json) -> None:
    (values,) = child_json(
        """
        import sys
        sys.modules["numpy"] = None  # importing numpy now fails
        import tarnvale_tools as tt
        run = tt.Run(str(samples.sample().write(OUT / "nonumpy.raw")))
        cols = run.columns(1)
        mz, intensity = cols.scan(1)
        emit([len(cols), mz.tolist(), memoryview(cols.intensity).cast("B").nbytes, run.tic(1)[1].tolist()])
        """
    )
    assert values[0] == 3 and len(values[1]) == 2 and values[2] == 4 * 5 and len(values[3]) == 3


@pytest.fixture
def child_json(run_fresh, tmp_path: Path):
    """child_json(code) -> the JSON values a fresh interpreter printed with emit(), one per line."""
    prelude = (
        "import json, sys\nfrom pathlib import Path\nimport samples\nOUT = Path(sys.argv[1])\n"
        "def emit(value):\n    print(json.dumps(value))\n"
    )

    def run(code: str) -> list[object]:
        import textwrap

        done = run_fresh(prelude + textwrap.dedent(code), str(tmp_path))
        assert done.returncode == 0, done.stderr
        return [json.loads(line) for line in done.stdout.splitlines()]

    return run
