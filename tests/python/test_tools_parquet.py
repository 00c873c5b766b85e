"""Parquet output: the long table read back with pyarrow equals every function's
columns (drift times included), one row group per function, lock mass left out on
request, and a run that cannot be read leaves no file behind."""

from __future__ import annotations

import json
from collections.abc import Callable
from pathlib import Path

import pytest
import samples
import tools_samples
from rawfixture import demo_lc, demo_sample

import tarnvale_tools as tt

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

RUNS: dict[str, Callable[[], object]] = {
    "sample": samples.sample,
    "xevo": samples.xevo,
    "demo sample": demo_sample,
    **{f"random {e}": (lambda e=e: tools_samples.random_raw(e, 5, damaged=False)) for e in tools_samples.ENCODINGS},
}


def _expected_rows(run: tt.Run, function: tt.Function) -> dict[str, list[object]]:
    """The function's rows as the table should hold them, built scan by scan."""
    cols = run.columns(function.index)
    offsets = cols.scan_offsets.tolist()
    scans = [scan for scan in range(len(cols)) for _ in range(offsets[scan + 1] - offsets[scan])]
    drift = cols.drift_time_ms
    return {
        "function": [function.index] * cols.n_points,
        "scan": scans,
        "rt_min": [cols.rt_min[scan] for scan in scans],
        "mz": cols.mz.tolist(),
        "intensity": cols.intensity.tolist(),
        "drift_time_ms": [None] * cols.n_points if drift is None else drift.tolist(),
    }


@pytest.mark.parametrize("name", list(RUNS))
def test_table_equals_the_columns_of_every_function(name: str, write_raw, tmp_path: Path) -> None:
    path = write_raw(RUNS[name]())
    out = tmp_path / "out.parquet"
    rows = tt.write_parquet(path, out, threads=2)
    run = tt.Run(path)
    parquet = pq.ParquetFile(out)
    assert parquet.schema_arrow.names == ["function", "scan", "rt_min", "mz", "intensity", "drift_time_ms"]
    assert [str(t) for t in parquet.schema_arrow.types] == ["uint32", "uint64", "float", "double", "float", "double"]
    group = 0
    for function in run.functions:
        expected = _expected_rows(run, function)
        if not expected["mz"]:
            continue  # a function without points has no row group
        table = parquet.read_row_group(group)
        group += 1
        assert table.to_pydict() == expected, f"function {function.index}"
    assert parquet.metadata.num_row_groups == group
    assert parquet.metadata.num_rows == rows == sum(tt.Run(path).columns(f.index).n_points for f in run.functions)


def test_ion_mobility_run_and_lock_mass_left_out(write_raw, tmp_path: Path) -> None:
    path = write_raw(demo_lc(), "lcms.raw")
    run = tt.Run(path)
    out = tmp_path / "lcms.parquet"
    tt.write_parquet(path, out, skip_lock_mass=True)
    table = pq.read_table(out)
    lock = [f.index for f in run.functions if f.is_lock_mass]
    kept = [f.index for f in run.functions if not f.is_lock_mass]
    assert lock and sorted(set(table.column("function").to_pylist())) == kept
    ims = table.filter(pa.compute.equal(table.column("function"), kept[0]))
    cols = run.columns(kept[0])
    assert ims.column("drift_time_ms").to_pylist() == cols.drift_time_ms.tolist()
    assert ims.column("drift_time_ms").null_count == 0
    described = json.loads(pq.read_schema(out).metadata[b"tarnvale.run"])
    assert [f["function"] for f in described["functions"]] == kept
    assert [f["ion_mobility"] for f in described["functions"]] == [True] * len(kept)


def test_same_bytes_whatever_the_thread_count(write_raw, tmp_path: Path) -> None:
    path = write_raw(demo_sample())
    files = [tmp_path / f"{threads}.parquet" for threads in (1, 2, 5)]
    for threads, out in zip((1, 2, 5), files, strict=True):
        tt.write_parquet(path, out, threads=threads)
    assert len({out.read_bytes() for out in files}) == 1


@pytest.mark.parametrize(
    ("damage", "message"),
    [
        ("missing", "is not a directory"),
        ("bad scan", "parse error: Encoding C: scan size"),
    ],
)
def test_unreadable_run_leaves_nothing(write_raw, tmp_path: Path, damage: str, message: str) -> None:
    path = str(tmp_path / "none.raw") if damage == "missing" else write_raw(tools_samples.random_raw("C", 3))
    out = tmp_path / "out" / "run.parquet"
    out.parent.mkdir()
    out.write_bytes(b"an older file")
    with pytest.raises(RuntimeError, match=message) as caught:
        tt.write_parquet(path, out)
    assert Path(path).name in str(caught.value)
    assert out.read_bytes() == b"an older file"
    assert [p.name for p in out.parent.iterdir()] == ["run.parquet"]


def test_unwritable_output_names_it(write_raw, tmp_path: Path) -> None:
    path = write_raw(samples.sample())
    blocker = tmp_path / "file"
    blocker.write_text("")
    with pytest.raises(tt.export.OutputError, match=f"cannot write {blocker}/out.parquet: Not a directory"):
        tt.write_parquet(path, blocker / "out.parquet")
