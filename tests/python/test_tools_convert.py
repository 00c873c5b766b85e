"""`tarnvale convert` and convert_many: output names, one line per file written, a
failed run reported while the others convert, exit statuses, nothing half-written
under a final name, the mzML files sound, and a Dask cluster writing the same bytes."""

from __future__ import annotations

import gzip
import os
from pathlib import Path
from typing import Any

import mzml_checks
import pytest
import samples
import tools_samples
from rawfixture import demo_lc, demo_sample

import tarnvale_tools as tt
from tarnvale_tools.cli import main

# pymzML's spectra clear themselves when collected and warn about it under Python 3.14.
pytestmark = pytest.mark.filterwarnings("ignore:Testing an element's truth value:DeprecationWarning")


def convert(capsys: Any, *args: str) -> tuple[int, str, str]:
    """Runs `tarnvale convert ARGS`; returns the exit status, stdout and stderr."""
    try:
        status = main(["convert", *args])
    except SystemExit as exit_:  # argparse rejects the arguments
        status = int(exit_.code or 0)
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def runs(tmp_path: Path) -> dict[str, str]:
    """Two good runs, one with a scan that cannot be decoded, and one that is missing."""
    made = tmp_path / "runs"
    return {
        "sample": str(samples.sample().write(made / "sample.raw")),
        "xevo": str(samples.xevo().write(made / "xevo.raw")),
        "bad": str(tools_samples.random_raw("C", 3).write(made / "bad.raw")),
        "missing": str(made / "missing.raw"),
    }


def _listing(directory: Path) -> list[str]:
    return sorted(p.name for p in directory.iterdir()) if directory.is_dir() else []


@pytest.mark.parametrize(
    ("name", "format", "gzip", "expected"),
    [
        ("sample.raw", "mzml", False, "sample.mzML"),
        ("sample.RAW", "parquet", False, "sample.parquet"),
        ("sample.raw/", "mzml", False, "sample.mzML"),
        ("plain", "mzml", False, "plain.mzML"),
        (".raw", "parquet", False, ".raw.parquet"),
        ("a.b.raw", "parquet", False, "a.b.parquet"),
        ("sample.raw", "mzml", True, "sample.mzML.gz"),
    ],
)
def test_output_names(name: str, format: tt.export.Format, gzip: bool, expected: str) -> None:
    assert tt.export.output_path(f"runs/{name}", "out", format, gzip) == Path("out") / expected


def test_mzml_batch(runs: dict[str, str], tmp_path: Path, capsys: Any) -> None:
    outdir = tmp_path / "new" / "out"
    status, out, err = convert(capsys, runs["sample"], runs["xevo"], "-o", str(outdir), "--jobs", "2")
    assert (status, err) == (0, "")
    written = [outdir / "sample.mzML", outdir / "xevo.mzML"]
    counts = [sum(f.n_scans for f in tt.Run(runs[n]).functions) for n in ("sample", "xevo")]
    assert out.splitlines() == [f"wrote {path} ({n} spectra)" for path, n in zip(written, counts, strict=True)]
    assert _listing(outdir) == ["sample.mzML", "xevo.mzML"]
    for path in written:
        assert mzml_checks.schema_errors(path) == []
        assert mzml_checks.index_problems(path) == []
        spectra, _ = mzml_checks.read_pyteomics(path)
        assert len(spectra) == counts[written.index(path)]


@pytest.mark.parametrize(
    ("flags", "name", "terms"),
    [
        (["--numpress"], "sample.mzML", {"MS:1002746", "MS:1002748"}),
        (["--numpress", "--no-compression"], "sample.mzML", {"MS:1002312", "MS:1002314"}),
        (["--mz-precision", "32", "--gzip"], "sample.mzML.gz", {"MS:1000521", "MS:1000574"}),
    ],
)
def test_compact_mzml_flags(runs: dict[str, str], tmp_path: Path, capsys: Any, flags: list[str], name: str, terms: set) -> None:
    status, out, err = convert(capsys, runs["sample"], "-o", str(tmp_path), *flags)
    assert (status, err, _listing(tmp_path)) == (0, "", sorted([name, "runs"]))
    assert out.startswith(f"wrote {tmp_path / name} (")
    assert terms <= {accession for _, accession, _ in mzml_checks.cv_params(tmp_path / name)}
    assert mzml_checks.schema_errors(tmp_path / name) == []


@pytest.mark.parametrize("format", ["mzml", "parquet"])
def test_failed_runs_are_reported_and_the_others_convert(runs: dict[str, str], tmp_path: Path, capsys: Any, format: str) -> None:
    if format == "parquet":
        pytest.importorskip("pyarrow")
    outdir = tmp_path / "out"
    order = [runs["bad"], runs["sample"], runs["missing"], runs["xevo"]]
    status, out, err = convert(capsys, *order, "-o", str(outdir), "--format", format)
    suffix = tt.export.FORMATS[format]
    assert status == 1
    assert [line.split(" (")[0] for line in out.splitlines()] == [f"wrote {outdir}/sample{suffix}", f"wrote {outdir}/xevo{suffix}"]
    lines = err.splitlines()
    assert len(lines) == 2
    assert lines[0].startswith("tarnvale convert: error: ") and "bad.raw" in lines[0] and "scan size" in lines[0]
    assert lines[1].startswith("tarnvale convert: error: ") and runs["missing"] in lines[1] and "not a directory" in lines[1]
    assert _listing(outdir) == [f"sample{suffix}", f"xevo{suffix}"]


@pytest.mark.parametrize("format", ["mzml", "parquet"])
def test_unwritable_outdir_fails_every_run_and_writes_nothing(runs: dict[str, str], tmp_path: Path, capsys: Any, format: str) -> None:
    if format == "parquet":
        pytest.importorskip("pyarrow")
    blocker = tmp_path / "not-a-directory"
    blocker.write_text("")
    status, out, err = convert(capsys, runs["sample"], runs["xevo"], "-o", str(blocker / "out"), "--format", format)
    assert (status, out) == (1, "")
    assert err.splitlines() == [
        f"tarnvale convert: error: {runs[n]}: cannot create {blocker}/out: Not a directory" for n in ("sample", "xevo")
    ]
    assert _listing(tmp_path) == ["not-a-directory", "runs"]


def test_an_older_file_stays_until_a_conversion_succeeds(runs: dict[str, str], tmp_path: Path, capsys: Any) -> None:
    outdir = tmp_path / "out"
    outdir.mkdir()
    (outdir / "bad.mzML").write_text("older")
    assert convert(capsys, runs["bad"], "-o", str(outdir))[0] == 1
    assert (outdir / "bad.mzML").read_text() == "older" and _listing(outdir) == ["bad.mzML"]


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["--jobs", "0"], "argument --jobs: must be from 1 to 256, not '0'"),
        (["--jobs", "257"], "argument --jobs: must be from 1 to 256, not '257'"),
        (["--jobs", "two"], "argument --jobs: not a whole number: 'two'"),
        (["--format", "csv"], "argument --format: invalid choice: 'csv'"),
        (["--ims", "stacked"], "argument --ims: invalid choice: 'stacked'"),
        (["--format", "parquet", "--ims", "per-bin"], "--ims applies to mzML only"),
        (["--format", "parquet", "--no-compression"], "--no-compression applies to mzML only"),
        (["--format", "parquet", "--numpress", "--gzip"], "--numpress and --gzip apply to mzML only"),
        (["--format", "parquet", "--mz-precision", "64"], "--mz-precision applies to mzML only"),
        (["--mz-precision", "16"], "argument --mz-precision: invalid choice: '16'"),
        (["{other}/sample.raw"], "{run} and {other}/sample.raw would both be written to {out}/sample.mzML"),
        (["--on-error", "ignore"], "argument --on-error: invalid choice: 'ignore'"),
        (["--rt", "5:2"], "retention times 5:2: the start is after the end"),
        (["--rt", "5"], "argument --rt: not MIN:MAX: '5'"),
        (["--mz=-1:5"], "m/z range -1:5: -1 is negative"),
        (["--mz", "1:x"], "argument --mz: not MIN:MAX: '1:x'"),
        (["--functions", "0,2"], "function 0 selected: functions are numbered from 1"),
        (["--functions", "1,,2"], "argument --functions: not a list of function numbers: '1,,2'"),
        (["--ms-level", "3"], "argument --ms-level: invalid choice: '3'"),
    ],
)
def test_usage_errors(runs: dict[str, str], tmp_path: Path, capsys: Any, args: list[str], message: str) -> None:
    other = tmp_path / "other"
    values = {"run": runs["sample"], "other": other, "out": tmp_path / "out"}
    status, out, err = convert(capsys, runs["sample"], *(a.format(**values) for a in args), "-o", str(tmp_path / "out"))
    assert (status, out) == (2, "")
    assert err.startswith("usage: tarnvale convert")
    assert err.splitlines()[-1].startswith(f"tarnvale convert: error: {message.format(**values)}")
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize(
    ("missing", "args", "message"),
    [
        ("pyarrow", ["--format", "parquet"], "Parquet output needs pyarrow: pip install 'tarnvale[parquet]'"),
        ("dask", ["--dask", "127.0.0.1:1"], "--dask needs dask.distributed: pip install 'tarnvale[dask]'"),
    ],
)
def test_missing_extras(runs: dict[str, str], tmp_path: Path, run_fresh: Any, missing: str, args: list[str], message: str) -> None:
    code = """
        import sys
        sys.modules[sys.argv[1]] = None  # importing it fails
        import tarnvale_tools.cli
        sys.exit(tarnvale_tools.cli.main(["convert", *sys.argv[2:]]))
    """
    done = run_fresh(code, missing, runs["sample"], "-o", str(tmp_path / "out"), *args)
    assert (done.returncode, done.stdout, done.stderr) == (2, "", f"tarnvale convert: {message}\n")
    assert not (tmp_path / "out").exists()


def test_importing_the_package_imports_no_extra(run_fresh: Any) -> None:
    code = """
        import sys
        import tarnvale_tools, tarnvale_tools.cli
        print(sorted(m for m in ("pyarrow", "dask", "distributed", "tqdm", "numpy", "matplotlib") if m in sys.modules))
    """
    assert run_fresh(code).stdout == "[]\n"


def test_folders_of_runs_keep_their_layout_and_resume(tmp_path: Path, capsys: Any) -> None:
    root = tmp_path / "runs"
    for place in ("a.raw", "B.RAW", "sub/c.raw", "sub/deeper/d.raw", "nothing/e.raw"):
        samples.xevo().write(root / place)
    (root / "notes").mkdir()
    (root / "notes" / "plain.txt").write_text("")
    out = tmp_path / "out"
    status, lines, err = convert(capsys, str(root), "-o", str(out))
    assert (status, err) == (0, "")
    assert lines.splitlines() == [f"wrote {out}/{name}.mzML (2 spectra)" for name in ("B", "a")]
    # An interrupted batch: one file complete, one cut short, one never begun, a temporary file left.
    (out / "B.mzML").write_bytes((out / "B.mzML").read_bytes()[:-1])
    (out / "sub").mkdir()
    (out / "sub" / ".c.mzML.1a2b3c4d.part").write_text("<indexedmzML")
    status, lines, err = convert(capsys, str(root), str(root / "notes"), "-o", str(out), "--recursive", "--skip-existing")
    assert (status, err) == (1, f"tarnvale convert: error: {root}/notes: a folder with no .raw directories in it or its subfolders\n")
    assert lines.splitlines() == [
        f"wrote {out}/B.mzML (2 spectra)",
        f"kept {out}/a.mzML (already converted)",
        f"wrote {out}/nothing/e.mzML (2 spectra)",
        f"wrote {out}/sub/c.mzML (2 spectra)",
        f"wrote {out}/sub/deeper/d.mzML (2 spectra)",
    ]
    assert tt.export.is_complete(out / "B.mzML", "mzml")


_END = b"</indexedmzML>\n"
_GZIPPED = gzip.compress(os.urandom(300_000)) + gzip.compress(b"<run/>" * 1000 + _END)


@pytest.mark.parametrize(
    ("name", "content", "complete"),
    [
        ("a.mzML", b"<indexedmzML>" + _END, True),
        ("a.mzML", (b"<indexedmzML>" + _END)[:-1], False),
        ("a.mzML", b"", False),
        ("a.parquet", b"PAR1 rows PAR1", True),
        ("a.parquet", b"PAR1 rows PAR", False),
        ("a.mzML.gz", _GZIPPED, True),
        ("a.mzML.gz", _GZIPPED[:-3], False),  # the last member cut short
        ("a.mzML.gz", gzip.compress(b"<indexedmzML>"), False),
        ("a.mzML.gz", _END, False),
    ],
)
def test_a_complete_output_is_told_from_one_cut_short(tmp_path: Path, name: str, content: bytes, complete: bool) -> None:
    (tmp_path / name).write_bytes(content)
    format = "parquet" if name.endswith(".parquet") else "mzml"
    assert tt.export.is_complete(tmp_path / name, format) == complete


def test_python_batch_reports_outcomes_in_order(runs: dict[str, str], tmp_path: Path) -> None:
    seen: list[str] = []
    progress: list[tuple[str, int, int]] = []
    outcomes = tt.convert_many(
        [runs["xevo"], runs["missing"]], tmp_path, format="mzml", jobs=2, compression=False,
        on_outcome=lambda o: seen.append(o.path), progress=lambda *p: progress.append(p),
    )
    assert [(o.path, o.output, o.ok) for o in outcomes] == [
        (runs["xevo"], str(tmp_path / "xevo.mzML"), True),
        (runs["missing"], None, False),
    ]
    assert seen == [runs["xevo"], runs["missing"]]
    assert progress and progress[-1] == (runs["xevo"], 2, 2)
    assert "not a directory" in (outcomes[1].error or "") and runs["missing"] in (outcomes[1].error or "")
    with pytest.raises(ValueError, match="mzml output takes no option threads"):
        tt.convert_many([runs["xevo"]], tmp_path, threads=2)
    with pytest.raises(ValueError, match="mz_precision must be 32 or 64, not 16"):
        tt.convert_many([runs["xevo"]], tmp_path, mz_precision=16)


@pytest.mark.cluster
def test_dask_cluster_writes_the_same_bytes(tmp_path: Path) -> None:
    """Two worker processes on 127.0.0.1: every file byte-identical to a local conversion."""
    pytest.importorskip("pyarrow")
    distributed = pytest.importorskip("dask.distributed")
    folder = tmp_path / "runs"
    demo_sample().write(folder / "sample.raw")
    demo_lc().write(folder / "sub" / "lcms.raw")
    damaged = demo_sample()
    damaged.chroms.channels[0].points = None
    damaged.write(folder / "damaged.raw")
    paths = [str(folder), str(tmp_path / "missing.raw")]
    options = {"recursive": True, "on_error": "skip", "rt": (0.0, 3.0)}
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        compact = {"numpress": True, "mz_precision": 32, "gzip": True}
        for i, (format, extra) in enumerate([("mzml", {}), ("parquet", {}), ("mzml", compact)]):
            remote = tt.convert_many(paths, tmp_path / f"remote-{i}", format=format, client=client, **options, **extra)
            local = tt.convert_many(paths, tmp_path / f"local-{i}", format=format, **options, **extra)
            assert [o.ok for o in remote] == [o.ok for o in local] == [True, True, True, False]
            assert remote[3].error == local[3].error
            assert [o.left_out for o in remote] == [o.left_out for o in local]
            for r, l in zip(remote[:3], local[:3], strict=True):
                assert r.output is not None and l.output is not None
                assert os.path.relpath(r.output, tmp_path / f"remote-{i}") == os.path.relpath(l.output, tmp_path / f"local-{i}")
                assert Path(r.output).read_bytes() == Path(l.output).read_bytes()
                assert r.count == l.count
            again = tt.convert_many(
                paths, tmp_path / f"remote-{i}", format=format, client=client, skip_existing=True, **options, **extra
            )
            assert [o.existing for o in again] == [True, True, True, False]
