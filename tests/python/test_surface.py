"""The module's Python surface: names, class properties, docstrings, signatures."""

from __future__ import annotations

import inspect
import weakref

import pytest

import tarnvale

CLASS_NAMES = ["RawReader", "RunHeader", "FunctionInfo", "Spectrum", "ImsSpectrum", "ChromChannel", "ChromPoint"]

CLASS_DOCS = {
    "RawReader": """Open a Waters MassLynx `.raw` directory and read its contents.

Example::

    import tarnvale
    r = tarnvale.RawReader("/data/sample.raw")
    print(r.functions)
    spec = r.read_spectrum(1, 0)
    print(spec.mz[:5], spec.intensity[:5])""",
    "Spectrum": """A decoded 1-D mass spectrum (m/z vs intensity).

Returned by `RawReader.read_spectrum()` for Encoding A and C functions.""",
    "ImsSpectrum": """A decoded IMS spectrum: m/z, drift time, and intensity per ion.

Returned by `RawReader.read_ims_spectrum()` for Encoding B (SYNAPT) functions.""",
    "ChromPoint": "A single (retention-time, value) sample from a `_CHROnnnn.DAT` file.",
    "ChromChannel": "Description of a single recorded chromatographic channel from `_CHROMS.INF`.",
    "RunHeader": "Acquisition metadata from `_HEADER.TXT`.\n\nReturned by `RawReader.header`.",
    "FunctionInfo": "Metadata for a single acquisition function from `_FUNCTNS.INF`.",
}

ATTRIBUTE_DOCS = {
    ("RawReader", "header"): "Acquisition metadata parsed from `_HEADER.TXT`.",
    ("RawReader", "polarity"): """Electrospray polarity parsed from `_extern.inf`.

Returns `"positive"`, `"negative"`, or `None` when the field is absent.""",
    ("RawReader", "functions"): "List of all acquisition functions in this .raw file.",
    ("RawReader", "channels"): """List of instrument chromatographic channels from `_CHROMS.INF`.

Empty list if the file is absent.""",
    ("Spectrum", "mz"): "Calibrated m/z values (Da).",
    ("Spectrum", "intensity"): "Intensity values.",
    ("ImsSpectrum", "mz"): "Calibrated m/z values (Da).",
    ("ImsSpectrum", "drift_time_ms"): "Ion drift times (ms).",
    ("ImsSpectrum", "intensity"): "Intensity values (raw ion counts).",
    ("ChromPoint", "rt_min"): "Retention time (minutes).",
    ("ChromPoint", "value"): "Channel value in the units given by `ChromChannel.units`.",
    ("ChromChannel", "index"): "0-based index among data records.",
    ("ChromChannel", "source_type"): "Source device type (4 = BSM pump, 1 = column/sample device).",
    ("ChromChannel", "name"): "Channel name decoded from Windows-1252.",
    ("ChromChannel", "scale_f"): "Scale factor from the `$CC$` spec string.",
    ("ChromChannel", "units"): 'Engineering units (e.g. "%", "C", "bar").',
    ("RunHeader", "version"): 'MassLynx file format version string (e.g. `"01.00"`).',
    ("RunHeader", "acquired_name"): "Sample or acquisition file name recorded at collection time.",
    ("RunHeader", "acquired_date"): 'Acquisition date string (e.g. `"14-Jan-2021"`).',
    ("RunHeader", "acquired_time"): 'Acquisition time string (e.g. `"16:20:52"`).',
    ("RunHeader", "instrument"): 'Instrument identifier string (e.g. `"QTOF"`, `"XEVO-G2XSQTOF#NotSet"`).',
    ("RunHeader", "operator"): "Operator / user name recorded at collection time.",
    ("RunHeader", "sample_description"): "Free-text sample description field.",
    ("FunctionInfo", "index"): "1-based function index.",
    ("FunctionInfo", "function_type"): "Raw function type code (always 0x12 in known corpus).",
    ("FunctionInfo", "scan_subtype"): "Scan subtype byte; bit 7 set means lock-mass channel.",
    ("FunctionInfo", "cycle_time_s"): "Total slot duration per scan cycle (seconds).",
    ("FunctionInfo", "interscan_delay_s"): "Idle time between end of one scan and start of the next (seconds).",
    ("FunctionInfo", "scan_time_s"): "Data collection time per scan (seconds).",
    ("FunctionInfo", "tof_depth"): "Number of TDC bins per pusher pulse.",
    ("FunctionInfo", "mz_low"): "Acquisition m/z lower bound (Da).",
    ("FunctionInfo", "mz_high"): "Acquisition m/z upper bound (Da).",
    ("FunctionInfo", "is_lock_mass"): "True if this is a lock-mass / reference channel (bit 7 of scan_subtype).",
}

_BOTH_NOTE = "`func_index` is 1-based; `scan_index` is 0-based."
# Method -> (__text_signature__, docstring), in declaration order.
METHOD_DOCS = {
    "ms_level": ("($self, func_index)", """MS level for a function (1-based `func_index`).

Returns `1` for MS1 survey and reference functions, `2` for MSe/DDA/MS2
functions. Falls back to `1` when the function is not described in
`_extern.inf`."""),
    "n_scans": ("($self, func_index)", "Number of scans in a function (1-based `func_index`)."),
    "function_encoding": ("($self, func_index)", """Encoding variant for a function (1-based `func_index`).

Returns `"a"`, `"c"` or `"d"` for one-dimensional spectra, `"b"` for IMS."""),
    "retention_time": ("($self, func_index, scan_index)", f"Retention time (minutes) for a scan.\n\n{_BOTH_NOTE}"),
    "read_spectrum": ("($self, func_index, scan_index)", f"""Decode a 1-D mass spectrum.

Uses Encoding A for older Q-TOF functions and Encoding C for G2/G2-Si.
For IMS data, this collapses the drift dimension; use `read_ims_spectrum`
to obtain the full 2-D data.

{_BOTH_NOTE}"""),
    "read_ims_spectrum": (
        "($self, func_index, scan_index)",
        f"""Decode a full IMS spectrum (m/z, drift time, intensity) for SYNAPT data.

Only valid for Encoding B functions. Returns a `RuntimeError` for
one-dimensional functions.

{_BOTH_NOTE}""",
    ),
    "read_chrom": ("($self, channel_index)", """Read a chromatographic channel as a list of `ChromPoint` values.

`channel_index` is 0-based (matches `ChromChannel.index`)."""),
}

METHODS = list(METHOD_DOCS)
ATTRIBUTES = {name: [a for c, a in ATTRIBUTE_DOCS if c == name] for name in CLASS_NAMES}


@pytest.fixture
def instances(sample_reader):
    """One live instance of every class."""
    r = sample_reader
    made = [r, r.header, r.functions[0], r.read_spectrum(1, 0), r.read_ims_spectrum(2, 0), r.channels[0]]
    return dict(zip(CLASS_NAMES, [*made, r.read_chrom(0)[0]], strict=True))


def test_module_names_and_constructor_signature() -> None:
    assert tarnvale.__all__ == CLASS_NAMES
    assert tarnvale.__doc__ == ""
    assert [name for name in vars(tarnvale) if not name.startswith("__")] == CLASS_NAMES
    assert tarnvale.RawReader.__text_signature__ == "(path)"
    assert list(inspect.signature(tarnvale.RawReader).parameters) == ["path"]


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class(name: str) -> None:
    cls = getattr(tarnvale, name)
    assert isinstance(cls, type)
    assert (cls.__module__, cls.__name__, cls.__qualname__, cls.__bases__) == ("builtins", name, name, (object,))
    assert cls.__doc__ == CLASS_DOCS[name]
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # Properties, then methods, in declaration order; no comparison, hashing, iteration or str of its own.
    names = [n for n in vars(cls) if not n.startswith("__")]
    assert [n for n in names if inspect.isdatadescriptor(vars(cls)[n])] == ATTRIBUTES[name]
    assert [n for n in names if not inspect.isdatadescriptor(vars(cls)[n])] == (METHODS if name == "RawReader" else [])
    for slot in ("__eq__", "__hash__", "__iter__", "__getitem__", "__str__", "__init__"):
        assert slot not in vars(cls), slot
    assert ("__len__" in vars(cls)) == (name in ("Spectrum", "ImsSpectrum"))
    if name != "RawReader":  # results are made by the reader only
        for args in [(), (1,), ("x",)]:
            with pytest.raises(TypeError):
                cls(*args)
        with pytest.raises(TypeError):
            cls.__new__(cls)


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_instances(instances, name: str) -> None:
    obj = instances[name]
    assert type(obj) is getattr(tarnvale, name)
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    assert str(obj) == repr(obj)
    assert obj == obj and hash(obj) == hash(obj)


@pytest.mark.parametrize(("name", "attribute"), list(ATTRIBUTE_DOCS))
def test_attributes_are_documented_read_only_properties(instances, name: str, attribute: str) -> None:
    obj = instances[name]
    descriptor = vars(type(obj))[attribute]
    assert inspect.isdatadescriptor(descriptor)
    assert descriptor.__doc__ == ATTRIBUTE_DOCS[(name, attribute)]
    before = repr(getattr(obj, attribute))
    with pytest.raises(AttributeError):
        setattr(obj, attribute, getattr(obj, attribute))
    with pytest.raises(AttributeError):
        delattr(obj, attribute)
    assert repr(getattr(obj, attribute)) == before


@pytest.mark.parametrize("method", METHODS)
def test_method_docstrings_and_signatures(method: str) -> None:
    function = getattr(tarnvale.RawReader, method)
    signature, doc = METHOD_DOCS[method]
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc
    self_parameter, *parameters = inspect.signature(function).parameters.values()
    assert self_parameter.name == "self"
    assert [p.name for p in parameters] == signature.strip("()").split(", ")[1:]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in parameters)
