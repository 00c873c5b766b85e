"""Damaged runs still give their data: each damage of a real acquisition, built once,
fails a conversion by default with DamagedRunError, and with on_error="skip" gives
every other scan bit for bit as the reader decodes it, lists what was left out in the
file (mzML: the data processing's user parameters; Parquet: the schema's metadata),
and reports it in the command's summary line."""

from __future__ import annotations

import json
import re
import shutil
from collections.abc import Callable
from pathlib import Path
from typing import Any

import mzml_checks
import pytest
import rawfixture
from expected_spectra import expected_spectra

import tarnvale
import tarnvale_tools as tt
from tarnvale_tools.cli import main

pytestmark = pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")


def _channel_file_missing(run: rawfixture.RawDir) -> None:
    run.chroms.channels[0].points = None


def _channel_file_short(run: rawfixture.RawDir) -> None:
    run.chroms.channels[1].data = bytes(50)


def _data_file_truncated(run: rawfixture.RawDir) -> None:
    """An aborted acquisition: the index addresses more than the data file holds."""
    function = run.functions[0]
    data = function.render_data()
    function.data_bytes = data[: len(data) // 2]


def _scan_damaged(run: rawfixture.RawDir) -> None:
    run.functions[0].scans[1].records[1] = rawfixture.record_a(1, 0x01, 0)  # an m/z word no decoder takes


def _statistics_unreadable(run: rawfixture.RawDir) -> None:
    run.functions[1].sts = bytes(10)


def _function_files_missing(run: rawfixture.RawDir) -> None:
    run.functions[1].write_data = False


def _every_function_missing(run: rawfixture.RawDir) -> None:
    """Only the channel traces are left: a file without spectra."""
    for function in run.functions:
        function.write_index = False


# name -> (damage, what skipping leaves out: {function: [scans]}, {channel: reason start},
#          {function: reason}, whether the default fails)
CASES: dict[str, tuple[Callable[[rawfixture.RawDir], None], dict, dict, dict, bool]] = {
    "channel file missing": (_channel_file_missing, {}, {0: "CHRO file 3 not found"}, {}, True),
    "channel file short": (_channel_file_short, {}, {1: "reading "}, {}, True),
    "data file truncated": (_data_file_truncated, {1: [1, 2]}, {}, {}, True),
    "one scan damaged": (_scan_damaged, {1: [1]}, {}, {}, True),
    "statistics unreadable": (_statistics_unreadable, {}, {}, {}, False),
    "function files missing": (_function_files_missing, {}, {}, {2: "_FUNC002.DAT not found"}, False),
    "every function missing": (_every_function_missing, {}, {}, {f: f"_FUNC00{f}.IDX not found" for f in (1, 2, 3)}, False),
}


@pytest.fixture(scope="module")
def damaged(tmp_path_factory: pytest.TempPathFactory) -> dict[str, str]:
    root = tmp_path_factory.mktemp("damaged")
    runs = {}
    for name, (damage, *_) in CASES.items():
        run = rawfixture.demo_sample()
        damage(run)
        runs[name] = str(run.write(root / f"{name.replace(' ', '_')}.raw"))
    return runs


def _same_left_out(left_out: tt.LeftOut, scans: dict, channels: dict, functions: dict) -> bool:
    return (
        {f: list(s) for f, s in left_out.scans.items()} == scans
        and left_out.channels.keys() == channels.keys()
        and all(left_out.channels[c].startswith(start) for c, start in channels.items())
        and dict(left_out.functions) == functions
    )


def _skip_notes(path: Path) -> dict[str, str]:
    text = path.read_text(encoding="utf-8")
    return dict(re.findall(r'<userParam name="(skipped [^"]+)" value="([^"]*)"', text))


@pytest.mark.parametrize("name", list(CASES))
def test_mzml_of_a_damaged_run(damaged: dict[str, str], tmp_path: Path, name: str) -> None:
    _, scans, channels, functions, fails = CASES[name]
    path = damaged[name]
    out = tmp_path / "run.mzML"
    if fails:
        with pytest.raises(tt.DamagedRunError, match=f"^converting {re.escape(path)}: "):
            tt.write_mzml(path, out)
        assert list(tmp_path.iterdir()) == []
    written = tt.write_mzml(path, out, on_error="skip", threads=2)
    assert _same_left_out(written.left_out, scans, channels, functions)
    expected = expected_spectra(path, left_out=scans)
    spectra, chromatograms = mzml_checks.read_pyteomics(out)
    assert [s.id for s in spectra] == list(expected) and written == len(expected)
    for spectrum in spectra:
        _, mz, intensity, drift = expected[spectrum.id]
        assert mzml_checks.same_bits(spectrum.mz, mz) and mzml_checks.same_bits(spectrum.intensity, intensity)
        assert mzml_checks.same_bits(spectrum.drift, drift), spectrum.id
    written_scans = sum(1 for key in expected if key.startswith("function=1 "))
    tic = {c.id: c for c in chromatograms}.get("TIC function=1")
    assert (0 if tic is None else len(tic.time)) == written_scans
    notes = {f"skipped scans of function {f}": tt.export.compact_ranges(s) for f, s in scans.items()}
    notes |= {f"skipped function {f}": reason for f, reason in functions.items()}
    notes |= {f"skipped chromatogram channel {c}": reason for c, reason in written.left_out.channels.items()}
    assert _skip_notes(out) == notes
    assert mzml_checks.schema_errors(out) == [] and mzml_checks.index_problems(out) == []
    samples = Path(tarnvale.__file__).resolve().parent.parent / "mzml-samples"
    samples.mkdir(exist_ok=True)
    shutil.copyfile(out, samples / f"tools_damaged_{name.replace(' ', '_')}.mzML")


@pytest.mark.parametrize("name", list(CASES))
def test_parquet_of_a_damaged_run(damaged: dict[str, str], tmp_path: Path, name: str) -> None:
    pq = pytest.importorskip("pyarrow.parquet")
    _, scans, _, functions, _ = CASES[name]
    path = damaged[name]
    out = tmp_path / "run.parquet"
    if scans:  # the table holds no channels: only scans fail it
        with pytest.raises(tt.DamagedRunError):
            tt.write_parquet(path, out)
    written = tt.write_parquet(path, out, on_error="skip")
    assert _same_left_out(written.left_out, scans, {}, functions)
    table = pq.read_table(out)
    expected = expected_spectra(path, left_out=scans)
    rows = [(f, s) for f, s in zip(table.column("function").to_pylist(), table.column("scan").to_pylist(), strict=True)]
    by_scan = {key: len(value[1]) for key, value in expected.items()}
    assert {f"function={f} process=0 scan={s}" for f, s in rows} == {k for k, n in by_scan.items() if n}
    assert len(rows) == written == sum(by_scan.values())
    described = json.loads(pq.read_schema(out).metadata[b"tarnvale.run"])
    assert described["skipped"] == {
        "functions": {str(f): reason for f, reason in functions.items()},
        "scans": {str(f): tt.export.compact_ranges(s) for f, s in scans.items()},
    }


def convert(capsys: Any, *args: str) -> tuple[int, str, str]:
    status = main(["convert", *args])
    out, err = capsys.readouterr()
    return status, out, err


def test_the_command_names_skipping_and_sums_up_what_it_left_out(damaged: dict[str, str], tmp_path: Path, capsys: Any) -> None:
    runs = [damaged["one scan damaged"], damaged["channel file short"]]
    status, out, err = convert(capsys, *runs, "-o", str(tmp_path))
    assert (status, out) == (1, "")
    assert [line.endswith(" (--on-error skip writes the rest of the run)") for line in err.splitlines()] == [True, True]
    status, out, err = convert(capsys, *runs, "-o", str(tmp_path), "--on-error", "skip")
    assert (status, err) == (0, "")
    assert out.splitlines() == [
        f"wrote {tmp_path}/one_scan_damaged.mzML (8 spectra; 1 scan skipped)",
        f"wrote {tmp_path}/channel_file_short.mzML (9 spectra; 1 channel skipped)",
    ]


@pytest.mark.parametrize(
    ("left_out", "summary"),
    [
        (tt.LeftOut(), ""),
        (tt.LeftOut(scans={2: [3]}), "1 scan skipped"),
        (tt.LeftOut(scans={1: [0, 1], 2: [3]}, channels={1: "x"}), "3 scans and 1 channel skipped"),
        (tt.LeftOut(functions={4: "x", 5: "y"}, channels={0: "x", 1: "y"}), "2 functions and 2 channels skipped"),
        (tt.LeftOut(functions={4: "x"}, scans={1: [0]}, channels={0: "x"}), "1 function, 1 scan and 1 channel skipped"),
    ],
)
def test_summary_of_what_was_left_out(left_out: tt.LeftOut, summary: str) -> None:
    assert left_out.summary() == summary
