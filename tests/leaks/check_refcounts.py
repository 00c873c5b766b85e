"""Reference, memory-block and file-descriptor leak check of every public call of
tarnvale, successful or failing, for the debug interpreter (python3.14-dbg, with the
module built against its headers and -DPy_DEBUG).

    python3.14-dbg tests/leaks/check_refcounts.py MODE

MODE decides what the logging bridge does with the records the calls emit: "quiet"
(the tarnvale loggers drop everything), "logging" (every record down to DEBUG is
formatted by a handler) or "failing" (a filter raises, so every record is reported
as unraisable). Each call runs in rounds. The interpreter's caches and free lists
make the totals drift by a few references now and then, so a leak is growth of at
least one reference (or block) per two calls in every measured round; descriptors
are exact and must not change at all.
"""

from __future__ import annotations

import gc
import logging
import os
import sys
import tempfile
from collections.abc import Callable
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE.parent.parent / "scripts"), str(HERE.parent / "python")]

import samples  # noqa: E402
from rawfixture import Chroms, ChromTrace, RawDir  # noqa: E402

import tarnvale  # noqa: E402

WARMUP_ROUNDS, MEASURED_ROUNDS, CALLS_PER_ROUND = 2, 3, 100
RESULT_TYPES = tuple(getattr(tarnvale, name) for name in tarnvale.__all__)
MiB = 1 << 20


class Index:
    def __init__(self, value: int | Exception) -> None:
        self.value = value

    def __index__(self) -> int:
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


def expect(error: type[BaseException], call: Callable[[], object]) -> Callable[[], None]:
    def run() -> None:
        try:
            call()
        except error:
            return
        raise AssertionError(f"{call} did not raise {error.__name__}")

    return run


def every_field(value: object) -> None:
    """Reads the repr and every property of the module's objects, through lists."""
    if isinstance(value, list):
        for item in value:
            every_field(item)
        return
    repr(value)
    if not isinstance(value, RESULT_TYPES):
        return
    for name in dir(type(value)):
        if not name.startswith("_"):
            field = getattr(value, name)
            if not callable(field):
                every_field(field)
    if hasattr(value, "__len__"):
        len(value)  # type: ignore[arg-type]


def directories(root: Path) -> dict[str, str]:
    paths: dict[str, str] = {}

    def write(name: str, description: RawDir, change: Callable[[Path], object] = lambda path: None) -> None:
        path = description.write(root / f"{name}.raw")
        change(path)
        paths[name] = str(path)

    write("sample", samples.sample())
    write("xevo", samples.xevo())
    no_header = samples.sample()
    no_header.names["_HEADER.TXT"] = None
    write("no_header", no_header)
    bad_header = samples.sample()
    bad_header.header.extra_lines.append("$$ Cal Function 2: 1.0,2.0,t1")
    write("bad_header", bad_header)
    write("sparse_header", samples.sample(), lambda p: os.truncate(p / "_HEADER.TXT", 64 * MiB + 1))
    write("bad_chroms", samples.sample(), lambda p: (p / "_CHROMS.INF").write_bytes(bytes(100)))
    write("bad_sts", samples.sample(), lambda p: (p / "_FUNC001.STS").write_bytes(bytes(7)))
    write("short_data", samples.sample(), lambda p: os.truncate(p / "_FUNC001.DAT", 10))
    write("sparse_data", samples.sample(), lambda p: os.truncate(p / "_FUNC002.DAT", 2048 * MiB))
    write("bad_chro", RawDir(chroms=Chroms([ChromTrace("Pressure", points=None)]), extra_files={
        "_CHRO003.DAT": bytes(140)}))
    fifo = samples.sample().write(root / "fifo.raw")
    paths["fifo"] = str(fifo)
    return paths


def cases(paths: dict[str, str]) -> dict[str, Callable[[], object]]:
    sample = tarnvale.RawReader(paths["sample"])
    fifo = tarnvale.RawReader(paths["fifo"])
    (Path(paths["fifo"]) / "_FUNC001.DAT").unlink()
    os.mkfifo(Path(paths["fifo"]) / "_FUNC001.DAT")
    short = tarnvale.RawReader(paths["short_data"])
    sparse = tarnvale.RawReader(paths["sparse_data"])
    bad_chro = tarnvale.RawReader(paths["bad_chro"])
    xevo = tarnvale.RawReader(paths["xevo"])
    return {
        # Construction and everything a reader holds.
        "open": lambda: tarnvale.RawReader(paths["sample"]),
        "open by keyword": lambda: tarnvale.RawReader(path=paths["xevo"]),
        "open, bad statistics": lambda: tarnvale.RawReader(paths["bad_sts"]),
        "properties and reprs": lambda: every_field(
            [sample.header, sample.polarity, sample.functions, sample.channels, repr(sample), xevo.header]
        ),
        "metadata queries": lambda: [
            (sample.ms_level(f), sample.n_scans(f), sample.function_encoding(f), sample.retention_time(f, 0))
            for f in (1, 2, 3)
        ],
        "spectra": lambda: every_field([sample.read_spectrum(1, 0), sample.read_spectrum(3, 1), xevo.read_spectrum(1, 0)]),
        "IMS spectra": lambda: every_field([sample.read_ims_spectrum(2, s) for s in range(3)]),
        "chromatograms": lambda: every_field([sample.read_chrom(0), sample.read_chrom(1)]),
        "integer forms": lambda: (sample.n_scans(True), sample.retention_time(Index(1), Index(0)),
                                  sample.read_chrom(channel_index=False)),
        # Constructor failures.
        "not a directory": expect(RuntimeError, lambda: tarnvale.RawReader(paths["sample"] + "/_HEADER.TXT")),
        "no such path": expect(RuntimeError, lambda: tarnvale.RawReader(paths["sample"] + "-missing")),
        "NUL in path": expect(RuntimeError, lambda: tarnvale.RawReader("a\0b")),
        "missing header": expect(RuntimeError, lambda: tarnvale.RawReader(paths["no_header"])),
        "bad header": expect(RuntimeError, lambda: tarnvale.RawReader(paths["bad_header"])),
        "header over the limit": expect(RuntimeError, lambda: tarnvale.RawReader(paths["sparse_header"])),
        "bad channel table": expect(RuntimeError, lambda: tarnvale.RawReader(paths["bad_chroms"])),
        "path not str": expect(TypeError, lambda: tarnvale.RawReader(Path(paths["sample"]))),  # type: ignore[arg-type]
        "constructor arguments": expect(TypeError, lambda: tarnvale.RawReader("a", "b")),  # type: ignore[call-arg]
        "constructor keyword": expect(TypeError, lambda: tarnvale.RawReader(dir="a")),  # type: ignore[call-arg]
        # Method failures.
        "function not found": expect(RuntimeError, lambda: sample.n_scans(9)),
        "scan out of range": expect(RuntimeError, lambda: sample.retention_time(1, 2**40)),
        "spectrum of a missing function": expect(RuntimeError, lambda: sample.read_spectrum(9, 0)),
        "not IMS": expect(RuntimeError, lambda: sample.read_ims_spectrum(1, 0)),
        "chromatogram not found": expect(RuntimeError, lambda: sample.read_chrom(2**64 - 4)),
        "chromatogram unreadable": expect(RuntimeError, lambda: bad_chro.read_chrom(0)),
        "short read": expect(RuntimeError, lambda: short.read_spectrum(1, 0)),
        "FIFO data file": expect(RuntimeError, lambda: fifo.read_spectrum(1, 0)),
        "scan over the limit": expect(RuntimeError, lambda: sparse.read_ims_spectrum(2, 2)),
        # Argument failures.
        "wrong type": expect(TypeError, lambda: sample.n_scans(1.0)),  # type: ignore[arg-type]
        "negative": expect(OverflowError, lambda: sample.read_chrom(-1)),
        "too large": expect(OverflowError, lambda: sample.retention_time(1, 2**64)),
        "failing __index__": expect(ValueError, lambda: sample.n_scans(Index(ValueError("no")))),
        "too many arguments": expect(TypeError, lambda: sample.read_spectrum(1, 0, 0)),  # type: ignore[call-arg]
        "missing argument": expect(TypeError, lambda: sample.read_spectrum(1)),  # type: ignore[call-arg]
        "unknown keyword": expect(TypeError, lambda: sample.read_chrom(channel=0)),  # type: ignore[call-arg]
        "argument twice": expect(TypeError, lambda: sample.n_scans(1, func_index=1)),  # type: ignore[call-arg]
    }


def snapshot() -> tuple[int, int, int]:
    gc.collect()
    descriptors = len(os.listdir("/proc/self/fd"))
    return sys.gettotalrefcount(), sys.getallocatedblocks(), descriptors


def growth(call: Callable[[], object]) -> list[tuple[int, int, int]]:
    """Growth of references, blocks and descriptors over each measured round."""
    rounds = []
    for round_number in range(WARMUP_ROUNDS + MEASURED_ROUNDS):
        before = snapshot()
        for _ in range(CALLS_PER_ROUND):
            call()
        after = snapshot()
        if round_number >= WARMUP_ROUNDS:
            rounds.append((after[0] - before[0], after[1] - before[1], after[2] - before[2]))
    return rounds


def configure_logging(mode: str) -> None:
    logger = logging.getLogger("tarnvale")
    if mode == "quiet":
        logger.setLevel(logging.CRITICAL)
        return
    handler = logging.Handler()
    handler.emit = lambda record: handler.format(record) and None  # type: ignore[method-assign]
    logger.addHandler(handler)
    logger.propagate = False
    logger.setLevel(logging.DEBUG)
    if mode == "failing":

        def refuse(record: logging.LogRecord) -> bool:
            raise RuntimeError("filter refuses")

        logger.addFilter(refuse)
        sys.unraisablehook = lambda unraisable: None


def main(argv: list[str]) -> int:
    if not hasattr(sys, "gettotalrefcount"):
        print("check_refcounts: needs a debug interpreter (python3.14-dbg)", file=sys.stderr)
        return 2
    mode = argv[1] if len(argv) > 1 else "logging"
    if mode not in ("quiet", "logging", "failing"):
        print(f"check_refcounts: unknown mode {mode!r}", file=sys.stderr)
        return 2
    configure_logging(mode)
    leaks = []
    with tempfile.TemporaryDirectory() as root:
        checks = cases(directories(Path(root)))
        for name, call in checks.items():
            rounds = growth(call)
            for what, column in (("references", 0), ("memory blocks", 1), ("file descriptors", 2)):
                deltas = [r[column] for r in rounds]
                grew = all(2 * d >= CALLS_PER_ROUND for d in deltas) if column < 2 else any(deltas)
                if grew:
                    leaks.append(f"{name}: {what} grew by {deltas} over rounds of {CALLS_PER_ROUND} calls")
    for leak in leaks:
        print(f"check_refcounts ({mode}): {leak}", file=sys.stderr)
    print(f"check_refcounts ({mode}): {len(checks)} calls, {'LEAKS' if leaks else 'no leaks'}")
    return 1 if leaks else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
