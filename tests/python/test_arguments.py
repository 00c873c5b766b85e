"""Argument conversion and argument-count errors of RawReader."""

from __future__ import annotations

import pathlib

import pytest

import tarnvale


class Index:
    """An object usable as an integer through __index__ (or failing there, given an exception)."""

    def __init__(self, value: int | Exception) -> None:
        self.value = value

    def __index__(self) -> int:
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


U32_MAX, U64_MAX = 2**32 - 1, 2**64 - 1

# method, the arguments, the parameter that fails, the expected exception.
BAD_ARGUMENTS = [
    ("n_scans", (1.0,), "func_index", TypeError),
    ("n_scans", ("1",), "func_index", TypeError),
    ("n_scans", (None,), "func_index", TypeError),
    ("n_scans", (-1,), "func_index", OverflowError),
    ("n_scans", (U32_MAX + 1,), "func_index", OverflowError),
    ("ms_level", (2**64,), "func_index", OverflowError),
    ("function_encoding", (b"1",), "func_index", TypeError),
    ("retention_time", (1, 0.0), "scan_index", TypeError),
    ("retention_time", (1, -1), "scan_index", OverflowError),
    ("retention_time", (1, U64_MAX + 1), "scan_index", OverflowError),
    ("retention_time", (1.5, "x"), "func_index", TypeError),  # parameter order decides
    ("retention_time", (-1, 1.5), "func_index", OverflowError),
    ("read_spectrum", (1, "0"), "scan_index", TypeError),
    ("read_spectrum", (U32_MAX + 1, 0), "func_index", OverflowError),
    ("read_ims_spectrum", (2, -5), "scan_index", OverflowError),
    ("read_chrom", (0.0,), "channel_index", TypeError),
    ("read_chrom", (-1,), "channel_index", OverflowError),
    ("read_chrom", (U64_MAX + 1,), "channel_index", OverflowError),
]


@pytest.mark.parametrize(("method", "args", "parameter", "error"), BAD_ARGUMENTS)
def test_conversion_errors_carry_the_parameter_note(
    sample_reader, method: str, args: tuple[object, ...], parameter: str, error: type[Exception]
) -> None:
    with pytest.raises(error) as caught:
        getattr(sample_reader, method)(*args)
    assert type(caught.value) is error
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


def test_index_conversion_failure_propagates_with_note(sample_reader) -> None:
    with pytest.raises(ValueError, match="no index here") as caught:
        sample_reader.n_scans(Index(ValueError("no index here")))
    assert caught.value.__notes__ == ["while processing 'func_index'"]


@pytest.mark.parametrize("path", [pathlib.Path("."), b".", None, 1], ids=["pathlib", "bytes", "None", "int"])
def test_constructor_accepts_only_str(path: object) -> None:
    with pytest.raises(TypeError) as caught:
        tarnvale.RawReader(path)  # type: ignore[arg-type]
    assert caught.value.__notes__ == ["while processing 'path'"]


def test_accepted_integer_forms(sample_path: str) -> None:
    r = tarnvale.RawReader(path=sample_path)
    assert r.n_scans(True) == r.n_scans(1) == r.n_scans(Index(1)) == 3
    assert r.retention_time(True, False) == r.retention_time(Index(1), Index(0)) == r.retention_time(1, 0)
    assert r.retention_time(func_index=1, scan_index=0) == r.retention_time(scan_index=0, func_index=1)
    assert len(r.read_spectrum(func_index=Index(2), scan_index=True)) == 0
    assert len(r.read_chrom(channel_index=False)) == len(r.read_chrom(0))
    assert r.ms_level(U32_MAX) == 1


# CPython's wording for a function of that signature, the method named as RawReader.<method>();
# the positions count from 1.
@pytest.mark.parametrize(
    ("method", "args", "kwargs", "message"),
    [
        ("n_scans", (), {}, "n_scans() missing required argument 'func_index' (pos 1)"),
        ("n_scans", (1, 2), {}, "n_scans() takes at most 1 argument (2 given)"),
        ("n_scans", (1,), {"func_index": 1}, "argument for n_scans() given by name ('func_index') and position (1)"),
        ("n_scans", (), {"index": 1}, "n_scans() got an unexpected keyword argument 'index'"),
        ("retention_time", (1,), {}, "retention_time() missing required argument 'scan_index' (pos 2)"),
        ("retention_time", (1, 2, 3), {}, "retention_time() takes at most 2 arguments (3 given)"),
        ("retention_time", (1, 2), {"scan_index": 2}, "argument for retention_time() given by name ('scan_index') and position (2)"),
        ("read_spectrum", (), {"func_index": 1}, "read_spectrum() missing required argument 'scan_index' (pos 2)"),
        ("read_spectrum", (), {"scan_index": 1}, "read_spectrum() missing required argument 'func_index' (pos 1)"),
        ("read_ims_spectrum", (1, 0), {"scan": 0}, "read_ims_spectrum() got an unexpected keyword argument 'scan'"),
        ("read_chrom", (), {}, "read_chrom() missing required argument 'channel_index' (pos 1)"),
        ("function_encoding", (), {"func_index": 1, "scan_index": 0}, "function_encoding() got an unexpected keyword argument 'scan_index'"),
        ("ms_level", (1, 1), {}, "ms_level() takes at most 1 argument (2 given)"),
    ],
)
def test_argument_count_errors_name_the_method(
    sample_reader, method: str, args: tuple[int, ...], kwargs: dict[str, int], message: str
) -> None:
    with pytest.raises(TypeError) as caught:
        getattr(sample_reader, method)(*args, **kwargs)
    assert str(caught.value) == message.replace(f"{method}()", f"RawReader.{method}()")


@pytest.mark.parametrize(("args", "kwargs"), [((), {}), (("a", "b"), {}), (("a",), {"path": "a"}), ((), {"dir": "a"})])
def test_constructor_argument_count_errors(args: tuple[str, ...], kwargs: dict[str, str]) -> None:
    with pytest.raises(TypeError, match="RawReader"):
        tarnvale.RawReader(*args, **kwargs)
