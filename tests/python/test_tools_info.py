"""`tarnvale info`: the example inspector's text, the same facts as JSON, and
errors for runs and scans that cannot be read."""

from __future__ import annotations

import json
import re
import runpy
import sys
from pathlib import Path
from typing import Any

import pytest
import samples
import tools_samples
from rawfixture import demo_lc, demo_sample, demo_xevo

import tarnvale
from tarnvale_tools.cli import main

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "inspect_raw.py"

RUNS = {
    "demo sample": demo_sample, "xevo": demo_xevo, "lcms": demo_lc, "sample": samples.sample,
    "tied maxima": tools_samples.tied_maxima,
}


def info(capsys: Any, *args: str) -> tuple[int, str, str]:
    try:
        status = main(["info", *args])
    except SystemExit as exit_:
        status = int(exit_.code or 0)
    out, err = capsys.readouterr()
    return status, out, err


def example(capsys: Any, monkeypatch: Any, *args: str) -> tuple[int, str, str]:
    monkeypatch.setattr(sys, "argv", [str(EXAMPLE), *args])
    try:
        runpy.run_path(str(EXAMPLE), run_name="__main__")
        status = 0
    except SystemExit as exit_:
        status = int(exit_.code or 0)
    out, err = capsys.readouterr()
    return status, out, err


CHOICES = [[], ["--function", "2", "--scan", "1"], ["--function", "3"], ["--scan", "40"]]


@pytest.mark.parametrize("name", list(RUNS))
@pytest.mark.parametrize("choice", CHOICES, ids=" ".join)
def test_text_is_the_examples_and_json_says_the_same(
    name: str, choice: list[str], write_raw: Any, capsys: Any, monkeypatch: Any
) -> None:
    path = write_raw(RUNS[name]())
    text = info(capsys, path, *choice)
    status, out, err = example(capsys, monkeypatch, path, *choice)
    assert text == (status, out, re.sub("^error: ", "tarnvale info: error: ", err))
    status, out, err = info(capsys, path, "--json", *choice)
    assert status == text[0]
    assert err == "" if status == 0 else err.startswith("tarnvale info: error: base peak: ")
    data = json.loads(out)
    assert _text_facts(data) <= set(text[1].splitlines())
    peak = data["base_peak"]
    if peak is not None and peak["mz"] is not None:
        assert peak["mz"] == _first_greatest_mz(path, peak["function"], peak["scan"])
        assert f"scan {peak['scan']} (RT {peak['rt_min']:.4f} min): m/z {peak['mz']:.4f}," in text[1]


def _first_greatest_mz(path: str, function: int, scan: int) -> float:
    reader = tarnvale.RawReader(path)
    read = reader.read_ims_spectrum if reader.function_encoding(function) == "b" else reader.read_spectrum
    spectrum = read(function, scan)
    return spectrum.mz[spectrum.intensity.index(max(spectrum.intensity))]


def _text_facts(data: dict[str, Any]) -> set[str]:
    """Lines the text form must have, written from the JSON alone."""
    lines = {data["path"], f"Functions ({len(data['functions'])})"}
    for key, value in data["header"].items():
        label = {"polarity": "Polarity", "acquired_name": "Acquired name"}.get(key)
        if label is not None:
            lines.add(f"  {label:<20}{value if value is not None else '(not recorded)'}")
    span = data["retention_time_min"]
    lines.add("Retention time: no scans" if span is None else f"Retention time: {span['first']:.4f} - {span['last']:.4f} min")
    peak = data["base_peak"]
    if peak is not None and peak["mz"] is not None:
        kind = "ions" if peak["ion_mobility"] else "points"
        lines.add(f"  {peak['points']} {kind}; total intensity {_number(peak['total_intensity'])}")
    for function in data["functions"]:
        if function["problem"] is not None:
            lines.add(f"  function {function['index']} is not readable: {function['problem']}")
    lines.add(f"Chromatogram channels ({len(data['channels'])})")
    return lines


def _number(value: float) -> str:
    return str(int(value)) if value.is_integer() else f"{value:.4f}"


def test_json_fields_of_an_ion_mobility_run(write_raw: Any, capsys: Any) -> None:
    path = write_raw(demo_lc(), "lcms.raw")
    status, out, _ = info(capsys, path, "--json")
    data = json.loads(out)
    assert status == 0
    assert [(f["index"], f["encoding"], f["ms_level"], f["lock_mass"]) for f in data["functions"]] == [
        (1, "b", 1, False), (2, "b", 2, False), (3, "d", 1, True)
    ]
    peak = data["base_peak"]
    assert (peak["function"], peak["scan"], peak["ion_mobility"]) == (1, 0, True)
    assert peak["drift_time_ms"] is not None and peak["mz"] is not None
    assert [(c["name"], c["units"]) for c in data["channels"]] == [("Pump Pressure", "bar"), ("Column Temperature", "°C")]


@pytest.mark.parametrize(
    ("args", "status", "message"),
    [
        (["{tmp}/none.raw"], 1, "tarnvale info: error: '{tmp}/none.raw' is not a directory"),
        (["{run}", "--function", "9"], 1, "tarnvale info: error: base peak: "),
        (["{run}", "--scan", "9", "--json"], 1, "tarnvale info: error: base peak: "),
        (["{run}", "--function", "0"], 2, "tarnvale info: error: argument --function: function numbers start at 1"),
        (["{run}", "--scan", "-1"], 2, "tarnvale info: error: argument --scan: must not be negative, not '-1'"),
    ],
)
def test_errors(write_raw: Any, tmp_path: Path, capsys: Any, args: list[str], status: int, message: str) -> None:
    run = write_raw(samples.sample())
    code, out, err = info(capsys, *(a.format(run=run, tmp=tmp_path) for a in args))
    assert code == status
    assert err.splitlines()[-1].startswith(message.format(tmp=tmp_path))
    if "--json" in args:
        assert json.loads(out)["base_peak_error"] is not None
