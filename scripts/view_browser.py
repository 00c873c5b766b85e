#!/usr/bin/env python3
"""Driving ``tarnvale view``'s page in headless Chromium (Debian's chromium and
chromedriver, through Selenium), for the browser test, the benchmark and the
documentation's screenshot::

    python3 scripts/view_browser.py screenshot OUT.png [RUN.raw]

writes a picture of the page on RUN.raw (default: the demo's LC run, written to a
temporary directory) after clicking its TIC apex, drawing three XICs and turning on
the centroided, lock-mass-corrected view.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import socket
import sys
import tempfile
import threading
import time
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WINDOW = (1400, 1800)
READY_TIMEOUT_S = 60.0


def browser_missing() -> str | None:
    """Why the page cannot be driven here, or None when it can."""
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            return f"no {program} (Debian's chromium and chromium-driver packages)"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "no selenium"
    return None


def chromium(width: int = WINDOW[0], height: int = WINDOW[1]) -> Any:
    """A headless Chromium driven by chromedriver. The browser gets the environment
    without LD_PRELOAD: sanitizer runtimes preloaded for the tests are not its own."""
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service

    options = Options()
    options.binary_location = CHROMIUM
    # --no-sandbox: the tests run as root, where Chromium's sandbox refuses to start.
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-extensions", "--no-first-run", f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    environment = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    return webdriver.Chrome(options=options, service=Service(CHROMEDRIVER, env=environment))


@contextlib.contextmanager
def served(paths: Sequence[str], token: str, cache_bytes: int = 1 << 28) -> Iterator[str]:
    """The viewer serving `paths` on a free loopback port, in a thread; yields the page's address."""
    import uvicorn

    from tarnvale_tools.view import ServedRun, create_app

    runs = [ServedRun(index, path, cache_bytes) for index, path in enumerate(paths)]
    listener = socket.create_server(("127.0.0.1", 0))
    server = uvicorn.Server(uvicorn.Config(create_app(runs, token), log_level="warning", lifespan="off"))
    thread = threading.Thread(target=server.run, kwargs={"sockets": [listener]}, daemon=True)
    thread.start()
    try:
        while not server.started:
            if not thread.is_alive():
                raise RuntimeError("the viewer did not start")
            time.sleep(0.02)
        yield f"http://127.0.0.1:{listener.getsockname()[1]}/?token={token}"
    finally:
        server.should_exit = True
        thread.join(10)
        listener.close()


def wait_for(driver: Any, script: str, timeout: float = READY_TIMEOUT_S) -> Any:
    """The first truthy value of `script` (run in the page), or TimeoutError with the page's status line."""
    deadline = time.monotonic() + timeout
    while True:
        value = driver.execute_script(script)
        if value:
            return value
        if time.monotonic() > deadline:
            status = driver.execute_script("return document.getElementById('status').textContent")
            raise TimeoutError(f"waited {timeout:g} s for {script!r}; the page says {status!r}")
        time.sleep(0.05)


def open_page(driver: Any, url: str) -> float:
    """Loads the page and waits for its first complete render; its time in ms, as the page measured it."""
    driver.get(url)
    return float(wait_for(driver, "return document.body.dataset.ready === '1' && document.body.dataset.renderedMs"))


def click_point(driver: Any, plot_id: str, x: float, y: float) -> None:
    """A real mouse click on the point (x, y) of a plot's first axes."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By

    element = driver.find_element(By.ID, plot_id)
    left, top = driver.execute_script(
        "const l = arguments[0]._fullLayout;"
        "return [l._size.l + l.xaxis.l2p(arguments[1]), l._size.t + l.yaxis.l2p(arguments[2])];",
        element, x, y,
    )
    size = element.size
    ActionChains(driver).move_to_element_with_offset(
        element, round(left - size["width"] / 2), round(top - size["height"] / 2)
    ).pause(0.2).click().perform()


def spectrum_title(driver: Any) -> str:
    return str(driver.execute_script("return document.getElementById('spectrum-title').textContent"))


def draw_xic(driver: Any, text: str, tolerance: float | None = None) -> None:
    from selenium.webdriver.common.by import By

    for field_id, value in (("xic-mz", text), ("xic-tolerance", tolerance)):
        if value is not None:
            field = driver.find_element(By.ID, field_id)
            field.clear()
            field.send_keys(str(value))
    driver.find_element(By.CSS_SELECTOR, "#xic-form button").click()


def xic_traces(driver: Any) -> list[dict[str, Any]]:
    """The XIC plot's traces (name and number of points above zero) once drawn."""
    return list(wait_for(
        driver,
        "const p = document.getElementById('xic');"
        "return p.data && p.data.length && p.data.map(t => ({name: t.name, above: t.y.filter(v => v > 0).length}));",
    ))


def screenshot(out: Path, run: str | None) -> None:
    from selenium.webdriver.common.by import By

    import tarnvale_tools as tt

    with tempfile.TemporaryDirectory() as temp:
        if run is None:
            sys.path.insert(0, str(Path(__file__).resolve().parent))
            import rawfixture

            run = str(rawfixture.demo_lc().write(Path(temp) / "lcms.raw"))
        with served([run], "screenshot") as url:
            driver = chromium(1400, 1400)
            try:
                open_page(driver, url)
                rt, tic = tt.Run(run).tic(1)
                apex = max(range(len(tic)), key=tic.__getitem__)
                click_point(driver, "chromatogram-1", rt[apex], tic[apex])
                wait_for(driver, f"return document.getElementById('spectrum-title').textContent.includes('scan {apex} ')")
                draw_xic(driver, "524.2648 785.8426 420.7321", 30)
                xic_traces(driver)
                # The centroided, lock-mass-corrected view, with the lock mass's error over time.
                driver.find_element(By.ID, "centroid").click()
                driver.find_element(By.ID, "lock-mass-on").click()
                wait_for(driver, "return document.getElementById('lock-mass-trace').data")
                # The whole page in one picture, from the top.
                for _ in range(2):  # the page reflows once at the new size
                    height = driver.execute_script("window.scrollTo(0, 0); return document.documentElement.scrollHeight")
                    driver.set_window_size(1400, height + 120)
                    time.sleep(1.0)
                partial = out.with_name(f".part-{out.name}")
                driver.save_screenshot(str(partial))
                os.replace(partial, out)
            finally:
                driver.quit()


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    shot = commands.add_parser("screenshot", help="write a picture of the page")
    shot.add_argument("out", type=Path)
    shot.add_argument("run", nargs="?")
    args = parser.parse_args(argv)
    missing = browser_missing()
    if missing is not None:
        print(f"view_browser: cannot drive a browser: {missing}", file=sys.stderr)
        return 1
    screenshot(args.out, args.run)
    print(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
