"""`tarnvale view`'s web application through FastAPI's test client: the token,
each endpoint's values against tarnvale_tools, and 400 for every bad parameter."""

from __future__ import annotations

import json
import math
from pathlib import Path
from typing import Any

import pytest
import samples
import tools_samples
from rawfixture import demo_lc

pytest.importorskip("fastapi")
pytest.importorskip("httpx")
from fastapi.testclient import TestClient  # noqa: E402

import tarnvale_tools as tt  # noqa: E402
from tarnvale_tools import overview  # noqa: E402
from tarnvale_tools.view import ServedRun, create_app  # noqa: E402

TOKEN = "k9-Test_token"
HEADERS = {"X-Tarnvale-Token": TOKEN}


@pytest.fixture(scope="module")
def paths(tmp_path_factory: pytest.TempPathFactory) -> list[str]:
    folder = tmp_path_factory.mktemp("view")
    return [str(demo_lc().write(folder / "lcms.raw")), str(samples.sample().write(folder / "sample.raw"))]


@pytest.fixture(scope="module")
def client(paths: list[str]) -> TestClient:
    runs = [ServedRun(index, path, 1 << 24) for index, path in enumerate(paths)]
    return TestClient(create_app(runs, TOKEN))


def get(client: TestClient, url: str) -> Any:
    response = client.get(url, headers=HEADERS)
    assert response.status_code == 200, response.text
    assert response.headers["content-type"].startswith("application/json")
    return response.json()


@pytest.mark.parametrize(
    ("url", "headers", "status"),
    [
        ("/", {}, 403),
        ("/?token=", {}, 403),
        ("/?token=k9-Test_tokeN", {}, 403),
        ("/?token=k9-Test_token2", {}, 403),
        (f"/?token={TOKEN}", {}, 200),
        ("/static/plotly.min.js", {}, 403),
        (f"/static/plotly.min.js?token={TOKEN}", {}, 200),
        ("/static/viewer.js", {"X-Tarnvale-Token": "wrong"}, 403),
        ("/static/viewer.js", HEADERS, 200),
        ("/api/openapi.json", {}, 403),
        ("/api/openapi.json", HEADERS, 200),
        ("/api/runs", {"Authorization": f"Bearer {TOKEN}"}, 403),
        ("/api/runs?token=wrong", HEADERS, 200),  # the header is looked at first
        ("/api/nothing", {}, 403),  # also for what does not exist
        ("/docs", HEADERS, 404),  # no documentation page that would load scripts from elsewhere
        ("/static/index.html", HEADERS, 404),
        ("/static/..%2f__init__.py", HEADERS, 404),
    ],
)
def test_every_request_needs_the_token(client: TestClient, url: str, headers: dict[str, str], status: int) -> None:
    response = client.get(url, headers=headers)
    assert response.status_code == status
    assert response.headers["referrer-policy"] == "no-referrer"
    cached = url.startswith("/static/") and status == 200
    assert response.headers["cache-control"] == ("private, max-age=86400, immutable" if cached else "no-store")
    assert "script-src 'self'" in response.headers["content-security-policy"]
    if status != 200:
        assert set(response.json()) == {"error"}


def test_the_page_loads_its_scripts_with_the_token(client: TestClient) -> None:
    page = client.get(f"/?token={TOKEN}").text
    sources = [part.split('"')[0] for part in page.split('src="')[1:]]
    assert sources == [f"/static/viewer.js?token={TOKEN}", f"/static/plotly.min.js?token={TOKEN}"]
    plotly = client.get(sources[1]).text
    assert plotly.startswith("/**\n* plotly.js v") and len(plotly) > 1_000_000


def test_runs_and_overview(client: TestClient, paths: list[str]) -> None:
    assert get(client, "/api/runs") == {
        "runs": [{"run": 0, "name": "lcms.raw", "path": paths[0]}, {"run": 1, "name": "sample.raw", "path": paths[1]}]
    }
    for run, path in enumerate(paths):
        assert get(client, f"/api/run?run={run}") == json.loads(json.dumps(overview.as_json(overview.gather(path))))


def _rows(values: memoryview) -> list[float]:
    return values.tolist()


@pytest.mark.parametrize("run", [0, 1])
def test_chromatograms_and_channels_are_exact(client: TestClient, paths: list[str], run: int) -> None:
    raw = tt.Run(paths[run])
    for function in raw.functions:
        rt, tic = raw.tic(function.index)
        _, bpi_mz, bpi = raw.bpi(function.index)
        found = get(client, f"/api/chromatogram?run={run}&function={function.index}")
        assert (found["scan"], found["rt_min"], found["tic"]) == (list(range(len(rt))), rt.tolist(), tic.tolist())
        found = get(client, f"/api/chromatogram?run={run}&function={function.index}&kind=bpi")
        assert (found["bpi"], found["bpi_mz"]) == (bpi.tolist(), bpi_mz.tolist())
    for channel in raw.channels:
        rt, value = raw.read_chrom(channel.index)
        found = get(client, f"/api/channel?run={run}&index={channel.index}")
        assert (found["name"], found["rt_min"], found["value"]) == (channel.name, rt.tolist(), value.tolist())


@pytest.mark.parametrize("width", [1, 3, 40, 2000])
@pytest.mark.parametrize(("low", "high"), [(None, None), (1.0, 2.2), (2.5, None)])
def test_reduced_chromatograms_hold_true_points_and_the_apex(
    client: TestClient, paths: list[str], width: int, low: float | None, high: float | None
) -> None:
    rt, tic = tt.Run(paths[0]).tic(1)
    window = "".join(f"&{name}={value}" for name, value in (("rt_low", low), ("rt_high", high)) if value is not None)
    found = get(client, f"/api/chromatogram?function=1&width={width}{window}")
    inside = [s for s in range(len(rt)) if (low is None or rt[s] >= low) and (high is None or rt[s] <= high)]
    # Beside the window's points, its nearest neighbour on either side, for the lines to reach the edges.
    neighbours = {inside[0] - 1, inside[-1] + 1} & set(range(len(rt)))
    assert set(found["scan"]) - set(inside) == neighbours and len(found["scan"]) <= 2 * width + 2
    assert found["rt_min"] == [rt[s] for s in found["scan"]] and found["tic"] == [tic[s] for s in found["scan"]]
    assert max(inside, key=tic.__getitem__) in found["scan"]


@pytest.mark.parametrize(("function", "scan"), [(1, 0), (1, 155), (2, 37), (3, 5)])
def test_spectra_and_mobility_maps_are_exact(client: TestClient, paths: list[str], function: int, scan: int) -> None:
    columns = tt.Run(paths[0]).columns(function)
    mz, intensity = columns.scan(scan)
    found = get(client, f"/api/spectrum?function={function}&scan={scan}")
    assert (found["mz"], found["intensity"], found["rt_min"]) == (mz.tolist(), intensity.tolist(), columns.rt_min[scan])
    if columns.drift_time_ms is None:
        assert found["drift_time_ms"] is None
        assert client.get(f"/api/ims_map?function={function}&scan={scan}", headers=HEADERS).status_code == 400
        return
    first, last = columns.scan_offsets[scan], columns.scan_offsets[scan + 1]
    drift = columns.drift_time_ms[first:last].tolist()
    assert found["drift_time_ms"] == drift
    summed = get(client, f"/api/spectrum?function={function}&scan={scan}&sum_drift=true")
    per_mz: dict[float, float] = {}
    for m, i in zip(mz.tolist(), intensity.tolist()):
        per_mz[m] = per_mz.get(m, 0.0) + i
    assert (summed["mz"], summed["intensity"]) == (sorted(per_mz), [per_mz[m] for m in sorted(per_mz)])
    assert (summed["summed_over_drift"], summed["drift_time_ms"], summed["points"]) == (True, None, len(mz))
    whole = get(client, f"/api/ims_map?function={function}&scan={scan}&mz_bins=3&drift_bins=4")
    assert sum(map(sum, whole["intensity"])) == sum(whole["mobilogram"]) == sum(intensity.tolist())
    assert whole["mz_range"] == [min(mz.tolist()), max(mz.tolist())]
    window = "&mz_low=500&mz_high=800&drift_low=2&drift_high=9"
    part = get(client, f"/api/ims_map?function={function}&scan={scan}&mz_bins=5&drift_bins=2{window}")
    inside = [i for i in range(len(mz)) if 500 <= mz[i] <= 800 and 2 <= drift[i] <= 9]
    assert sum(part["mobilogram"]) == sum(intensity[i] for i in inside)
    assert (part["mz_range"], len(part["mz"]), len(part["intensity"])) == ([500, 800], 5, 2)


@pytest.mark.parametrize(
    "processing", [{"centroid": True}, {"lock_mass": "leu-enk"}, {"centroid": True, "lock_mass": 556.2766, "lock_mass_tolerance": 0.3}]
)
def test_centroided_and_corrected_views_equal_tarnvale_tools(
    client: TestClient, paths: list[str], processing: dict[str, Any]
) -> None:
    run = tt.Run(paths[0])
    query = "&".join(f"{key}={str(value).lower()}" for key, value in processing.items())
    scan = run.read_scan(1, 155, **processing)
    found = get(client, f"/api/spectrum?function=1&scan=155&{query}")
    assert (found["mz"], found["intensity"], found["drift_time_ms"]) == (
        scan.mz.tolist(), scan.intensity.tolist(), scan.drift_time_ms.tolist()
    )
    assert (found["centroid"], found["lock_mass"]) == (processing.get("centroid", False), processing.get("lock_mass"))
    _, xic = run.xic(1, [524.2648], ppm=20, **processing)
    assert get(client, f"/api/xic?function=1&mz=524.2648&ppm=20&{query}")["traces"][0]["xic"] == xic.tolist()[0]
    grid = get(client, f"/api/ims_map?function=1&scan=155&mz_bins=3&drift_bins=3&{query}")
    assert sum(grid["mobilogram"]) == sum(scan.intensity.tolist())
    if "lock_mass" in processing:
        rt, observed, ppm = run.lock_mass_trace(processing["lock_mass"], processing.get("lock_mass_tolerance", 0.25))
        trace = get(client, f"/api/lock_mass?{query.replace('centroid=true&', '')}")
        none = [None if math.isnan(v) else v for v in observed.tolist()]
        assert (trace["rt_min"], trace["observed_mz"]) == (rt.tolist(), none)
        assert trace["ppm_error"] == [None if math.isnan(v) else v for v in ppm.tolist()]


def test_reduced_spectrum_keeps_its_strongest_points(client: TestClient, paths: list[str]) -> None:
    mz, intensity = tt.Run(paths[0]).columns(1).scan(155)
    found = get(client, "/api/spectrum?function=1&scan=155&width=4&mz_low=100")
    strongest = max(range(len(mz)), key=intensity.__getitem__)
    assert found["points"] == len(mz) and len(found["mz"]) <= 9  # 4 columns and one point below 100
    assert mz[strongest] in found["mz"] and sum(m < 100 for m in found["mz"]) <= 1


@pytest.mark.parametrize(("tolerance", "width"), [("ppm=30", None), ("da=0.02", None), ("ppm=10", 25)])
def test_xic_equals_tarnvale_tools(client: TestClient, paths: list[str], tolerance: str, width: int | None) -> None:
    targets = [524.2648, 785.8426, 420.7321]
    name, value = tolerance.split("=")
    rt, xic = tt.Run(paths[0]).xic(1, targets, **{name: float(value)})
    query = "&".join(f"mz={t}" for t in targets) + f"&{tolerance}" + (f"&width={width}" if width else "")
    found = get(client, f"/api/xic?function=1&{query}")
    assert [trace["mz"] for trace in found["traces"]] == targets
    for t, trace in enumerate(found["traces"]):
        row = xic.tolist()[t]
        expected_tolerance = targets[t] * float(value) * 1e-6 if name == "ppm" else float(value)
        assert trace["tolerance_da"] == expected_tolerance
        assert trace["xic"] == [row[s] for s in trace["scan"]] and trace["rt_min"] == [rt[s] for s in trace["scan"]]
        assert trace["scan"] == list(range(len(rt))) if width is None else max(range(len(row)), key=row.__getitem__) in trace["scan"]


@pytest.mark.parametrize(
    ("url", "message"),
    [
        ("/api/chromatogram?function=9", "lcms.raw has no function 9 (functions: 1, 2, 3)"),
        ("/api/chromatogram", "function: Field required"),
        ("/api/chromatogram?function=x", "function: Input should be a valid integer"),
        ("/api/chromatogram?function=0", "function: Input should be greater than or equal to 1"),
        ("/api/chromatogram?function=1&kind=xic", "kind: Input should be 'tic' or 'bpi'"),
        ("/api/chromatogram?function=1&width=0", "width: Input should be greater than or equal to 1"),
        ("/api/chromatogram?function=1&width=100000000", "width: Input should be less than or equal to 20000"),
        ("/api/chromatogram?function=1&rt_low=nan", "rt_low must be a finite number, not nan"),
        ("/api/chromatogram?function=1&rt_low=3&rt_high=2", "rt_low must not exceed rt_high, not 3.0 and 2.0"),
        ("/api/chromatogram?function=1&run=2", "run 2 is not served: runs 0 to 1"),
        ("/api/chromatogram?function=1&run=-1", "run: Input should be greater than or equal to 0"),
        ("/api/chromatogram?function=1&run=../etc", "run: Input should be a valid integer"),
        ("/api/spectrum?function=1&scan=270", "function 1 of lcms.raw has scans 0 to 269, not 270"),
        ("/api/spectrum?function=1&scan=99999999999999999999999", "scan: Input should be less than or equal to"),
        ("/api/spectrum?function=1", "scan: Field required"),
        ("/api/spectrum?function=1&scan=1&mz_high=-inf", "mz_high must be a finite number, not -inf"),
        ("/api/xic?function=1&ppm=10", "mz: Field required"),
        ("/api/xic?function=1&mz=524.26", "give the window as either ppm= or da="),
        ("/api/xic?function=1&mz=524.26&ppm=10&da=0.1", "give the window as either ppm= or da="),
        ("/api/xic?function=1&mz=524.26&ppm=0", "ppm: Input should be greater than 0"),
        ("/api/xic?function=1&mz=524.26&ppm=inf", "ppm: Input should be less than or equal to 100000"),
        ("/api/xic?function=1&mz=nan&ppm=10", "mz must be positive finite numbers, not nan"),
        ("/api/xic?function=1&mz=-5&ppm=10", "mz must be positive finite numbers, not -5.0"),
        ("/api/xic?function=1&" + "&".join(["mz=500"] * 65) + "&ppm=10", "mz: List should have at most 64 items"),
        ("/api/ims_map?function=1&scan=0&mz_bins=100000", "mz_bins: Input should be less than or equal to 4000"),
        ("/api/ims_map?function=1&scan=0&drift_bins=5000", "drift_bins: Input should be less than or equal to 1000"),
        ("/api/ims_map?function=1&scan=0&mz_low=100", "give both mz_low and mz_high or neither"),
        ("/api/ims_map?function=1&scan=0&drift_low=5&drift_high=5", "drift_low and drift_high must make a range"),
        ("/api/ims_map?function=3&scan=0", "function 3 of lcms.raw is not an ion-mobility function"),
        ("/api/channel?index=2", "lcms.raw has channels 0 to 1, not 2"),
        ("/api/channel?run=1&index=7", "sample.raw has channels 0 to 1, not 7"),
        ("/api/spectrum?function=1&scan=0&lock_mass=x", "lock_mass must be an m/z or one of leu-enk, leu-enk-neg, glu-fib"),
        ("/api/spectrum?function=1&scan=0&lock_mass=-inf", "lock_mass must be a positive m/z, not '-inf'"),
        ("/api/spectrum?function=1&scan=0&lock_mass_tolerance=1", "lock_mass_tolerance applies only with lock_mass"),
        ("/api/xic?function=1&mz=500&ppm=5&lock_mass=100", "lcms.raw: none of the 13 lock scans has a peak within 0.25"),
        ("/api/lock_mass?lock_mass=leu-enk&lock_mass_tolerance=50", "lock_mass_tolerance: Input should be less than"),
        ("/api/run?run=1e3", "run: Input should be a valid integer"),
    ],
)
def test_bad_parameters_get_400_and_a_message(client: TestClient, url: str, message: str) -> None:
    response = client.get(url, headers=HEADERS)
    assert response.status_code == 400, response.text
    assert response.json()["error"].startswith(message)


def test_every_point_of_many_traces_needs_a_width(client: TestClient, monkeypatch: pytest.MonkeyPatch) -> None:
    from tarnvale_tools.view import api

    monkeypatch.setattr(api, "MAX_XIC_POINTS", 2 * 270)
    query = "/api/xic?function=1&ppm=10&mz=500&mz=600"
    assert client.get(query, headers=HEADERS).status_code == 200
    response = client.get(query + "&mz=700", headers=HEADERS)
    assert response.json() == {"error": "3 traces of 270 scans are more than 540 points: give width= (or fewer targets)"}
    assert client.get(query + "&mz=700&width=100", headers=HEADERS).status_code == 200


def test_numbers_json_cannot_hold_are_null(tmp_path: Path) -> None:
    # A chromatogram channel whose samples are NaN and infinite.
    description = samples.sample()
    description.chroms.channels[0].points = [(0.5, math.nan), (math.inf, 2.0), (1.5, -math.inf)]
    client = TestClient(create_app([ServedRun(0, str(description.write(tmp_path / "odd.raw")), 1 << 20)], TOKEN))
    found = get(client, "/api/channel?index=0")
    assert (found["rt_min"], found["value"]) == ([0.5, None, 1.5], [None, 2.0, None])


def test_damaged_scans_are_skipped_in_traces_and_422_on_their_own(tmp_path: Path) -> None:
    path = str(tools_samples.random_raw("A", 1).write(tmp_path / "damaged.raw"))
    skipped = tt.Run(path).columns(1, on_error="skip").skipped
    assert skipped
    client = TestClient(create_app([ServedRun(0, path, 1 << 20)], TOKEN))
    found = get(client, "/api/chromatogram?function=1")
    assert found["skipped"] == skipped and all(found["tic"][s] == 0 for s in skipped)
    assert get(client, "/api/xic?function=1&mz=500&da=1000")["skipped"] == skipped
    response = client.get(f"/api/spectrum?function=1&scan={skipped[0]}", headers=HEADERS)
    assert response.status_code == 422
    assert response.json()["error"].startswith(f"{path} function 1 scan {skipped[0]}: ")
