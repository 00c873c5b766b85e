"""The viewer's page in a real browser (Debian's headless Chromium): it renders the
demo LC run, a click on the TIC apex shows that scan's spectrum, a typed m/z draws
its trace, and a second run is overlaid and can be chosen."""

from __future__ import annotations

from pathlib import Path

import pytest
import samples
import view_browser
from rawfixture import demo_lc

import tarnvale_tools as tt

pytest.importorskip("fastapi")
pytestmark = pytest.mark.skipif(view_browser.browser_missing() is not None,
                                reason=f"cannot drive a browser: {view_browser.browser_missing()}")


def test_click_the_apex_and_draw_an_xic(tmp_path: Path) -> None:
    run = str(demo_lc().write(tmp_path / "lcms.raw"))
    other = str(samples.sample().write(tmp_path / "sample.raw"))
    rt, tic = tt.Run(run).tic(1)
    apex = max(range(len(tic)), key=tic.__getitem__)
    early = 30  # on the baseline, far from the apex
    with view_browser.served([run, other], "browser-test") as url:
        driver = view_browser.chromium()
        try:
            view_browser.open_page(driver, url)
            for scan in (early, apex):
                view_browser.click_point(driver, "chromatogram-1", rt[scan], tic[scan])
                view_browser.wait_for(
                    driver, f"return document.getElementById('spectrum-title').textContent.includes('scan {scan} ')", 20
                )
                assert view_browser.spectrum_title(driver).startswith(f"Function 1, scan {scan} (RT {rt[scan]:.4f} min)")
            # The spectrum of an ion-mobility scan comes with its map.
            assert driver.execute_script("return document.getElementById('ims-map').data[0].type") == "heatmap"
            for toggle, shown in (("centroid", ", centroided"), ("lock-mass-on", ", lock-mass corrected (leu-enk)")):
                driver.find_element("id", toggle).click()
                view_browser.wait_for(driver, "return document.getElementById('spectrum-title').textContent"
                                              f".endsWith({shown!r})", 20)
            assert driver.execute_script("return document.getElementById('lock-mass-trace').data[0].x.length") == 13
            view_browser.draw_xic(driver, "524.2648")
            traces = view_browser.xic_traces(driver)
            assert [t["name"] for t in traces] == ["m/z 524.2648 ± 10 ppm"] and traces[0]["above"] > 10
            driver.save_screenshot(str(tmp_path / "view.png"))
            overlay = driver.execute_script("return document.getElementById('overlay').data.map(t => t.name)")
            assert overlay == ["lcms.raw (function 1)", "sample.raw (function 1)"]
            driver.execute_script("const s = document.getElementById('run-select'); s.value = '1';"
                                  "s.dispatchEvent(new Event('change'));")
            other_tic = tt.Run(other).tic(1)[1]
            other_apex = max(range(len(other_tic)), key=other_tic.__getitem__)
            view_browser.wait_for(driver, "return document.getElementById('spectrum-title').textContent"
                                          f".startsWith('Function 1, scan {other_apex} ')")
            assert driver.execute_script("return document.getElementById('run-title').textContent") == "sample.raw"
            errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
            assert errors == []
        finally:
            driver.quit()
    picture = (tmp_path / "view.png").read_bytes()
    assert picture.startswith(b"\x89PNG") and len(picture) > 50_000
