"""Type information for tarnvale_tools._core, the extension behind tarnvale_tools."""

from collections.abc import Buffer, Callable, Iterable, Sequence
from typing import Literal, SupportsFloat, SupportsIndex, TypedDict, final

_OnError = Literal["fail", "skip"]
_LockMass = SupportsFloat | str | None
_Tolerance = SupportsFloat | Sequence[SupportsFloat] | None
_Range = tuple[SupportsFloat | None, SupportsFloat | None]

class _HeaderFields(TypedDict):
    version: str | None
    acquired_name: str | None
    acquired_date: str | None
    acquired_time: str | None
    instrument: str | None
    operator: str | None
    sample_description: str | None

class _FunctionFields(TypedDict):
    index: int
    encoding: Literal["a", "b", "c", "d"]
    ms_level: int
    n_scans: int
    mz_low: float
    mz_high: float
    scan_time_s: float
    is_lock_mass: bool
    is_ims: bool

class _ChannelFields(TypedDict):
    index: int
    name: str
    units: str
    scale_f: float
    source_type: int

@final
class Run:
    """A Waters MassLynx `.raw` directory, opened for reading whole functions."""

    def __new__(cls, path: str) -> Run: ...
    @property
    def path(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def header(self) -> _HeaderFields: ...
    @property
    def polarity(self) -> Literal["positive", "negative"] | None: ...
    @property
    def functions(self) -> list[_FunctionFields]: ...
    @property
    def channels(self) -> list[_ChannelFields]: ...
    def columns(
        self,
        func_index: SupportsIndex,
        threads: SupportsIndex = 1,
        on_error: _OnError = "fail",
        centroid: bool = False,
        min_intensity: SupportsFloat = 0.0,
        min_points: SupportsIndex = 1,
        lock_mass: _LockMass = None,
        lock_mass_tolerance: SupportsFloat = 0.25,
        lock_mass_function: SupportsIndex | None = None,
        lock_mass_min_intensity: SupportsFloat = 0.0,
    ) -> Columns: ...
    def chromatograms(
        self,
        func_index: SupportsIndex,
        tic: bool = True,
        bpi: bool = True,
        targets: Sequence[SupportsFloat] | None = None,
        ppm: _Tolerance = None,
        da: _Tolerance = None,
        threads: SupportsIndex = 1,
        on_error: _OnError = "fail",
        centroid: bool = False,
        min_intensity: SupportsFloat = 0.0,
        min_points: SupportsIndex = 1,
        lock_mass: _LockMass = None,
        lock_mass_tolerance: SupportsFloat = 0.25,
        lock_mass_function: SupportsIndex | None = None,
        lock_mass_min_intensity: SupportsFloat = 0.0,
    ) -> Chromatograms: ...
    def read_scan(
        self,
        func_index: SupportsIndex,
        scan_index: SupportsIndex,
        centroid: bool = False,
        min_intensity: SupportsFloat = 0.0,
        min_points: SupportsIndex = 1,
        lock_mass: _LockMass = None,
        lock_mass_tolerance: SupportsFloat = 0.25,
        lock_mass_function: SupportsIndex | None = None,
        lock_mass_min_intensity: SupportsFloat = 0.0,
    ) -> tuple[memoryview, memoryview, memoryview | None, float]: ...
    def lock_mass_function(self, function: SupportsIndex | None = None) -> int: ...
    def lock_mass_trace(
        self,
        mz: SupportsFloat | str,
        tolerance: SupportsFloat = 0.25,
        function: SupportsIndex | None = None,
        on_error: _OnError = "fail",
    ) -> tuple[memoryview, memoryview, memoryview]: ...
    def read_chrom(self, channel_index: SupportsIndex) -> tuple[memoryview, memoryview]: ...
    def export_plan(
        self, functions: Iterable[SupportsIndex] | None = None, ms_level: SupportsIndex | None = None,
        skip_lock_mass: bool = False,
    ) -> tuple[list[int], dict[int, str]]: ...
    def export_columns(
        self,
        func_index: SupportsIndex,
        threads: SupportsIndex = 1,
        on_error: _OnError = "fail",
        rt: _Range | None = None,
        mz: _Range | None = None,
        centroid: bool = False,
        min_intensity: SupportsFloat = 0.0,
        min_points: SupportsIndex = 1,
        lock_mass: _LockMass = None,
        lock_mass_tolerance: SupportsFloat = 0.25,
        lock_mass_function: SupportsIndex | None = None,
        lock_mass_min_intensity: SupportsFloat = 0.0,
    ) -> Columns: ...

@final
class Columns:
    """Every scan of one function as contiguous arrays (from Run.columns)."""

    @property
    def func_index(self) -> int: ...
    @property
    def encoding(self) -> Literal["a", "b", "c", "d"]: ...
    @property
    def scan_offsets(self) -> memoryview: ...
    @property
    def mz(self) -> memoryview: ...
    @property
    def intensity(self) -> memoryview: ...
    @property
    def drift_time_ms(self) -> memoryview | None: ...
    @property
    def rt_min(self) -> memoryview: ...
    @property
    def collision_energy(self) -> memoryview | None: ...
    @property
    def etd_fragmentation_mode(self) -> memoryview | None: ...
    @property
    def skipped(self) -> list[int]: ...
    @property
    def n_points(self) -> int: ...
    def __len__(self) -> int: ...
    def scan(self, scan_index: SupportsIndex) -> tuple[memoryview, memoryview]: ...
    def tic(self) -> tuple[memoryview, memoryview]: ...
    def bpi(self) -> tuple[memoryview, memoryview, memoryview]: ...
    def xic(
        self, targets: Sequence[SupportsFloat] | None, ppm: _Tolerance = None, da: _Tolerance = None
    ) -> tuple[memoryview, memoryview]: ...

@final
class Chromatograms:
    """Chromatograms of one function (from Run.chromatograms)."""

    @property
    def func_index(self) -> int: ...
    @property
    def rt_min(self) -> memoryview: ...
    @property
    def tic(self) -> memoryview | None: ...
    @property
    def bpi_mz(self) -> memoryview | None: ...
    @property
    def bpi(self) -> memoryview | None: ...
    @property
    def xic(self) -> memoryview: ...
    @property
    def skipped(self) -> list[int]: ...
    def __len__(self) -> int: ...

class DamagedRunError(RuntimeError):
    """A scan or chromatogram channel of the run cannot be read; on_error='skip' writes the rest."""

class _LeftOut(TypedDict):
    functions: dict[int, str]
    scans: dict[int, list[int]]
    channels: dict[int, str]

def check_selection(
    *,
    functions: Iterable[SupportsIndex] | None = None,
    ms_level: SupportsIndex | None = None,
    rt: _Range | None = None,
    mz: _Range | None = None,
) -> None: ...
def write_mzml(
    raw_path: str,
    out_path: str,
    *,
    compression: bool = True,
    ims: Literal["combined", "per-bin"] = "combined",
    skip_lock_mass: bool = False,
    threads: int = 1,
    progress: Callable[[int, int], object] | None = None,
    numpress: bool = False,
    mz_precision: Literal[32, 64] = 64,
    gzip: bool = False,
    on_error: _OnError = "fail",
    functions: Iterable[SupportsIndex] | None = None,
    ms_level: SupportsIndex | None = None,
    rt: _Range | None = None,
    mz: _Range | None = None,
    centroid: bool = False,
    min_intensity: SupportsFloat = 0.0,
    min_points: SupportsIndex = 1,
    lock_mass: _LockMass = None,
    lock_mass_tolerance: SupportsFloat = 0.25,
    lock_mass_function: SupportsIndex | None = None,
    lock_mass_min_intensity: SupportsFloat = 0.0,
) -> tuple[int, _LeftOut]: ...

def lock_mass_presets() -> list[tuple[str, str, float]]: ...
def check_processing(
    *,
    centroid: bool = False,
    min_intensity: SupportsFloat = 0.0,
    min_points: SupportsIndex = 1,
    lock_mass: _LockMass = None,
    lock_mass_tolerance: SupportsFloat = 0.25,
    lock_mass_function: SupportsIndex | None = None,
    lock_mass_min_intensity: SupportsFloat = 0.0,
) -> None: ...
def json_array(values: Buffer, picks: Buffer | None = None) -> bytes: ...
def points_to_draw(
    x: Buffer, y: Buffer, width: SupportsIndex, low: SupportsFloat | None = None, high: SupportsFloat | None = None
) -> memoryview: ...
def bin_grid(
    x: Buffer,
    y: Buffer,
    weight: Buffer,
    x_bins: SupportsIndex,
    y_bins: SupportsIndex,
    x_range: tuple[SupportsFloat, SupportsFloat] | None = None,
    y_range: tuple[SupportsFloat, SupportsFloat] | None = None,
) -> tuple[memoryview, memoryview, tuple[float, float], tuple[float, float]]: ...
def sum_by_value(keys: Buffer, weights: Buffer) -> tuple[memoryview, memoryview]: ...
