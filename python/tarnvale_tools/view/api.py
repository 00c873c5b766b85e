"""The JSON API under ``/api/``: one FastAPI route per view of a run.

Parameters are checked by their declared ranges (FastAPI) and against the run
(``served``); whatever is wrong is answered with 400 and ``{"error": "..."}``, a run
whose data cannot be read with 422.  No parameter names a file: ``run=`` picks one
of the runs named on the command line by its position.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Annotated, Any, Literal

from fastapi import Depends, FastAPI, Query, Request
from fastapi.exceptions import RequestValidationError
from fastapi.responses import JSONResponse, Response
from starlette.exceptions import HTTPException

from .. import _core, lock_mass_presets
from . import schema
from .encode import Array, Rows, body
from .served import DataError, ProcessingChoice, RequestError, ServedRun

# Bounds of what one request may ask for: a screen's width, a handful of traces,
# a map the size of a screen.
MAX_WIDTH = 20_000
MAX_TARGETS = 64
MAX_MZ_BINS = 4_000
MAX_DRIFT_BINS = 1_000
MAX_PPM = 1e5
MAX_DA = 1e3
MAX_LOCK_MASS_TOLERANCE = 10.0
# Without width=, every point is given: the reduction's width that keeps them all.
ALL_POINTS = 2**62
# Every point of every XIC trace (without width=) makes a body of about 60 bytes per
# point: beyond this many, a request must say the width it will draw at.
MAX_XIC_POINTS = 4_000_000

RunParam = Annotated[
    int,
    Query(ge=0, le=1_000_000, description="Which run: its position among the runs named on the command line, "
          "0 for the first (see /api/runs)."),
]
FunctionParam = Annotated[int, Query(ge=1, le=2**32 - 1, description="Function number, 1-based.")]
ScanParam = Annotated[int, Query(ge=0, le=2**53, description="Scan number within the function, 0-based.")]
WidthParam = Annotated[
    int | None,
    Query(ge=1, le=MAX_WIDTH, description="Pixel columns of the plot: each column keeps its lowest and highest "
          "point, so that no peak is lost. Without it every point is given."),
]
LowParam = Annotated[float | None, Query(description="Lower end of the window shown (inclusive).")]
HighParam = Annotated[float | None, Query(description="Upper end of the window shown (inclusive).")]


def processing_choice(
    centroid: Annotated[bool, Query(description="Pick the peaks of profile functions (ion mobility, encoding C), "
                                    "as tarnvale_tools' centroid=True.")] = False,
    lock_mass: Annotated[str | None, Query(max_length=64, description="Correct the m/z by the run's lock-mass "
                                           "function: the reference m/z, or a preset's name (see "
                                           "/api/lock_mass_presets).")] = None,
    lock_mass_tolerance: Annotated[float | None, Query(gt=0, le=MAX_LOCK_MASS_TOLERANCE, description="How far "
                                                       "(Da) from the reference a lock scan's peak may lie; "
                                                       "default 0.25.")] = None,
) -> ProcessingChoice:
    """The processing parameters of the endpoints that read scans."""
    if lock_mass is None:
        if lock_mass_tolerance is not None:
            raise RequestError("lock_mass_tolerance applies only with lock_mass")
        return ProcessingChoice(centroid)
    finite("lock_mass_tolerance", lock_mass_tolerance)
    return ProcessingChoice(centroid, lock_mass_value(lock_mass), lock_mass_tolerance)


def lock_mass_value(text: str) -> float | str:
    """A reference m/z (positive, finite) or the name of a preset."""
    presets = lock_mass_presets()
    if text in presets:
        return text
    try:
        value = float(text)
    except ValueError:
        raise RequestError(f"lock_mass must be an m/z or one of {', '.join(presets)}, not {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise RequestError(f"lock_mass must be a positive m/z, not {text!r}")
    return value


Processing = Annotated[ProcessingChoice, Depends(processing_choice)]
NO_CHOICE = ProcessingChoice()


def processing_fields(choice: ProcessingChoice) -> dict[str, Any]:
    return {"centroid": choice.centroid, "lock_mass": choice.lock_mass}


ERRORS: dict[int | str, dict[str, Any]] = {
    400: {"model": schema.ErrorBody, "description": "A parameter is missing, malformed or out of range."},
    403: {"model": schema.ErrorBody, "description": "The access token is missing or wrong."},
}
DATA_ERRORS: dict[int | str, dict[str, Any]] = {
    **ERRORS,
    422: {"model": schema.ErrorBody, "description": "The run's data for this request could not be read."},
}


def json_response(fields: dict[str, Any]) -> Response:
    return Response(body(fields), media_type="application/json")


def error_response(status: int, message: str) -> JSONResponse:
    return JSONResponse({"error": message}, status_code=status)


def finite(name: str, value: float | None) -> float | None:
    if value is not None and not math.isfinite(value):
        raise RequestError(f"{name} must be a finite number, not {value}")
    return value


def window(low_name: str, low: float | None, high_name: str, high: float | None) -> tuple[float | None, float | None]:
    finite(low_name, low)
    finite(high_name, high)
    if low is not None and high is not None and not low <= high:
        raise RequestError(f"{low_name} must not exceed {high_name}, not {low} and {high}")
    return low, high


def kept_points(
    x: memoryview[Any], y: memoryview[Any], width: int | None, low: float | None, high: float | None
) -> memoryview:
    return _core.points_to_draw(x, y, width or ALL_POINTS, low, high)


def bin_centres(low: float, high: float, bins: int) -> list[float]:
    step = (high - low) / bins
    return [low + (i + 0.5) * step for i in range(bins)]


def add_routes(app: FastAPI, runs: Sequence[ServedRun]) -> None:
    def pick(run: int) -> ServedRun:
        if run >= len(runs):
            raise RequestError(f"run {run} is not served: runs 0 to {len(runs) - 1}")
        return runs[run]

    @app.get("/api/runs", response_model=schema.RunsBody, responses=ERRORS, summary="The runs served")
    def list_runs() -> Response:
        return json_response({"runs": [{"run": r.index, "name": r.name, "path": r.path} for r in runs]})

    @app.get("/api/run", response_model=schema.RunBody, responses=DATA_ERRORS,
             summary="The run's overview, as tarnvale info --json prints it")
    def run_overview(run: RunParam = 0) -> Response:
        return json_response(pick(run).overview())

    @app.get("/api/chromatogram", response_model=schema.ChromatogramBody, responses=DATA_ERRORS,
             summary="Total ion current or base peak of a function, per scan")
    def chromatogram(
        function: FunctionParam,
        kind: Annotated[Literal["tic", "bpi"], Query(description="tic or bpi.")] = "tic",
        run: RunParam = 0,
        width: WidthParam = None,
        rt_low: LowParam = None,
        rt_high: HighParam = None,
    ) -> Response:
        low, high = window("rt_low", rt_low, "rt_high", rt_high)
        served = pick(run)
        traces = served.traces(function)
        values = traces.tic if kind == "tic" else traces.bpi
        kept = kept_points(traces.rt_min, values, width, low, high)
        fields: dict[str, Any] = {
            "run": run, "function": function, "kind": kind, "scans": len(traces.rt_min),
            "skipped": list(traces.skipped), "scan": Array(kept), "rt_min": Array(traces.rt_min, kept),
            kind: Array(values, kept),
        }
        if kind == "bpi":
            fields["bpi_mz"] = Array(traces.bpi_mz, kept)
        return json_response(fields)

    @app.get("/api/spectrum", response_model=schema.SpectrumBody, responses=DATA_ERRORS,
             summary="The points of one scan")
    def spectrum(
        function: FunctionParam,
        scan: ScanParam,
        run: RunParam = 0,
        width: WidthParam = None,
        mz_low: LowParam = None,
        mz_high: HighParam = None,
        sum_drift: Annotated[bool, Query(description="For an ion-mobility scan: one point per m/z, its ions' "
                                         "intensities summed over drift time (in float64).")] = False,
        processing: Processing = NO_CHOICE,
    ) -> Response:
        low, high = window("mz_low", mz_low, "mz_high", mz_high)
        points = pick(run).scan(function, scan, processing)
        mz, intensity, drift = points.mz, points.intensity, points.drift_time_ms
        summed = sum_drift and drift is not None
        if summed:
            mz, intensity = _core.sum_by_value(points.mz, points.intensity)
            drift = None
        kept = kept_points(mz, intensity, width, low, high)
        return json_response({
            "run": run, "function": function, "scan": scan, "rt_min": points.rt_min,
            "ion_mobility": points.drift_time_ms is not None, "summed_over_drift": summed,
            **processing_fields(processing), "points": len(points.mz),
            "mz": Array(mz, kept), "intensity": Array(intensity, kept),
            "drift_time_ms": None if drift is None else Array(drift, kept),
        })

    @app.get("/api/xic", response_model=schema.XicBody, responses=DATA_ERRORS,
             summary="Extracted-ion traces of a function")
    def xic(
        function: FunctionParam,
        mz: Annotated[list[float], Query(min_length=1, max_length=MAX_TARGETS,
                                         description="Target m/z; repeat for more traces.")],
        run: RunParam = 0,
        ppm: Annotated[float | None, Query(gt=0, le=MAX_PPM, description="Window half-width in ppm of the "
                                           "target.")] = None,
        da: Annotated[float | None, Query(gt=0, le=MAX_DA, description="Window half-width in m/z units "
                                          "(instead of ppm).")] = None,
        width: WidthParam = None,
        rt_low: LowParam = None,
        rt_high: HighParam = None,
        processing: Processing = NO_CHOICE,
    ) -> Response:
        low, high = window("rt_low", rt_low, "rt_high", rt_high)
        for target in mz:
            if not (math.isfinite(target) and target > 0):
                raise RequestError(f"mz must be positive finite numbers, not {target}")
        if (ppm is None) == (da is None):
            raise RequestError("give the window as either ppm= or da=")
        unit: Literal["ppm", "da"] = "ppm" if ppm is not None else "da"
        tolerance = ppm if ppm is not None else da
        assert tolerance is not None
        served = pick(run)
        scans = served.function(function).n_scans
        if width is None and len(mz) * scans > MAX_XIC_POINTS:
            raise RequestError(f"{len(mz)} traces of {scans} scans are more than {MAX_XIC_POINTS} points: "
                               "give width= (or fewer targets)")
        found = served.xic(function, mz, tolerance, unit, processing)
        traces = []
        for t, target in enumerate(mz):
            row = found.row(t)
            kept = kept_points(found.rt_min, row, width, low, high)
            traces.append({"mz": target, "tolerance_da": found.tolerances[t], "scan": Array(kept),
                           "rt_min": Array(found.rt_min, kept), "xic": Array(row, kept)})
        return json_response({
            "run": run, "function": function, "ppm": ppm, "da": da, **processing_fields(processing),
            "scans": len(found.rt_min), "skipped": list(found.skipped), "traces": traces,
        })

    @app.get("/api/ims_map", response_model=schema.ImsMapBody, responses=DATA_ERRORS,
             summary="An ion-mobility scan binned by m/z and drift time")
    def ims_map(
        function: FunctionParam,
        scan: ScanParam,
        run: RunParam = 0,
        mz_bins: Annotated[int, Query(ge=1, le=MAX_MZ_BINS, description="Bins along m/z.")] = 800,
        drift_bins: Annotated[int, Query(ge=1, le=MAX_DRIFT_BINS, description="Bins along drift time.")] = 200,
        mz_low: LowParam = None,
        mz_high: HighParam = None,
        drift_low: LowParam = None,
        drift_high: HighParam = None,
        processing: Processing = NO_CHOICE,
    ) -> Response:
        mz_window = window("mz_low", mz_low, "mz_high", mz_high)
        drift_window = window("drift_low", drift_low, "drift_high", drift_high)
        served = pick(run)
        if not served.function(function).is_ims:
            raise RequestError(f"function {function} of {served.name} is not an ion-mobility function")
        points = served.scan(function, scan, processing)
        assert points.drift_time_ms is not None
        cells, mobilogram, mz_range, drift_range = _core.bin_grid(
            points.mz, points.drift_time_ms, points.intensity, mz_bins, drift_bins,
            range_or_extent("mz_low and mz_high", mz_window),
            range_or_extent("drift_low and drift_high", drift_window),
        )
        flat = cells.cast("B").cast("d")
        rows = Rows([Array(flat[r * mz_bins : (r + 1) * mz_bins]) for r in range(drift_bins)])
        return json_response({
            "run": run, "function": function, "scan": scan, "rt_min": points.rt_min, "points": len(points.mz),
            **processing_fields(processing), "mz_range": list(mz_range), "drift_range": list(drift_range),
            "mz": bin_centres(*mz_range, mz_bins), "drift_time_ms": bin_centres(*drift_range, drift_bins),
            "intensity": rows, "mobilogram": Array(mobilogram),
        })

    @app.get("/api/lock_mass_presets", response_model=schema.LockMassPresetsBody, responses=ERRORS,
             summary="The calibrants lock_mass= knows by name")
    def presets() -> Response:
        return json_response({"presets": [
            {"name": name, "description": description, "mz": mz}
            for name, (description, mz) in lock_mass_presets().items()
        ]})

    @app.get("/api/lock_mass", response_model=schema.LockMassBody, responses=DATA_ERRORS,
             summary="The lock-mass function's observed reference m/z, per lock scan")
    def lock_mass(
        lock_mass: Annotated[str, Query(max_length=64, description="The reference m/z, or a preset's name.")],
        run: RunParam = 0,
        lock_mass_tolerance: Annotated[
            float | None,
            Query(gt=0, le=MAX_LOCK_MASS_TOLERANCE,
                  description="How far (Da) a lock scan's peak may lie; default 0.25."),
        ] = None,
    ) -> Response:
        finite("lock_mass_tolerance", lock_mass_tolerance)
        trace = pick(run).lock_mass(lock_mass_value(lock_mass), lock_mass_tolerance)
        return json_response({
            "run": run, "reference_mz": trace.reference_mz, "tolerance_da": trace.tolerance_da,
            "rt_min": Array(trace.rt_min), "observed_mz": Array(trace.observed_mz),
            "ppm_error": Array(trace.ppm_error),
        })

    @app.get("/api/channel", response_model=schema.ChannelBody, responses=DATA_ERRORS,
             summary="A chromatogram channel (pressure, temperature, ...)")
    def channel(
        index: Annotated[int, Query(ge=0, le=2**32, description="Channel index, 0-based.")],
        run: RunParam = 0,
    ) -> Response:
        trace = pick(run).channel(index)
        return json_response({
            "run": run, "index": index, "name": trace.channel.name, "units": trace.channel.units,
            "rt_min": Array(trace.rt_min), "value": Array(trace.value),
        })


def range_or_extent(names: str, ends: tuple[float | None, float | None]) -> tuple[float, float] | None:
    """Both ends given: that range; neither: None, the data's own extent."""
    low, high = ends
    if (low is None) != (high is None):
        raise RequestError(f"give both {names} or neither")
    if low is None or high is None:
        return None
    if not low < high:
        raise RequestError(f"{names} must make a range, low below high, not {low} and {high}")
    return low, high


def add_error_handlers(app: FastAPI) -> None:
    @app.exception_handler(RequestValidationError)
    async def invalid_parameters(_: Request, error: RequestValidationError) -> JSONResponse:
        return error_response(400, "; ".join(describe(problem) for problem in error.errors()))

    @app.exception_handler(RequestError)
    async def unanswerable(_: Request, error: RequestError) -> JSONResponse:
        return error_response(400, str(error))

    @app.exception_handler(DataError)
    async def unreadable(_: Request, error: DataError) -> JSONResponse:
        return error_response(422, str(error))

    @app.exception_handler(HTTPException)
    async def http_error(_: Request, error: HTTPException) -> JSONResponse:
        response = error_response(error.status_code, str(error.detail))
        response.headers.update(error.headers or {})  # such as the Allow of a 405
        return response


def describe(problem: Any) -> str:
    where = ".".join(str(part) for part in problem.get("loc", ())[1:]) or "request"
    return f"{where}: {problem.get('msg', 'invalid')}"
