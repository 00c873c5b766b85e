"""The shapes of the API's responses, for its OpenAPI description.  The bodies
themselves are written by ``encode`` straight from the core's arrays; these models
only describe them (and schemathesis checks that they agree)."""

from __future__ import annotations

from typing import Literal

from pydantic import BaseModel, Field

Number = float | None  # a number JSON cannot hold (NaN, infinity) is null


class ErrorBody(BaseModel):
    error: str = Field(description="What is wrong, in one line.")


class RunEntry(BaseModel):
    run: int = Field(description="The value of the run= parameter that selects this run.")
    name: str
    path: str


class RunsBody(BaseModel):
    runs: list[RunEntry]


class ChromatogramBody(BaseModel):
    run: int
    function: int
    kind: Literal["tic", "bpi"]
    scans: int = Field(description="The function's number of scans, before any reduction.")
    skipped: list[int] = Field(description="Scans that could not be decoded; their values are 0.")
    scan: list[int] = Field(description="The scan of each point given.")
    rt_min: list[Number]
    tic: list[Number] | None = Field(None, description="Total ion current (kind=tic).")
    bpi: list[Number] | None = Field(None, description="Base peak intensity (kind=bpi).")
    bpi_mz: list[Number] | None = Field(None, description="Base peak m/z (kind=bpi).")


class SpectrumBody(BaseModel):
    run: int
    function: int
    scan: int
    rt_min: Number
    centroid: bool = Field(description="Profile scans' peaks picked (centroid=true).")
    lock_mass: float | str | None = Field(description="The lock-mass reference the m/z were corrected by.")
    ion_mobility: bool
    summed_over_drift: bool = Field(description="Points of equal m/z summed over drift time (sum_drift=true).")
    points: int = Field(description="The scan's number of points (ions), before any summing or reduction.")
    mz: list[Number]
    intensity: list[Number]
    drift_time_ms: list[Number] | None = Field(
        description="Per point, for ion-mobility scans not summed over drift time; else null."
    )


class XicTrace(BaseModel):
    mz: float
    tolerance_da: float = Field(description="The half-width of the window, in m/z units.")
    scan: list[int]
    rt_min: list[Number]
    xic: list[Number]


class XicBody(BaseModel):
    run: int
    function: int
    ppm: float | None
    da: float | None
    centroid: bool
    lock_mass: float | str | None
    scans: int
    skipped: list[int]
    traces: list[XicTrace]


class ImsMapBody(BaseModel):
    run: int
    function: int
    scan: int
    rt_min: Number
    points: int
    centroid: bool
    lock_mass: float | str | None
    mz_range: list[float] = Field(min_length=2, max_length=2, description="The m/z axis binned: low, high.")
    drift_range: list[float] = Field(min_length=2, max_length=2, description="The drift-time axis (ms): low, high.")
    mz: list[float] = Field(description="Centre of each m/z bin.")
    drift_time_ms: list[float] = Field(description="Centre of each drift-time bin.")
    intensity: list[list[Number]] = Field(description="Summed intensity, one row per drift-time bin.")
    mobilogram: list[Number] = Field(description="Summed intensity per drift-time bin over the m/z range.")


class LockMassPreset(BaseModel):
    name: str
    description: str
    mz: float


class LockMassPresetsBody(BaseModel):
    presets: list[LockMassPreset]


class LockMassBody(BaseModel):
    run: int
    reference_mz: float
    tolerance_da: float
    rt_min: list[Number] = Field(description="Per scan of the lock-mass function.")
    observed_mz: list[Number] = Field(description="The peak nearest the reference, null where there is none.")
    ppm_error: list[Number] = Field(description="(observed - reference) / reference x 1e6, null where none.")


class ChannelBody(BaseModel):
    run: int
    index: int
    name: str
    units: str
    rt_min: list[Number]
    value: list[Number]


class RunBody(BaseModel):
    """What ``tarnvale info --json`` prints for the run."""

    path: str
    header: dict[str, str | None]
    functions: list[dict[str, object]]
    retention_time_min: dict[str, Number] | None
    base_peak: dict[str, object] | None
    base_peak_error: str | None
    channels: list[dict[str, object]]
