"""Files that are not what they seem: a FIFO where a data file belongs, sparse files
far larger than any instrument writes. Every call fails at once with a message
naming the file; none blocks or allocates what the file claims to hold. Calls that
blocked before run in a child process with a timeout, so that a hang fails the test
instead of stopping the run."""

from __future__ import annotations

import os
import shutil
import stat
import subprocess
from pathlib import Path

import pytest
import samples
from samples import runtime_error

import tarnvale

MiB = 1 << 20
METADATA_LIMIT, INDEX_LIMIT, SCAN_LIMIT, CHROMATOGRAM_LIMIT = 64 * MiB, 1024 * MiB, 1024 * MiB, 256 * MiB
HANG_TIMEOUT = 30

FIFO = "{p}/{f}: not a regular file (FIFO)"


def _run_child(run_fresh, code: str, *args: str, prefix: tuple[str, ...] = ()) -> str:
    """What the child printed, less the sample's warning about its uncalibrated function;
    fails the test if the child blocked or crashed."""
    try:
        done = run_fresh(code, *args, prefix=prefix, timeout=HANG_TIMEOUT)
    except subprocess.TimeoutExpired:
        pytest.fail(f"blocked for {HANG_TIMEOUT} s")
    if done.returncode == NO_MOUNT:
        pytest.skip("no private mount namespace here")
    assert done.returncode == 0, done.stderr
    return "\n".join(line for line in done.stdout.splitlines() if "m/z is uncalibrated" not in line)


# Opens the directory, then puts a FIFO in place of one of its files, then makes the call.
AFTER_OPEN = """
    import os, sys, tarnvale
    path, name, call = sys.argv[1:4]
    reader = tarnvale.RawReader(path)
    os.remove(os.path.join(path, name))
    os.mkfifo(os.path.join(path, name))
    try:
        eval(call, {"r": reader})
        print("no error")
    except RuntimeError as error:
        print(error)
"""

FIFO_AFTER_OPEN = {
    "1-D scan": ("_FUNC001.DAT", "r.read_spectrum(1, 0)", "{p} function 1 scan 0: I/O error: " + FIFO),
    "IMS scan": ("_FUNC002.DAT", "r.read_ims_spectrum(2, 0)", "{p} function 2 scan 0: I/O error: " + FIFO),
    "last IMS scan, up to the measured end": (
        "_FUNC002.DAT",
        "r.read_ims_spectrum(2, 2)",
        "{p} function 2 scan 2: I/O error: " + FIFO,
    ),
    # The chromatogram is looked up anew, and a listed FIFO is not a file.
    "chromatogram": ("_CHRO003.DAT", "r.read_chrom(0)", "CHRO file 3 not found"),
}


@pytest.mark.parametrize(("name", "call", "message"), FIFO_AFTER_OPEN.values(), ids=FIFO_AFTER_OPEN)
def test_fifo_placed_after_open(run_fresh, sample_path: str, name: str, call: str, message: str) -> None:
    assert _run_child(run_fresh, AFTER_OPEN, sample_path, name, call) == message.format(p=sample_path, f=name)


# A FIFO or device bind-mounted over a file: the listing still reports the regular file beneath.
MOUNTED = """
    import logging, sys, tarnvale
    logging.basicConfig(level=logging.WARNING, format="%(message)s", stream=sys.stdout)
    try:
        reader = tarnvale.RawReader(sys.argv[1])
        reader.read_spectrum(1, 0)
        print("opened")
    except RuntimeError as error:
        print(error)
"""

READING_FIFO = "reading {p}/{f}: I/O error: " + FIFO
DEVICE = "{p}/{f}: not a regular file (character device)"
# The file, what is mounted over it (a new FIFO, or a device that never ends), the outcome.
MOUNTED_AT_OPEN = {
    "_HEADER.TXT": ("_HEADER.TXT", "fifo", READING_FIFO),
    "_extern.inf": ("_extern.inf", "fifo", READING_FIFO),
    "_FUNCTNS.INF": ("_FUNCTNS.INF", "fifo", READING_FIFO),
    "_FUNC001.IDX": ("_FUNC001.IDX", "fifo", READING_FIFO),
    "_CHROMS.INF": ("_CHROMS.INF", "fifo", READING_FIFO),
    # A bad statistics file only costs the statistics.
    "_FUNC001.STS": ("_FUNC001.STS", "fifo", "function 1: ignoring unreadable {p}/{f}: I/O error: " + FIFO + "\nopened"),
    # The data file is only measured at open (a FIFO holds 0 bytes); the first read refuses it.
    "_FUNC001.DAT": (
        "_FUNC001.DAT",
        "fifo",
        "function 1: index addresses 36 bytes but {p}/{f} is 0 bytes\n{p} function 1 scan 0: I/O error: " + FIFO,
    ),
    "/dev/zero over _HEADER.TXT": ("_HEADER.TXT", "/dev/zero", "reading {p}/{f}: I/O error: " + DEVICE),
    "/dev/zero over _FUNC002.IDX": ("_FUNC002.IDX", "/dev/zero", "reading {p}/{f}: I/O error: " + DEVICE),
}


# In a mount namespace of its own, the child's view of the file system becomes private
# (so that nothing propagates back out) and gets the special file mounted over the file; the
# root's propagation is left alone because a chroot cannot change it.
MOUNT_OVER = (
    'source=$0 target=$1; shift; mount --make-rprivate "$(stat -c %m "$target")" && mount --bind "$source" "$target"'
    ' || exit 77; exec "$@"'
)
NO_MOUNT = 77


@pytest.mark.skipif(shutil.which("unshare") is None or os.geteuid() != 0, reason="needs unshare and root")
@pytest.mark.parametrize(("name", "source", "message"), MOUNTED_AT_OPEN.values(), ids=MOUNTED_AT_OPEN)
def test_special_file_mounted_over_a_file_at_open(
    run_fresh, sample_path: str, tmp_path: Path, name: str, source: str, message: str
) -> None:
    if source == "fifo":
        source = str(tmp_path / "fifo")
        os.mkfifo(source)
    elif not stat.S_ISCHR(os.stat(source).st_mode):
        pytest.skip(f"{source} is no device here")
    target = os.path.join(sample_path, name)
    mount = ("unshare", "-m", "--propagation", "unchanged", "sh", "-c", MOUNT_OVER, source, target)
    assert _run_child(run_fresh, MOUNTED, sample_path, prefix=mount) == message.format(p=sample_path, f=name)


def _over_limit(limit: int, what: str) -> str:
    return f"{{p}}/{{f}}: file of {limit + 1} bytes is over the {limit}-byte limit for {what}"


SPARSE_AT_OPEN = {
    "_HEADER.TXT": METADATA_LIMIT,
    "_extern.inf": METADATA_LIMIT,
    "_FUNCTNS.INF": METADATA_LIMIT,
    "_CHROMS.INF": METADATA_LIMIT,
    "_FUNC002.IDX": INDEX_LIMIT,
}


@pytest.mark.parametrize(("name", "limit"), SPARSE_AT_OPEN.items(), ids=SPARSE_AT_OPEN)
def test_sparse_metadata_over_its_limit(sample_path: str, name: str, limit: int) -> None:
    os.truncate(os.path.join(sample_path, name), limit + 1)
    what = "a metadata file" if limit == METADATA_LIMIT else "an index or statistics file"
    expected = "reading {p}/{f}: I/O error: " + _over_limit(limit, what)
    assert runtime_error(lambda: tarnvale.RawReader(sample_path)) == expected.format(p=sample_path, f=name)


def test_sparse_statistics_over_the_limit_are_ignored(run_fresh, sample_path: str) -> None:
    os.truncate(os.path.join(sample_path, "_FUNC001.STS"), INDEX_LIMIT + 1)
    expected = "function 1: ignoring unreadable {p}/{f}: I/O error: " + _over_limit(
        INDEX_LIMIT, "an index or statistics file"
    )
    assert _run_child(run_fresh, MOUNTED, sample_path) == expected.format(p=sample_path, f="_FUNC001.STS") + "\nopened"


def test_chromatogram_grown_sparse_after_open(sample_path: str) -> None:
    reader = tarnvale.RawReader(sample_path)
    os.truncate(os.path.join(sample_path, "_CHRO003.DAT"), CHROMATOGRAM_LIMIT + 1)
    expected = "reading {p}/{f}: I/O error: " + _over_limit(CHROMATOGRAM_LIMIT, "a chromatogram file")
    assert runtime_error(lambda: reader.read_chrom(0)) == expected.format(p=sample_path, f="_CHRO003.DAT")
    assert len(reader.read_chrom(1)) == len(samples.TEMPERATURE)


def test_last_scan_of_a_sparse_data_file_over_the_scan_limit(sample_path: str) -> None:
    # A 30-byte index gives no length: the last scan runs to the end of the file as measured at open.
    size = 2 * SCAN_LIMIT
    os.truncate(os.path.join(sample_path, "_FUNC002.DAT"), size)
    reader = tarnvale.RawReader(sample_path)
    offset = 8 * sum(len(scan) for scan in samples.SCANS_B[:2])
    assert runtime_error(lambda: reader.read_ims_spectrum(2, 2)) == (
        f"{sample_path} function 2 scan 2: I/O error: {sample_path}/_FUNC002.DAT: {size - offset} bytes at offset "
        f"{offset} are over the {SCAN_LIMIT}-byte limit for a scan"
    )
    assert len(reader.read_ims_spectrum(2, 0)) > 0
