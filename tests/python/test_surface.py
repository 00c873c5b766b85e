"""The module's Python surface: names, class properties, docstrings, signatures."""

from __future__ import annotations

import inspect
import weakref

import pytest

import tarnvale

CLASS_NAMES = ["RawReader", "RunHeader", "FunctionInfo", "Spectrum", "ImsSpectrum", "ChromChannel", "ChromPoint"]
RESULT_CLASSES = CLASS_NAMES[1:]

ATTRIBUTES = {
    "RawReader": ["header", "polarity", "functions", "channels"],
    "RunHeader": [
        "version",
        "acquired_name",
        "acquired_date",
        "acquired_time",
        "instrument",
        "operator",
        "sample_description",
    ],
    "FunctionInfo": [
        "index",
        "function_type",
        "scan_subtype",
        "cycle_time_s",
        "interscan_delay_s",
        "scan_time_s",
        "tof_depth",
        "mz_low",
        "mz_high",
        "is_lock_mass",
    ],
    "Spectrum": ["mz", "intensity"],
    "ImsSpectrum": ["mz", "drift_time_ms", "intensity"],
    "ChromChannel": ["index", "source_type", "name", "scale_f", "units"],
    "ChromPoint": ["rt_min", "value"],
}

METHODS = [
    "ms_level",
    "n_scans",
    "function_encoding",
    "retention_time",
    "read_spectrum",
    "read_ims_spectrum",
    "read_chrom",
]

CLASS_DOCS = {
    "RawReader": (
        "Open a Waters MassLynx `.raw` directory and read its contents.\n"
        "\n"
        "Example::\n"
        "\n"
        "    import tarnvale\n"
        '    r = tarnvale.RawReader("/data/sample.raw")\n'
        "    print(r.functions)\n"
        "    spec = r.read_spectrum(1, 0)\n"
        "    print(spec.mz[:5], spec.intensity[:5])"
    ),
    "Spectrum": (
        "A decoded 1-D mass spectrum (m/z vs intensity).\n"
        "\n"
        "Returned by `RawReader.read_spectrum()` for Encoding A and C functions."
    ),
    "ImsSpectrum": (
        "A decoded IMS spectrum: m/z, drift time, and intensity per ion.\n"
        "\n"
        "Returned by `RawReader.read_ims_spectrum()` for Encoding B (SYNAPT) functions."
    ),
    "ChromPoint": "A single (retention-time, value) sample from a `_CHROnnnn.DAT` file.",
    "ChromChannel": "Description of a single recorded chromatographic channel from `_CHROMS.INF`.",
    "RunHeader": "Acquisition metadata from `_HEADER.TXT`.\n\nReturned by `RawReader.header`.",
    "FunctionInfo": "Metadata for a single acquisition function from `_FUNCTNS.INF`.",
}

ATTRIBUTE_DOCS = {
    ("RawReader", "header"): "Acquisition metadata parsed from `_HEADER.TXT`.",
    ("RawReader", "functions"): "List of all acquisition functions in this .raw file.",
    ("RawReader", "polarity"): (
        "Electrospray polarity parsed from `_extern.inf`.\n"
        "\n"
        'Returns `"positive"`, `"negative"`, or `None` when the field is absent.'
    ),
    ("RawReader", "channels"): (
        "List of instrument chromatographic channels from `_CHROMS.INF`.\n\nEmpty list if the file is absent."
    ),
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

_INDEX_NOTE = "(1-based `func_index`)."
_BOTH_NOTE = "`func_index` is 1-based; `scan_index` is 0-based."
METHOD_DOCS = {
    "n_scans": ("($self, func_index)", f"Number of scans in a function {_INDEX_NOTE}"),
    "ms_level": (
        "($self, func_index)",
        f"MS level for a function {_INDEX_NOTE}\n"
        "\n"
        "Returns `1` for MS1 survey and reference functions, `2` for MSe/DDA/MS2\n"
        "functions. Falls back to `1` when the function is not described in\n"
        "`_extern.inf`.",
    ),
    "function_encoding": (
        "($self, func_index)",
        f"Encoding variant for a function {_INDEX_NOTE}\n"
        "\n"
        'Returns `"a"`, `"c"` or `"d"` for one-dimensional spectra, `"b"` for IMS.',
    ),
    "retention_time": (
        "($self, func_index, scan_index)",
        f"Retention time (minutes) for a scan.\n\n{_BOTH_NOTE}",
    ),
    "read_spectrum": (
        "($self, func_index, scan_index)",
        "Decode a 1-D mass spectrum.\n"
        "\n"
        "Uses Encoding A for older Q-TOF functions and Encoding C for G2/G2-Si.\n"
        "For IMS data, this collapses the drift dimension; use `read_ims_spectrum`\n"
        "to obtain the full 2-D data.\n"
        "\n"
        f"{_BOTH_NOTE}",
    ),
    "read_ims_spectrum": (
        "($self, func_index, scan_index)",
        "Decode a full IMS spectrum (m/z, drift time, intensity) for SYNAPT data.\n"
        "\n"
        "Only valid for Encoding B functions. Returns a `RuntimeError` for\n"
        "one-dimensional functions.\n"
        "\n"
        f"{_BOTH_NOTE}",
    ),
    "read_chrom": (
        "($self, channel_index)",
        "Read a chromatographic channel as a list of `ChromPoint` values.\n"
        "\n"
        "`channel_index` is 0-based (matches `ChromChannel.index`).",
    ),
}


@pytest.fixture
def instances(sample_reader):
    """One live instance of every class."""
    return {
        "RawReader": sample_reader,
        "RunHeader": sample_reader.header,
        "FunctionInfo": sample_reader.functions[0],
        "Spectrum": sample_reader.read_spectrum(1, 0),
        "ImsSpectrum": sample_reader.read_ims_spectrum(2, 0),
        "ChromChannel": sample_reader.channels[0],
        "ChromPoint": sample_reader.read_chrom(0)[0],
    }


def test_all_lists_the_seven_classes_in_order() -> None:
    assert tarnvale.__all__ == CLASS_NAMES
    assert tarnvale.__doc__ == ""
    assert [name for name in vars(tarnvale) if not name.startswith("__")] == CLASS_NAMES


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_identity(name: str) -> None:
    cls = getattr(tarnvale, name)
    assert isinstance(cls, type)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_instances_take_no_new_attributes_or_weak_references(instances, name: str) -> None:
    obj = instances[name]
    assert type(obj) is getattr(tarnvale, name)
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize("name", RESULT_CLASSES)
@pytest.mark.parametrize("args", [(), (1,), ("x",)])
def test_result_classes_cannot_be_instantiated(name: str, args: tuple[object, ...]) -> None:
    cls = getattr(tarnvale, name)
    with pytest.raises(TypeError):
        cls(*args)
    with pytest.raises(TypeError):
        cls.__new__(cls)


@pytest.mark.parametrize(("name", "attribute"), [(c, a) for c, attrs in ATTRIBUTES.items() for a in attrs])
def test_attributes_are_read_only_properties(instances, name: str, attribute: str) -> None:
    obj = instances[name]
    descriptor = vars(type(obj))[attribute]
    assert inspect.isdatadescriptor(descriptor)
    before = repr(getattr(obj, attribute))
    with pytest.raises(AttributeError):
        setattr(obj, attribute, getattr(obj, attribute))
    with pytest.raises(AttributeError):
        delattr(obj, attribute)
    assert repr(getattr(obj, attribute)) == before


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_attributes_and_methods_in_declaration_order(name: str) -> None:
    names = [n for n in vars(getattr(tarnvale, name)) if not n.startswith("__")]
    properties = [n for n in names if inspect.isdatadescriptor(vars(getattr(tarnvale, name))[n])]
    methods = [n for n in names if n not in properties]
    assert properties == ATTRIBUTES[name]
    assert methods == (METHODS if name == "RawReader" else [])


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_docstrings(name: str) -> None:
    assert getattr(tarnvale, name).__doc__ == CLASS_DOCS[name]


def test_constructor_signature() -> None:
    assert tarnvale.RawReader.__text_signature__ == "(path)"
    assert list(inspect.signature(tarnvale.RawReader).parameters) == ["path"]


@pytest.mark.parametrize(("name", "attribute"), sorted(ATTRIBUTE_DOCS))
def test_attribute_docstrings(name: str, attribute: str) -> None:
    assert vars(getattr(tarnvale, name))[attribute].__doc__ == ATTRIBUTE_DOCS[(name, attribute)]


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


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_no_comparison_hashing_iteration_or_str(instances, name: str) -> None:
    cls = getattr(tarnvale, name)
    for slot in ("__eq__", "__hash__", "__iter__", "__getitem__", "__str__", "__init__"):
        assert slot not in vars(cls), slot
    has_len = name in ("Spectrum", "ImsSpectrum")
    assert ("__len__" in vars(cls)) == has_len
    obj = instances[name]
    assert str(obj) == repr(obj)
    assert obj == obj and hash(obj) == hash(obj)
