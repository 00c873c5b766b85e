"""The quick-look figure of a run: one function per panel, each drawing plain arrays.

`quicklook_figure` lays the panels out on a matplotlib ``Figure`` made without
pyplot (no display, no global figure list): the chromatograms of every function
above the extracted-ion traces and the chromatogram channels, all on one
retention-time axis, then the chosen scan as sticks and, for an ion-mobility
function, its m/z × drift-time map and mobilogram.  Each panel's axes carry a
label ("function 1", "xic", "channel 0", "spectrum", "scan info", "heat map",
"mobilogram") so that callers and tests can find them.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import matplotlib as mpl
import numpy as np
import numpy.typing as npt
from matplotlib.axes import Axes
from matplotlib.colors import LogNorm
from matplotlib.figure import Figure
from matplotlib.gridspec import GridSpec

from .quicklook import ChannelTrace, FunctionTraces, QuickLook, ScanData, XicTraces

Array = npt.NDArray[Any]

WIDTH_IN = 12.0
DPI = 120
# Panel heights (inches) by kind; the figure is as tall as its panels.
HEIGHT_IN = {"function": 1.55, "xic": 1.55, "channel": 0.95, "spectrum": 2.7, "heat map": 3.1, "title": 0.75}
STYLE = {
    "font.size": 9,
    "axes.titlesize": 9.5,
    "axes.labelsize": 9,
    "legend.fontsize": 8,
    "xtick.labelsize": 8,
    "ytick.labelsize": 8,
    "axes.grid": True,
    "grid.alpha": 0.3,
    "grid.linewidth": 0.5,
}
TIC_COLOUR, BPI_COLOUR, SCAN_COLOUR = "#1f4e9c", "#d9731a", "#b0203a"
LOCK_MASS_FACE, LOCK_MASS_COLOUR = "#fff4dc", "#9a5a00"
PEAK_LABELS = 8
# Top-peak labels closer than this fraction of the m/z axis would collide;
# peaks weaker than LABEL_FLOOR of the base peak are not worth a label.
LABEL_GAP = 0.045
LABEL_FLOOR = 0.01
MZ_BINS = 320
MAX_DRIFT_BINS = 250
MARKERS_BELOW = 60  # sparse traces get a marker per scan


def quicklook_figure(data: QuickLook) -> Figure:
    """The whole picture; matplotlib's rc settings are untouched outside this call."""
    with mpl.rc_context(STYLE):
        return _layout(data)


def _layout(data: QuickLook) -> Figure:
    rt_rows = ["function"] * len(data.traces) + ["xic"] * (data.xic is not None) + ["channel"] * len(data.channels)
    rows = rt_rows + ["spectrum"] + ["heat map"] * (data.scan.drift_time_ms is not None)
    heights = [HEIGHT_IN[row] for row in rows]
    figure = Figure(figsize=(WIDTH_IN, sum(heights) + HEIGHT_IN["title"]), dpi=DPI, layout="constrained")
    grid = figure.add_gridspec(len(rows), 2, height_ratios=heights, width_ratios=[4.2, 1])
    figure.suptitle(run_title(data), fontsize=11, fontweight="bold")
    _retention_time_panels(figure, grid, data)
    _scan_panels(figure, grid, len(rt_rows), data.scan)
    return figure


def _retention_time_panels(figure: Figure, grid: GridSpec, data: QuickLook) -> None:
    """Every panel against retention time, one row each, on one shared axis."""
    first = figure.add_subplot(grid[0, :])
    count = len(data.traces) + (data.xic is not None) + len(data.channels)
    rt_axes = [first] + [figure.add_subplot(grid[row, :], sharex=first) for row in range(1, count)]
    panels = iter(rt_axes)
    for traces in data.traces:
        axes = _labelled(next(panels), f"function {traces.function.index}")
        function_panel(axes, traces.rt_min, traces.tic, traces.bpi, **function_style(traces))
        lock = data.lock_mass
        if lock is not None and lock.function == traces.function.index:
            lock_mass_panel(_labelled(axes.twinx(), "lock mass ppm"), lock.rt_min, lock.ppm, lock.mz)
    if data.xic is not None:
        xic = data.xic
        xic_panel(_labelled(next(panels), "xic"), xic.rt_min, xic.values, xic.targets, xic_title(xic))
    for channel in data.channels:
        axes = _labelled(next(panels), f"channel {channel.channel.index}")
        channel_panel(axes, channel.rt_min, channel.values, **channel_style(channel))
    for axes in rt_axes:
        mark_scan(axes, data.scan.rt_min)
        axes.tick_params(labelbottom=axes is rt_axes[-1])
    rt_axes[-1].set_xlabel("Retention time (min)")


def _scan_panels(figure: Figure, grid: GridSpec, row: int, scan: ScanData) -> None:
    """The scan's sticks and summary from grid row `row`, its ion-mobility panels below."""
    spectrum = _labelled(figure.add_subplot(grid[row, 0]), "spectrum")
    mz, intensity = scan_sticks(scan)
    spectrum_panel(spectrum, mz, intensity, spectrum_title(scan), mz_range(scan, mz))
    info_panel(_labelled(figure.add_subplot(grid[row, 1]), "scan info"), scan_info(scan, mz, intensity))
    if scan.drift_time_ms is not None:
        heat_map = _labelled(figure.add_subplot(grid[row + 1, 0], sharex=spectrum), "heat map")
        heat_map_panel(heat_map, scan.mz, scan.drift_time_ms, scan.intensity, mz_range(scan, mz))
        mobilogram = _labelled(figure.add_subplot(grid[row + 1, 1], sharey=heat_map), "mobilogram")
        mobilogram_panel(mobilogram, scan.drift_time_ms, scan.intensity)


def _labelled(axes: Axes, label: str) -> Axes:
    axes.set_label(label)
    return axes


# ---------------------------------------------------------------- panels


def function_panel(axes: Axes, rt_min: Array, tic: Array, bpi: Array, *, title: str, lock_mass: bool = False) -> None:
    """TIC and base-peak intensity of one function against retention time."""
    marker = "." if len(rt_min) <= MARKERS_BELOW else None
    axes.plot(rt_min, tic, color=TIC_COLOUR, lw=1.0, marker=marker, ms=3, label="TIC")
    axes.plot(rt_min, bpi, color=BPI_COLOUR, lw=0.9, marker=marker, ms=3, label="BPI")
    _intensity_axis(axes, max(_top(tic), _top(bpi)))
    _legend_above(axes, 2)
    axes.set_title(title, loc="left", color=LOCK_MASS_COLOUR if lock_mass else "black")
    if lock_mass:
        axes.set_facecolor(LOCK_MASS_FACE)
    if len(rt_min) == 0:
        _say(axes, "no scans")


def lock_mass_panel(axes: Axes, rt_min: Array, ppm: Array, mz: float) -> None:
    """The lock mass's error (ppm) per lock scan, on its own axis over the lock-mass
    function's chromatograms; a lock scan without the reference leaves a gap."""
    axes.axhline(0.0, color=LOCK_MASS_COLOUR, lw=0.6, ls=":")
    axes.plot(rt_min, ppm, color=LOCK_MASS_COLOUR, lw=1.0, marker="o", ms=3.5, label=f"lock mass {mz:.4f}")
    axes.set_ylabel(f"m/z {mz:.4f}\nerror (ppm)", color=LOCK_MASS_COLOUR)
    axes.tick_params(axis="y", colors=LOCK_MASS_COLOUR)
    axes.grid(False)
    found = ppm[np.isfinite(ppm)]
    if len(found):
        reach = max(float(np.abs(found).max()) * 1.15, 1.0)
        axes.set_ylim(-reach, reach)


def xic_panel(axes: Axes, rt_min: Array, xic: Array, targets: Sequence[float], title: str) -> None:
    """One extracted-ion trace per target m/z."""
    marker = "." if len(rt_min) <= MARKERS_BELOW else None
    for target, values in zip(targets, xic, strict=True):
        axes.plot(rt_min, values, lw=1.0, marker=marker, ms=3, label=f"m/z {target:.4f}")
    _intensity_axis(axes, _top(xic))
    _legend_above(axes, min(len(targets), 4))
    axes.set_title(title, loc="left")


def channel_panel(axes: Axes, rt_min: Array, values: Array, *, title: str, units: str, problem: str | None) -> None:
    """A chromatogram channel (pressure, temperature, ...) in its own units."""
    marker = "." if len(rt_min) <= MARKERS_BELOW else None
    axes.plot(rt_min, values, color="0.25", lw=1.0, marker=marker, ms=3, label="samples")
    axes.set_ylabel(units or "value")
    axes.set_title(title, loc="left")
    axes.ticklabel_format(axis="y", useOffset=False)
    if problem is not None:
        _say(axes, problem)
    elif len(rt_min) == 0:
        _say(axes, "no samples")


def spectrum_panel(axes: Axes, mz: Array, intensity: Array, title: str, mz_limits: tuple[float, float]) -> None:
    """The scan as sticks, its strongest peaks labelled with their m/z."""
    axes.vlines(mz, 0, intensity, color="black", lw=0.8, label="sticks")
    top = float(intensity.max()) if len(intensity) else 1.0
    for index in label_peaks(mz, intensity, mz_limits):
        axes.annotate(
            f"{mz[index]:.4f}",
            (float(mz[index]), float(intensity[index])),
            xytext=(0, 2),
            textcoords="offset points",
            ha="center",
            va="bottom",
            fontsize=7.5,
            color=SCAN_COLOUR,
        )
    axes.set_xlim(*mz_limits)
    axes.set_ylim(0, top * 1.15)
    axes.ticklabel_format(axis="y", style="sci", scilimits=(-3, 4))
    axes.set_xlabel("m/z")
    axes.set_ylabel("Intensity")
    axes.set_title(title, loc="left")
    if len(mz) == 0:
        _say(axes, "empty scan")


def info_panel(axes: Axes, lines: Sequence[str]) -> None:
    """A few lines of text about the scan, beside its sticks."""
    axes.axis("off")
    axes.text(0.0, 1.0, "\n".join(lines), va="top", ha="left", fontsize=8, family="monospace", transform=axes.transAxes)


def heat_map_panel(
    axes: Axes, mz: Array, drift_time_ms: Array, intensity: Array, mz_limits: tuple[float, float]
) -> None:
    """Intensity over m/z × drift time, summed in bins across `mz_limits`, on a log colour scale."""
    axes.set_xlabel("m/z")
    axes.set_ylabel("Drift time (ms)")
    axes.set_title("Ion mobility: m/z × drift time (log colour scale)", loc="left")
    axes.grid(False)
    if not np.any(intensity > 0):
        _say(axes, "no ions")
        return
    counts, mz_edges, drift_edges = heat_map_bins(mz, drift_time_ms, intensity, mz_limits)
    shown = np.ma.masked_less_equal(counts.T, 0)
    low, high = float(shown.min()), float(shown.max())
    norm = LogNorm(vmin=low, vmax=high if high > low else low * 10)
    mesh = axes.pcolormesh(mz_edges, drift_edges, shown, norm=norm, cmap="viridis", rasterized=True)
    axes.set_xlim(*mz_limits)
    axes.set_ylim(float(drift_edges[0]), float(drift_edges[-1]))
    colourbar = axes.figure.colorbar(mesh, ax=axes, location="bottom", shrink=0.5, aspect=50, pad=0.02)
    colourbar.set_label("Summed intensity per bin")


def mobilogram_panel(axes: Axes, drift_time_ms: Array, intensity: Array) -> None:
    """Summed intensity per drift bin, drawn sideways beside the heat map."""
    centres, sums = mobilogram(drift_time_ms, intensity)
    axes.plot(sums, centres, color=TIC_COLOUR, lw=1.0, label="mobilogram")
    axes.fill_betweenx(centres, 0, sums, color=TIC_COLOUR, alpha=0.2, lw=0)
    axes.set_xlim(left=0)
    axes.ticklabel_format(axis="x", style="sci", scilimits=(-3, 4))
    axes.tick_params(labelleft=False)
    axes.set_xlabel("Intensity")
    axes.set_title("Mobilogram", loc="left")


def mark_scan(axes: Axes, rt_min: float) -> None:
    """The chosen scan's retention time, as a dashed line on every RT panel."""
    axes.axvline(rt_min, color=SCAN_COLOUR, lw=0.8, ls="--", alpha=0.8, label="_scan")


def _intensity_axis(axes: Axes, top: float) -> None:
    """Intensity from zero with a little room above the highest point."""
    axes.set_ylabel("Intensity")
    axes.ticklabel_format(axis="y", style="sci", scilimits=(-3, 4))
    axes.set_ylim(0, top * 1.08 if top > 0 else 1.0)


def _legend_above(axes: Axes, columns: int) -> None:
    """The legend on the title's line, right-aligned, where no trace can run under it."""
    axes.legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), ncols=columns, frameon=False, borderaxespad=0.1)


def _top(values: Array) -> float:
    return float(np.max(values)) if values.size else 0.0


def _say(axes: Axes, text: str) -> None:
    axes.text(0.5, 0.5, text, transform=axes.transAxes, ha="center", va="center", color="0.4")


# ---------------------------------------------------------------- data behind the panels


def scan_sticks(scan: ScanData) -> tuple[Array, Array]:
    """The scan's sticks: its points, or for ion mobility the intensity at each
    m/z summed over drift time (the same m/z recurs once per drift bin)."""
    if scan.drift_time_ms is None:
        return scan.mz, scan.intensity
    return collapse_drift(scan.mz, scan.intensity)


def collapse_drift(mz: Array, intensity: Array) -> tuple[Array, Array]:
    """Distinct m/z values in ascending order and the summed intensity at each."""
    unique, where = np.unique(mz, return_inverse=True)
    return unique, np.bincount(where, weights=intensity, minlength=len(unique))


def label_peaks(mz: Array, intensity: Array, mz_limits: tuple[float, float], count: int = PEAK_LABELS) -> list[int]:
    """Indices of up to `count` peaks to label, strongest first, skipping a peak
    whose label would sit too close to a stronger one's and peaks near the noise."""
    gap = (mz_limits[1] - mz_limits[0]) * LABEL_GAP
    floor = _top(intensity) * LABEL_FLOOR
    chosen: list[int] = []
    for index in np.argsort(-np.asarray(intensity, dtype=np.float64), kind="stable"):
        if len(chosen) == count or intensity[index] <= floor:
            break
        if all(abs(float(mz[index] - mz[other])) >= gap for other in chosen):
            chosen.append(int(index))
    return chosen


def mz_range(scan: ScanData, mz: Array) -> tuple[float, float]:
    """The function's m/z window, widened to any point that lies outside it."""
    low, high = scan.function.mz_low, scan.function.mz_high
    if len(mz):
        low, high = min(low, float(mz.min())), max(high, float(mz.max()))
    return (low, high) if high > low else (low - 0.5, low + 0.5)


def drift_bins(drift_time_ms: Array) -> tuple[Array, Array]:
    """Bin edges and centres of drift time: one bin per distinct drift time when
    there are few (the instrument's own mobility bins), else equal bins."""
    unique = np.unique(drift_time_ms)
    if len(unique) == 1:
        return np.array([unique[0] - 0.5, unique[0] + 0.5]), unique
    if len(unique) <= MAX_DRIFT_BINS:
        middles = (unique[1:] + unique[:-1]) / 2
        edges = np.concatenate(([2 * unique[0] - middles[0]], middles, [2 * unique[-1] - middles[-1]]))
        return edges, unique
    edges = np.linspace(unique[0], unique[-1], MAX_DRIFT_BINS + 1)
    return edges, (edges[1:] + edges[:-1]) / 2


def heat_map_bins(
    mz: Array, drift_time_ms: Array, intensity: Array, mz_limits: tuple[float, float]
) -> tuple[Array, Array, Array]:
    """Summed intensity per (m/z bin, drift bin), with the bin edges; the m/z
    bins span `mz_limits`, which hold every point."""
    mz_edges = np.linspace(*mz_limits, MZ_BINS + 1)
    drift_edges, _ = drift_bins(drift_time_ms)
    counts, _, _ = np.histogram2d(mz, drift_time_ms, bins=(mz_edges, drift_edges), weights=intensity)
    return counts, mz_edges, drift_edges


def mobilogram(drift_time_ms: Array, intensity: Array) -> tuple[Array, Array]:
    """(drift time, summed intensity) per drift bin."""
    if len(drift_time_ms) == 0:
        return np.zeros(0), np.zeros(0)
    edges, centres = drift_bins(drift_time_ms)
    sums, _ = np.histogram(drift_time_ms, bins=edges, weights=intensity)
    return centres, sums


# ---------------------------------------------------------------- text


def run_title(data: QuickLook) -> str:
    header = data.header
    parts = [data.run_name, header.instrument or "unknown instrument"]
    acquired = " ".join(part for part in (header.acquired_date, header.acquired_time) if part)
    if acquired:
        parts.append(acquired)
    lines = ["  ·  ".join(parts)]
    if header.sample_description:
        lines.append(header.sample_description)
    if data.hidden_functions:
        lines.append(f"(functions {', '.join(map(str, data.hidden_functions))} not shown)")
    return "\n".join(lines)


def function_style(traces: FunctionTraces) -> dict[str, Any]:
    """Title and lock-mass flag of a function's panel; a lock-mass title names
    the m/z the function actually recorded, so a missing lock mass shows."""
    f = traces.function
    kind = ["LOCK MASS"] if f.is_lock_mass else []
    kind += [f"MS{f.ms_level}"] + (["ion mobility"] if f.is_ims else [])
    scans = f"{len(traces.rt_min)} scans" + (f", {traces.skipped} unreadable" if traces.skipped else "")
    parts = [f"Function {f.index}", *kind, f"encoding {f.encoding.upper()}", scans, f"m/z {f.mz_low:g}–{f.mz_high:g}"]
    if f.is_lock_mass and len(traces.bpi_mz):
        parts.append(f"base peak m/z {float(np.median(traces.bpi_mz)):.4f} (median)")
    return {"title": " · ".join(parts), "lock_mass": f.is_lock_mass}


def xic_title(xic: XicTraces) -> str:
    return f"XIC · function {xic.func_index} · ±{xic.ppm:g} ppm"


def channel_style(trace: ChannelTrace) -> dict[str, Any]:
    channel = trace.channel
    units = channel.units.strip()
    title = f"Channel {channel.index} · {channel.name}" + (f" ({units})" if units else "")
    return {"title": title, "units": units, "problem": trace.problem}


def spectrum_title(scan: ScanData) -> str:
    kind = ", summed over drift time" if scan.drift_time_ms is not None else ""
    where = f"Function {scan.function.index}, scan {scan.scan_index} at {scan.rt_min:.3f} min"
    return f"{where} (dashed line above){kind}"


def scan_info(scan: ScanData, mz: Array, intensity: Array) -> list[str]:
    lines = [f"function {scan.function.index}", f"scan     {scan.scan_index}", f"RT       {scan.rt_min:.4f} min",
             f"points   {len(scan.mz)}", f"TIC      {float(np.sum(scan.intensity)):.4g}"]
    if len(intensity):
        top = int(np.argmax(intensity))
        lines += [f"base     m/z {float(mz[top]):.4f}", f"         {float(intensity[top]):.4g}"]
    if scan.drift_time_ms is not None and len(scan.drift_time_ms):
        lines.append(f"drift    {float(scan.drift_time_ms.min()):.2f}–{float(scan.drift_time_ms.max()):.2f} ms")
    return lines
