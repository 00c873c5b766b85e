"""Log records of the core as Python `logging` sees them.

The bridge caches each target's logger and level on its first record for the
rest of the process, so every test runs in a fresh interpreter."""

from __future__ import annotations

import json
import subprocess
import sysconfig
from pathlib import Path

import pytest

# Child-side helpers: a collecting handler and the directories the tests open.
PRELUDE = r'''
import json, logging, sys
from pathlib import Path
import rawfixture, samples
OUT = Path(sys.argv[1])

class Collect(logging.Handler):
    def __init__(self):
        super().__init__(level=0)
        self.records = []
    def emit(self, record):
        self.records.append(record)
    def take(self):
        taken, self.records = self.records, []
        return [[r.name, r.levelname, r.levelno, r.getMessage()] for r in taken]

def collecting(level=logging.DEBUG):
    collect = Collect()
    logging.basicConfig(level=level, handlers=[collect])
    return collect

def sample_dir():
    return str(samples.sample().write(OUT / "sample.raw", replace=True))

def skipping_dir():
    d = samples.sample()
    d.functions[1].write_index = False
    return str(d.write(OUT / "skips.raw", replace=True))

def percent_dir():
    """No pusher interval, a 330-byte index, a prefixed and a lower-case file."""
    index = b"".join(rawfixture.index_record_a(10 * i, 1, 0.01 * i, 0, 0x18) for i in range(15))
    first = rawfixture.Function("A", index_bytes=index, write_data=False)
    second = rawfixture.Function("A", [rawfixture.Scan(0.5, [rawfixture.record_a(1, 0x90, 0x800000)])],
                                 lower_case=True)
    d = rawfixture.RawDir(rawfixture.RunHeader(instrument=None), rawfixture.Extern(pusher_interval=None),
                          [first, second], extra_files={"X_FUNC001.DAT": bytes(160)})
    path = d.write(OUT / "100%s %d.raw", replace=True)
    (path / "sub").mkdir()
    return str(path)

def emit(value):
    print(json.dumps(value))
'''


def _debug(message: str, target: str = "tarnvale.reader") -> list[object]:
    return [target, "DEBUG", 10, message]


def _warning(message: str) -> list[object]:
    return ["tarnvale.reader", "WARNING", 30, message]


_UNCALIBRATED = ": no Cal Function line in _HEADER.TXT; m/z is uncalibrated"
SAMPLE_OPEN = [
    _debug("opening {p}"),
    _debug(
        'instrument "SYNAPT G2-Si"; Lteff 1800 mm, Veff 7200 V, pusher interval 64 us; 3 functions in _FUNCTNS.INF; '
        "T1 calibration for functions [1, 2]"
    ),
    _debug(
        "function 1: 3 scans, m/z 50-1200, subtype 0x01, encoding A (22-byte index, 6-byte records), "
        "calibration T1 with 2 coefficients, DAT 36 bytes"
    ),
    _debug(
        'function 2: 3 scans, m/z 50-2000, subtype 0x02, encoding B (30-byte index, instrument "SYNAPT G2-Si" '
        "starts with SYNAPT), calibration T1 with 3 coefficients, DAT 80 bytes"
    ),
    _warning("function 3" + _UNCALIBRATED),
    _debug("function 3: no STS file"),
    _debug(
        "function 3: 2 scans, m/z 100-1000, subtype 0x81 (lock mass), encoding D (22-byte index, 8-byte records), "
        "calibration T0 with 0 coefficients, DAT 40 bytes"
    ),
    _debug("opened sample.raw: 3 of 3 functions readable"),
]

_GUESSED_WIDTH = "encoding A (22-byte index, record width not established from offsets; assuming 6-byte records)"
PERCENT_OPEN = [
    _debug("opening {p}"),
    _debug("_extern.inf: no numeric PusherInterval or Pusher Cycle Time", "tarnvale.raw.extern_inf"),
    _debug(
        'instrument ""; Lteff 1800 mm, Veff 7200 V, pusher interval absent; 2 functions in _FUNCTNS.INF; '
        "T1 calibration for functions []"
    ),
    _debug("_FUNC001.DAT: using prefixed {p}/X_FUNC001.DAT"),
    _debug("_FUNCnnn.IDX: 330 bytes fits both strides; record markers select 22-byte Variant A", "tarnvale.raw.index"),
    _warning("function 1" + _UNCALIBRATED),
    _debug("function 1: no STS file"),
    _debug(
        f"function 1: 15 scans, m/z 50-1200, subtype 0x01, {_GUESSED_WIDTH}, calibration T0 with 0 coefficients, "
        "DAT 160 bytes"
    ),
    _warning("function 2" + _UNCALIBRATED),
    _debug("function 2: no STS file"),
    _debug(
        f"function 2: 1 scans, m/z 50-1200, subtype 0x01, {_GUESSED_WIDTH}, calibration T0 with 0 coefficients, "
        "DAT 6 bytes"
    ),
    _debug("opened 100%s %d.raw: 2 of 2 functions readable"),
]

SKIP_WARNINGS = [
    "function 2: _FUNC002.IDX or _FUNC002.DAT missing in {p}; skipping function",
    "function 3" + _UNCALIBRATED,
]


def _fill(expected: list[list[object]], path: str) -> list[list[object]]:
    return [[*row[:3], str(row[3]).replace("{p}", path)] for row in expected]


def _warnings(path: str) -> list[list[object]]:
    return [_warning(text.replace("{p}", path)) for text in SKIP_WARNINGS]


@pytest.fixture
def child(run_fresh, tmp_path: Path):
    """child(code) -> the JSON values the child printed, one per line."""

    def run(code: str, extra_path: tuple[str, ...] = ()) -> list[object]:
        done = run_fresh(PRELUDE + code, str(tmp_path), extra_path=extra_path)
        assert done.returncode == 0, done.stderr
        return [json.loads(line) for line in done.stdout.splitlines()]

    return run


def test_configured_before_opening(child, tmp_path: Path) -> None:
    opened, percent, fields, names, skipping, quieter = child(
        r'''
collect = collecting()
import tarnvale
tarnvale.RawReader(sample_dir())
emit(collect.take())
p = percent_dir()
tarnvale.RawReader(p).read_spectrum(2, 0)
emit(collect.take())
tarnvale.RawReader(p)
r = collect.records[0]
emit([r.msg, list(r.args), type(r.lineno).__name__, r.lineno > 0, type(r.pathname).__name__])
collect.take()
for form in (p + "/", p + "/.", p + "/sub/.."):
    tarnvale.RawReader(form)
emit([m for _, _, _, m in collect.take() if m.startswith("opened")])
tarnvale.RawReader(skipping_dir())
emit([m for _, _, _, m in collect.take() if m.startswith(("function 2", "opened"))])
logging.getLogger().setLevel(logging.WARNING)
tarnvale.RawReader(sample_dir())
emit(collect.take())
'''
    )
    sample, percent_path = str(tmp_path / "sample.raw"), str(tmp_path / "100%s %d.raw")
    assert opened == _fill(SAMPLE_OPEN, sample)
    assert percent == _fill(PERCENT_OPEN, percent_path)
    assert fields == [f"opening {percent_path}", [], "int", True, "str"]
    assert names == [
        "opened 100%s %d.raw: 2 of 2 functions readable",
        "opened 100%s %d.raw: 2 of 2 functions readable",
        "opened bundle.raw: 2 of 2 functions readable",
    ]
    # A skipped function is named, and left out of the closing count.
    assert skipping == [_warnings(str(tmp_path / "skips.raw"))[0][3], "opened skips.raw: 2 of 3 functions readable"]
    # Less verbose configuration takes effect at once.
    assert quieter == [row for row in _fill(SAMPLE_OPEN, sample) if row[2] == 30]


def test_level_cached_by_the_first_record(child, tmp_path: Path) -> None:
    first, second, other_targets = child(
        r'''
collect = Collect()
logging.getLogger().addHandler(collect)
import tarnvale
p = skipping_dir()
tarnvale.RawReader(p)
emit(collect.take())
logging.getLogger().setLevel(logging.DEBUG)
tarnvale.RawReader(p)
emit(collect.take())
tarnvale.RawReader(percent_dir())
emit(collect.take())
'''
    )
    skips = _warnings(str(tmp_path / "skips.raw"))
    assert first == skips
    assert second == skips  # DEBUG enabled too late for tarnvale.reader
    # Targets seen for the first time after the change are forwarded at DEBUG.
    percent = _fill(PERCENT_OPEN, str(tmp_path / "100%s %d.raw"))
    assert other_targets == [row for row in percent if row[0] != "tarnvale.reader" or row[2] == 30]


def test_last_resort_handler_prints_bare_warnings(run_fresh, tmp_path: Path) -> None:
    done = run_fresh(PRELUDE + "import tarnvale\ntarnvale.RawReader(skipping_dir())\n", str(tmp_path))
    assert done.returncode == 0
    assert done.stdout == ""
    path = str(tmp_path / "skips.raw")
    assert done.stderr.splitlines() == [text.replace("{p}", path) for text in SKIP_WARNINGS]


def test_trace_is_never_forwarded(child) -> None:
    (levels,) = child(
        r'''
collect = collecting(level=1)
import tarnvale
r = tarnvale.RawReader(percent_dir())
r.read_spectrum(2, 0)
r.read_spectrum(1, 3)
tarnvale.RawReader(sample_dir()).read_ims_spectrum(2, 0)
emit(sorted({level for _, _, level, _ in collect.take()}))
'''
    )
    assert levels == [10, 30]


# Ways a Python logging call can fail while a record is forwarded: each of the
# three calls the bridge makes (a raising filter fails the same handle() call).
FAILURES = {
    "handler": "class Boom(logging.Handler):\n"
    "    def emit(self, record):\n"
    "        raise LookupError('handler: ' + record.getMessage())\n"
    "logging.basicConfig(level=logging.DEBUG, handlers=[Boom()])\n",
    "makeRecord": "class Boom(logging.Logger):\n"
    "    def makeRecord(self, *args):\n"
    "        raise LookupError('makeRecord: ' + args[4])\n"
    "logging.setLoggerClass(Boom)\n"
    "logging.basicConfig(level=logging.DEBUG)\n",
    "isEnabledFor": "class Boom(logging.Logger):\n"
    "    def isEnabledFor(self, level):\n"
    "        raise LookupError(f'isEnabledFor: {level}')\n"
    "logging.setLoggerClass(Boom)\n"
    "logging.basicConfig(level=logging.DEBUG)\n",
}


@pytest.mark.parametrize("point", sorted(FAILURES))
def test_failing_logging_is_reported_as_unraisable(child, tmp_path: Path, point: str) -> None:
    (outcome,) = child(
        "seen = []\nsys.unraisablehook = seen.append\n"
        + FAILURES[point]
        + r'''
import tarnvale
r = tarnvale.RawReader(sample_dir())
emit({"functions": len(r.functions), "spectrum": len(r.read_spectrum(1, 0)),
      "unraisable": [[type(u.exc_value).__name__, str(u.exc_value)] for u in seen]})
'''
    )
    # The operation completed normally: no exception was left pending (which
    # CPython would have turned into a SystemError when the call returned).
    assert outcome["functions"] == 3 and outcome["spectrum"] == 3
    messages = [row[3] for row in _fill(SAMPLE_OPEN, str(tmp_path / "sample.raw"))]
    if point == "isEnabledFor":
        expected = [f"isEnabledFor: {row[2]}" for row in SAMPLE_OPEN]
    else:
        expected = [f"{point}: {m}" for m in messages]
    assert outcome["unraisable"] == [["LookupError", text] for text in expected]


def test_failing_level_probe_caches_every_level(child, tmp_path: Path) -> None:
    (outcome,) = child(
        r'''
seen = []
sys.unraisablehook = seen.append
class Probe(logging.Logger):
    def isEnabledFor(self, level):
        if level == 5:
            raise LookupError("probe")
        return super().isEnabledFor(level)
logging.setLoggerClass(Probe)
collect = collecting()
import tarnvale
tarnvale.RawReader(sample_dir())
emit({"records": collect.take(), "unraisable": [str(u.exc_value) for u in seen]})
'''
    )
    assert outcome["records"] == _fill(SAMPLE_OPEN, str(tmp_path / "sample.raw"))
    assert outcome["unraisable"] == ["probe"]


HELPER_C = r"""
#define PY_SSIZE_T_CLEAN
#include <Python.h>

/* Calls a type's tp_new while an exception is already set, as C code calling
   into the module in the middle of its own error handling would, and reports
   the result together with whatever exception is pending afterwards. */
static PyObject *new_with_pending(PyObject *self, PyObject *args) {
    PyObject *type, *call_args;
    if (!PyArg_ParseTuple(args, "O!O!", &PyType_Type, &type, &PyTuple_Type, &call_args))
        return NULL;
    PyErr_SetString(PyExc_LookupError, "pending before the call");
    PyObject *made = ((PyTypeObject *)type)->tp_new((PyTypeObject *)type, call_args, NULL);
    PyObject *pending = PyErr_GetRaisedException();
    return Py_BuildValue("(NN)", made ? made : Py_NewRef(Py_None), pending ? pending : Py_NewRef(Py_None));
}

static PyMethodDef methods[] = {{"new_with_pending", new_with_pending, METH_VARARGS, NULL}, {NULL}};
static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "pendinghelper", NULL, 0, methods};
PyMODINIT_FUNC PyInit_pendinghelper(void) { return PyModule_Create(&module); }
"""


@pytest.fixture(scope="module")
def pending_helper(tmp_path_factory: pytest.TempPathFactory) -> str:
    """Directory holding the compiled helper module (skips without a compiler)."""
    out = tmp_path_factory.mktemp("helper")
    source = out / "pendinghelper.c"
    source.write_text(HELPER_C)
    target = out / f"pendinghelper{sysconfig.get_config_var('EXT_SUFFIX')}"
    compiler = (sysconfig.get_config_var("CC") or "cc").split()
    command = [*compiler, "-shared", "-fPIC", f"-I{sysconfig.get_paths()['include']}", str(source), "-o", str(target)]
    try:
        subprocess.run(command, check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError) as error:
        pytest.skip(f"cannot build the C helper: {error}")
    return str(out)


@pytest.mark.parametrize("handler", ["collecting", "raising"])
def test_exception_pending_before_a_record_is_preserved(child, pending_helper: str, handler: str) -> None:
    (outcome,) = child(
        r'''
seen = []
sys.unraisablehook = seen.append
class Raising(logging.Handler):
    def emit(self, record):
        raise ValueError(record.getMessage())
collect = Collect()
logging.basicConfig(level=logging.DEBUG, handlers=[collect if sys.argv[2] == "collecting" else Raising()])
import tarnvale, pendinghelper
made, pending = pendinghelper.new_with_pending(tarnvale.RawReader, (sample_dir(),))
emit({"made": type(made).__name__, "pending": [type(pending).__name__, str(pending)],
      "records": len(collect.take()), "unraisable": sorted({type(u.exc_value).__name__ for u in seen}),
      "count": len(seen)})
'''.replace("sys.argv[2]", repr(handler)),
        extra_path=(pending_helper,),
    )
    assert outcome["made"] == "RawReader"
    assert outcome["pending"] == ["LookupError", "pending before the call"]
    if handler == "collecting":
        assert (outcome["records"], outcome["count"]) == (len(SAMPLE_OPEN), 0)
    else:
        assert (outcome["unraisable"], outcome["count"]) == (["ValueError"], len(SAMPLE_OPEN))


def test_data_loss_warnings(child, tmp_path: Path) -> None:
    (records,) = child(
        r'''
collect = Collect()
logging.getLogger().addHandler(collect)
import tarnvale
scans = [rawfixture.Scan(0.1, [rawfixture.record_d(1, 0x0C000000)]),
         rawfixture.Scan(0.2, [rawfixture.record_d(2, 0x0C000000)]),
         rawfixture.Scan(0.3, offset=1000, n_points=10)]
d = rawfixture.RawDir(rawfixture.RunHeader(cal=[rawfixture.CalLine(1, [0.0, 1.0])]),
                      functions=[rawfixture.Function("D", scans, sts=bytes(10), data_bytes=bytes(1000))])
p = str(d.write(OUT / "loss.raw"))
r = tarnvale.RawReader(p)
assert (r.function_encoding(1), r.n_scans(1), len(r.read_spectrum(1, 2))) == ("d", 3, 0)
emit(collect.take())
'''
    )
    path = tmp_path / "loss.raw"
    assert records == [
        _warning(
            f"function 1: ignoring unreadable {path}/_FUNC001.STS: parse error: _FUNCnnn.STS too small: 10 bytes "
            "(need at least 32)"
        ),
        _warning(f"function 1: index addresses 1080 bytes but {path}/_FUNC001.DAT is 1000 bytes"),
    ]


def test_module_initialisation_failures(child) -> None:
    without_logging, second_exec = child(
        r'''
sys.modules["logging"] = None
try:
    import tarnvale
except Exception as error:
    emit(str(error))
else:
    emit("imported")
'''
        + r'''
del sys.modules["logging"]
import logging
import tarnvale
del sys.modules["tarnvale"]
try:
    import tarnvale as again
except Exception as error:
    emit([type(error).__name__, str(error)])
else:
    emit("imported twice")
'''
    )
    assert without_logging.startswith("Failed to initialize python logging: ")
    assert second_exec != "imported twice" and second_exec[1]
