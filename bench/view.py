#!/usr/bin/env python3
"""How fast ``tarnvale view`` answers, beside floors measured in the same run.

Writes a run of SCANS scans of POINTS points (encoding A; 200,000 x 50 by default)
and one of a few 100,000-point scans, serves both on a loopback port, and measures
over HTTP, best of ROUNDS rounds taken in turns:

- the TIC at width=2000: the first request (which reads the function) beside the
  core's own pass over it (``Run.chromatograms``), and once kept, beside the
  smallest request there is (``/api/runs``: the cost of HTTP itself);
- a spectrum of 100,000 points, exact: beside decoding the scan alone
  (``Run.read_scan``), and beside Python's ``json.dumps`` of its values (the peer);
- an XIC of 10 targets over all the scans at width=2000: beside ``Run.xic`` in the
  same process;
- the page's first render of the demo LC run in headless Chromium (the page's own
  measure, from navigation to the last plot drawn), beside the moment plotly.js has
  loaded and run (DOMContentLoaded starts): the floor of any page drawn with it; in a
  new browser, and reloaded in the same one, which keeps plotly.js compiled.

The issue's targets are printed beside each figure. Run with the modules on
``PYTHONPATH``: ``PYTHONPATH=build/python python3 bench/view.py`` (``make bench`` runs
it with the others); SCANS, POINTS and ROUNDS in the environment change the sizes.
"""

from __future__ import annotations

import http.client
import json
import os
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from urllib.parse import urlsplit

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "scripts"))
sys.path.insert(0, str(HERE))

import rawfixture  # noqa: E402
import tools_end_to_end  # noqa: E402
import view_browser  # noqa: E402

import tarnvale_tools as tt  # noqa: E402

SCANS = int(os.environ.get("SCANS", 200_000))
POINTS = int(os.environ.get("POINTS", 50))
SPECTRUM_POINTS = 100_000
ROUNDS = int(os.environ.get("ROUNDS", 5))
RENDER_ROUNDS = 3
TARGETS = [100.0 + 173.3 * i + 0.37 for i in range(10)]
TOKEN = "bench"


class Client:
    """One keep-alive HTTP connection to the viewer."""

    def __init__(self, url: str) -> None:
        parts = urlsplit(url)
        self.connection = http.client.HTTPConnection(parts.hostname or "127.0.0.1", parts.port)

    def get(self, path: str) -> bytes:
        self.connection.request("GET", path, headers={"X-Tarnvale-Token": TOKEN})
        response = self.connection.getresponse()
        body = response.read()
        if response.status != 200:
            raise RuntimeError(f"{path}: {response.status} {body[:200]!r}")
        return body


def seconds(action: Callable[[], object]) -> float:
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def best_of(pairs: dict[str, tuple[Callable[[], object], Callable[[], object]]]) -> dict[str, tuple[float, float]]:
    """Each (measured, floor) pair timed in turns, ROUNDS rounds; the best of each, in ms."""
    best = {name: [float("inf"), float("inf")] for name in pairs}
    for _ in range(ROUNDS):
        for name, (measured, floor) in pairs.items():
            best[name][0] = min(best[name][0], seconds(measured) * 1e3)
            best[name][1] = min(best[name][1], seconds(floor) * 1e3)
    return {name: (values[0], values[1]) for name, values in best.items()}


def first_request(paths: list[str]) -> tuple[float, float]:
    """The TIC's first request (a fresh server, nothing kept) beside the core's pass, best of ROUNDS."""
    run = tt.Run(paths[0])
    measured, floor = float("inf"), float("inf")
    for _ in range(ROUNDS):
        with view_browser.served(paths, TOKEN) as url:
            client = Client(url)
            measured = min(measured, seconds(lambda: client.get("/api/chromatogram?function=1&width=2000")) * 1e3)
        floor = min(floor, seconds(lambda: run.chromatograms(1)) * 1e3)
    return measured, floor


PLOTLY_LOADED = "return performance.getEntriesByType('navigation')[0].domContentLoadedEventStart"


def first_render(demo: str) -> tuple[tuple[float, float], tuple[float, float]]:
    """The page's first complete render and plotly.js's load, in ms from navigation, best of RENDER_ROUNDS:
    in a new browser each time (nothing kept), and reloaded in the same browser (which keeps plotly.js
    compiled)."""
    cold, warm = [float("inf"), float("inf")], [float("inf"), float("inf")]
    with view_browser.served([demo], TOKEN) as url:
        for _ in range(RENDER_ROUNDS):
            driver = view_browser.chromium()
            try:
                for best in (cold, warm):
                    best[0] = min(best[0], view_browser.open_page(driver, url))
                    best[1] = min(best[1], float(driver.execute_script(PLOTLY_LOADED)))
            finally:
                driver.quit()
    return (cold[0], cold[1]), (warm[0], warm[1])


def row(name: str, measured: float, floor: float, floor_name: str, target: str) -> str:
    return f"{name:<34}{measured:9.1f} ms {floor:9.1f} ms {measured / floor:7.2f}x  {floor_name:<28}{target}"


def main() -> None:
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as temp:
        folder = Path(temp)
        long_run, wide_run = folder / "long.raw", folder / "wide.raw"
        tools_end_to_end.build(long_run, "A", SCANS, POINTS)
        tools_end_to_end.build(wide_run, "A", 4, SPECTRUM_POINTS)
        demo = str(rawfixture.demo_lc().write(folder / "lcms.raw"))
        paths = [str(long_run), str(wide_run)]
        long, wide = tt.Run(paths[0]), tt.Run(paths[1])

        first, core_pass = first_request(paths)
        with view_browser.served(paths, TOKEN) as url:
            client = Client(url)
            client.get("/api/chromatogram?function=1&width=2000")  # kept from here on
            scan = wide.read_scan(1, 1)
            assert len(scan.mz) == SPECTRUM_POINTS
            spectrum = json.loads(client.get("/api/spectrum?run=1&function=1&scan=1"))
            assert spectrum["mz"] == scan.mz.tolist() and spectrum["intensity"] == scan.intensity.tolist()
            fresh = iter(range(1, 1_000_000))

            def new_xic() -> bytes:
                # Targets moved by a hair each time, so that nothing kept answers it.
                shift = next(fresh) * 1e-9
                return client.get("/api/xic?function=1&ppm=10&width=2000&" + "&".join(f"mz={t + shift}" for t in TARGETS))

            figures = best_of({
                "tic": (lambda: client.get("/api/chromatogram?function=1&width=2000"), lambda: client.get("/api/runs")),
                "spectrum": (lambda: client.get("/api/spectrum?run=1&function=1&scan=1"), lambda: wide.read_scan(1, 1)),
                "spectrum json.dumps": (
                    lambda: client.get("/api/spectrum?run=1&function=1&scan=1"),
                    lambda: json.dumps({"mz": scan.mz.tolist(), "intensity": scan.intensity.tolist()}),
                ),
                "xic": (new_xic, lambda: long.xic(1, TARGETS, ppm=10)),
            })
        missing = view_browser.browser_missing()
        render = first_render(demo) if missing is None else None

    print(f"run: {SCANS:,} scans x {POINTS} points (encoding A); spectrum: {SPECTRUM_POINTS:,} points; "
          f"best of {ROUNDS} rounds, in turns")
    print(f"{'':<34}{'viewer':>12} {'floor':>12} {'ratio':>8}  {'floor is':<28}target")
    print(row("TIC width=2000, first request", first, core_pass, "Run.chromatograms", ""))
    print(row("TIC width=2000, kept", *figures["tic"], "GET /api/runs", "<= 100 ms"))
    print(row(f"spectrum {SPECTRUM_POINTS:,} points", *figures["spectrum"], "Run.read_scan", "<= 50 ms"))
    print(row("  beside json.dumps", *figures["spectrum json.dumps"], "json.dumps of its lists", ""))
    print(row(f"XIC 10 targets, width=2000", *figures["xic"], "Run.xic", "<= 200 ms"))
    if render is None:
        print(f"first render: not measured ({missing})")
    else:
        print(row("first render, demo LC run", *render[0], "plotly.js loaded", "<= 1500 ms"))
        print(row("  the page reloaded", *render[1], "plotly.js loaded", ""))


if __name__ == "__main__":
    main()
