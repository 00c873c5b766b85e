"""Selections: functions, MS level, retention times and m/z ranges choose what both
formats write, each spectrum's points equal to the reader's within the range, the
TIC and base peak chromatograms covering what is written, and the selection recorded
in the file."""

from __future__ import annotations

import json
import math
import re
from pathlib import Path

import mzml_checks
import pytest
import rawfixture
from expected_spectra import expected_spectra

import tarnvale_tools as tt

pytestmark = pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")

# (selection, ims layout, the data processing's notes)
SELECTIONS = [
    ({"functions": [2]}, "combined", {"selected functions": "2"}),
    ({"functions": [3, 1], "ms_level": 1}, "combined", {"selected functions": "1,3", "selected MS level": "1"}),
    ({"ms_level": 2}, "per-bin", {"selected MS level": "2"}),
    ({"rt": (0.03, 0.5)}, "combined", {"selected retention times (min)": "0.03:0.5"}),
    ({"rt": (None, 0.0334)}, "per-bin", {"selected retention times (min)": ":0.0334"}),  # scan 1's time is just below
    ({"rt": (0.75, None)}, "combined", {"selected retention times (min)": "0.75:"}),
    ({"mz": (500.0, 560.0)}, "combined", {"selected m/z range": "500:560"}),
    ({"mz": (195.17441684824354, 195.17441684824354)}, "per-bin", {"selected m/z range": "195.17441684824354:195.17441684824354"}),
    ({"functions": [1, 2], "rt": (0.02, None), "mz": (None, 600.0)}, "combined",
     {"selected functions": "1,2", "selected retention times (min)": "0.02:", "selected m/z range": ":600"}),
]


@pytest.fixture(scope="module")
def sample_run(tmp_path_factory: pytest.TempPathFactory) -> str:
    return str(rawfixture.demo_sample().write(tmp_path_factory.mktemp("selection") / "sample.raw"))


@pytest.mark.parametrize(("selection", "ims", "notes"), SELECTIONS, ids=[str(s[0]) for s in SELECTIONS])
def test_a_selection_writes_what_it_selects(sample_run: str, tmp_path: Path, selection: dict, ims: str, notes: dict) -> None:
    out = tmp_path / "run.mzML"
    written = tt.write_mzml(sample_run, out, ims=ims, **selection)
    expected = expected_spectra(sample_run, ims, **selection)
    spectra, chromatograms = mzml_checks.read_pyteomics(out)
    assert [s.id for s in spectra] == list(expected) and written == len(expected)
    for spectrum in spectra:
        _, mz, intensity, drift = expected[spectrum.id]
        assert mzml_checks.same_bits(spectrum.mz, mz) and mzml_checks.same_bits(spectrum.intensity, intensity)
        assert mzml_checks.same_bits(spectrum.drift, drift), spectrum.id
    traces = {c.id: c for c in chromatograms if not c.id.startswith("channel")}
    totals: dict[int, list[float]] = {}  # function -> the total intensity of each scan written
    for key, (_, _, intensity, _) in expected_spectra(sample_run, "combined", **selection).items():
        totals.setdefault(int(key.split()[0].removeprefix("function=")), []).append(math.fsum(intensity.astype("<f8")))
    assert sorted(traces) == sorted(f"{kind} function={f}" for f in totals for kind in ("TIC", "BPC"))
    for function, tic in totals.items():
        assert list(traces[f"TIC function={function}"].values) == tic
    text = out.read_text(encoding="utf-8")
    assert dict(re.findall(r'<userParam name="(selected [^"]+)" value="([^"]*)"', text)) == notes
    assert mzml_checks.schema_errors(out) == []


@pytest.mark.parametrize(("selection", "ims", "notes"), SELECTIONS[::2], ids=[str(s[0]) for s in SELECTIONS[::2]])
def test_parquet_takes_the_same_selection(sample_run: str, tmp_path: Path, selection: dict, ims: str, notes: dict) -> None:
    pq = pytest.importorskip("pyarrow.parquet")
    out = tmp_path / "run.parquet"
    rows = tt.write_parquet(sample_run, out, **selection)
    table = pq.read_table(out)
    expected = expected_spectra(sample_run, "combined", **selection)
    points = {key: (mz, intensity) for key, (_, mz, intensity, _) in expected.items() if len(mz)}
    assert rows == table.num_rows == sum(len(mz) for mz, _ in points.values())
    got: dict[str, list] = {}
    for f, s, mz, intensity in zip(*(table.column(c).to_pylist() for c in ("function", "scan", "mz", "intensity")), strict=True):
        got.setdefault(f"function={f} process=0 scan={s}", []).append((mz, intensity))
    assert sorted(got) == sorted(points)
    for key, (mz, intensity) in points.items():  # a table keeps decode order, spectra are sorted by m/z
        assert sorted(got[key]) == sorted(zip(mz.tolist(), intensity.tolist(), strict=True))
    chosen = json.loads(pq.read_schema(out).metadata[b"tarnvale.run"])["selection"]
    assert chosen == {key: sorted(value) if key == "functions" else list(value) if isinstance(value, tuple) else value
                      for key, value in selection.items()}


@pytest.mark.parametrize(
    ("selection", "error", "message"),
    [
        ({"rt": (2.0, 1.0)}, ValueError, "retention times 2:1: the start is after the end"),
        ({"mz": (-5.0, None)}, ValueError, "m/z range -5:: -5 is negative"),
        ({"rt": (float("nan"), 1.0)}, ValueError, "retention times NaN:1: NaN is not a finite number"),
        ({"ms_level": 3}, ValueError, "MS level 3 selected: 1 and 2 are possible"),
        ({"functions": [0, 2]}, ValueError, "function 0 selected: functions are numbered from 1"),
        ({"functions": [9]}, RuntimeError, r"function 9 selected, but the run's function table holds \[1, 2, 3\]"),
        ({"rt": (1.0,)}, TypeError, r"rt must be a \(min, max\) pair, either end None"),
        ({"mz": ("a", 2.0)}, TypeError, "must be real number, not str"),
    ],
)
def test_a_selection_that_cannot_be_used_writes_nothing(sample_run: str, tmp_path: Path, selection: dict, error: type, message: str) -> None:
    for write in (tt.write_mzml, tt.write_parquet):
        if write is tt.write_parquet:
            pytest.importorskip("pyarrow")
        with pytest.raises(error, match=message):
            write(sample_run, tmp_path / "out", **selection)
    assert list(tmp_path.iterdir()) == []
