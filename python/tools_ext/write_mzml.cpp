// write_mzml(raw_path, out_path, *, compression=True, ims="combined",
// skip_lock_mass=False, threads=1, progress=None, numpress=False, mz_precision=64,
// gzip=False, on_error="fail", functions=None, ms_level=None, rt=None, mz=None, and
// the processing keywords) -> (spectra, left out). The conversion runs without the
// interpreter lock; between batches it takes the lock back to check for signals and
// to call the progress callback.
#include "tools_ext/write_mzml.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/arguments.hpp"
#include "common/convert.hpp"
#include "common/guard.hpp"
#include "common/py_ref.hpp"
#include "export/convert.hpp"
#include "tools_ext/damaged_run.hpp"
#include "tools_ext/objects.hpp"
#include "tools_ext/processing_arguments.hpp"
#include "tools_ext/tools_arguments.hpp"

namespace tarnvale::py::tools {

namespace {

constexpr std::size_t kPositional = 2;

// The interpreter lock released for the life of the object, and taken back for the
// progress callback. The lock is held again when the object goes, also when a C++
// exception unwinds through it.
class LockReleased {
  public:
    LockReleased() : saved_(PyEval_SaveThread()) {}
    ~LockReleased() { PyEval_RestoreThread(saved_); }
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;

    template <class F> auto with_lock(F&& body) {
        PyEval_RestoreThread(saved_);
        auto result = body();
        saved_ = PyEval_SaveThread();
        return result;
    }

  private:
    PyThreadState* saved_;
};

struct Arguments {
    std::filesystem::path raw;
    std::filesystem::path out;
    exporter::ConversionOptions options;
    PyObject* progress = nullptr; // borrowed; null without a callback
};

bool to_path(PyObject* object, const char* param, std::filesystem::path& out) {
    PyRef text = PyRef::steal(to_path_str(object, "write_mzml", param));
    if (!text) return false;
    std::optional<std::filesystem::path> path;
    if (!fs_path(text.get(), path)) return false;
    if (!path) {
        PyErr_Format(PyExc_ValueError, "%s cannot name a file: %R", param, text.get());
        return false;
    }
    out = std::move(*path);
    return true;
}

bool to_ims_layout(PyObject* object, exporter::ImsLayout& out) {
    if (object == nullptr) return true;
    if (PyUnicode_Check(object)) {
        if (PyUnicode_CompareWithASCIIString(object, "combined") == 0) {
            out = exporter::ImsLayout::Combined;
            return true;
        }
        if (PyUnicode_CompareWithASCIIString(object, "per-bin") == 0) {
            out = exporter::ImsLayout::PerBin;
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError, "ims must be \"combined\" or \"per-bin\", not %R", object);
    return false;
}

bool to_threads(PyObject* object, unsigned& out) {
    if (object == nullptr) return true;
    std::uint32_t threads = 0;
    if (!to_u32(object, "threads", threads)) return false;
    if (threads == 0) {
        PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
        return false;
    }
    out = threads;
    return true;
}

bool to_mz_precision(PyObject* object, mzml::Precision& out) {
    if (object == nullptr) return true;
    std::uint32_t bits = 0;
    if (PyBool_Check(object) || !to_u32(object, "mz_precision", bits) || (bits != 32 && bits != 64)) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "mz_precision must be 32 or 64, not %R", object);
        return false;
    }
    out = bits == 32 ? mzml::Precision::Float32 : mzml::Precision::Float64;
    return true;
}

// numpress, mz_precision and gzip: how compact the file is.
bool to_compact_options(PyObject* numpress, PyObject* mz_precision, PyObject* gzip,
                        exporter::ConversionOptions& out) {
    return to_flag(numpress, false, out.numpress) && to_mz_precision(mz_precision, out.mz_precision) &&
           to_flag(gzip, false, out.gzip);
}

bool parse(PyObject* args, PyObject* kwds, Arguments& out) {
    if (PyTuple_GET_SIZE(args) > static_cast<Py_ssize_t>(kPositional)) {
        PyErr_Format(PyExc_TypeError, "write_mzml() takes %zu positional arguments but %zd were given",
                     kPositional, PyTuple_GET_SIZE(args));
        return false;
    }
    static constexpr auto params = with_processing<15>(
        {"raw_path", "out_path", "compression", "ims", "skip_lock_mass", "threads", "progress", "numpress",
         "mz_precision", "gzip", "on_error", "functions", "ms_level", "rt", "mz"});
    std::array<PyObject*, params.size()> bound{};
    if (!bind_arguments(args, kwds, "write_mzml", params, bound, kPositional)) return false;
    bool compression = true;
    if (!to_path(bound[0], params[0], out.raw) || !to_path(bound[1], params[1], out.out) ||
        !to_flag(bound[2], true, compression) || !to_ims_layout(bound[3], out.options.ims) ||
        !to_flag(bound[4], false, out.options.skip_lock_mass) || !to_threads(bound[5], out.options.threads) ||
        !to_compact_options(bound[7], bound[8], bound[9], out.options) ||
        !to_on_error(bound[10], out.options.on_error) ||
        !to_selection(bound[11], bound[12], bound[13], bound[14], out.options.selection) ||
        // With skipping, a lock scan that cannot be read is left out of the correction too.
        !to_processing_request(std::span<PyObject* const>(bound).subspan(15), out.options.on_error,
                               out.options.processing))
        return false;
    out.options.compression = compression ? mzml::Compression::Zlib : mzml::Compression::None;
    if (bound[6] != nullptr && bound[6] != Py_None) {
        if (!PyCallable_Check(bound[6])) {
            PyErr_Format(PyExc_TypeError, "progress must be callable or None, not %T", bound[6]);
            return false;
        }
        out.progress = bound[6];
    }
    return true;
}

// {number: reason} of left-out functions or channels.
PyObject* reasons_dict(const std::vector<exporter::LeftOutItem>& items) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const exporter::LeftOutItem& item : items) {
        PyRef key = PyRef::steal(PyLong_FromUnsignedLongLong(item.number));
        PyRef reason = PyRef::steal(to_py_str(item.reason));
        if (!key || !reason || PyDict_SetItem(dict.get(), key.get(), reason.get()) < 0) return nullptr;
    }
    return dict.release();
}

} // namespace

PyObject* left_out_dict(const exporter::LeftOut& left_out) {
    PyRef scans = PyRef::steal(PyDict_New());
    if (!scans) return nullptr;
    for (const exporter::LeftOutScans& function : left_out.scans) {
        PyRef key = PyRef::steal(PyLong_FromUnsignedLong(function.function));
        PyRef list = PyRef::steal(int_list(function.scans));
        if (!key || !list || PyDict_SetItem(scans.get(), key.get(), list.get()) < 0) return nullptr;
    }
    PyRef functions = PyRef::steal(reasons_dict(left_out.functions));
    PyRef channels = PyRef::steal(reasons_dict(left_out.channels));
    if (!functions || !channels) return nullptr;
    return Py_BuildValue("{sOsOsO}", "functions", functions.get(), "scans", scans.get(), "channels",
                         channels.get());
}

PyObject* write_mzml(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        Arguments arguments;
        if (!parse(args, kwds, arguments)) return nullptr;
        PyRef callback = PyRef::borrow(arguments.progress);
        PyRef raised; // what the callback raised, to raise again once the lock is back
        std::optional<exporter::ConversionResult<exporter::ConversionSummary>> summary;
        {
            LockReleased released;
            // Between batches, with the lock: a pending signal (Ctrl-C) stops the
            // conversion as an exception from the callback does.
            const exporter::Progress progress = [&](std::uint64_t done, std::uint64_t total) -> Result<void> {
                return released.with_lock([&]() -> Result<void> {
                    if (PyErr_CheckSignals() == 0) {
                        if (!callback) return {};
                        PyRef answer = PyRef::steal(
                            PyObject_CallFunction(callback.get(), "KK", static_cast<unsigned long long>(done),
                                                  static_cast<unsigned long long>(total)));
                        if (answer) return {};
                    }
                    raised = PyRef::steal(PyErr_GetRaisedException());
                    return parse_error("stopped by an exception between batches");
                });
            };
            summary.emplace(
                exporter::convert_to_mzml(arguments.raw, arguments.out, arguments.options, progress));
        }
        if (raised) {
            PyErr_SetRaisedException(raised.release());
            return nullptr;
        }
        if (!*summary) {
            const exporter::ConversionFailure& failure = summary->error();
            return failure.damaged ? raise_damaged_run(failure.error) : raise_runtime(failure.error);
        }
        PyRef left_out = PyRef::steal(left_out_dict((*summary)->left_out));
        if (!left_out) return nullptr;
        return Py_BuildValue("(KO)", static_cast<unsigned long long>((*summary)->spectra), left_out.get());
    });
}

const char write_mzml_doc[] =
    "write_mzml(raw_path, out_path, *, compression=True, ims='combined', skip_lock_mass=False, threads=1, "
    "progress=None, numpress=False, mz_precision=64, gzip=False, on_error='fail', functions=None, "
    "ms_level=None, rt=None, mz=None, " TV_PROCESSING_SIGNATURE ")\n--\n\n"
    "Converts the run at raw_path to one indexed mzML 1.1 file at out_path and returns (spectra, left_out):\n"
    "the number of spectra written and {'functions': {number: reason}, 'scans': {function: [scans]},\n"
    "'channels': {index: reason}}, what could not be read. The file is written under a temporary name and\n"
    "renamed once complete: a failure leaves nothing at out_path. compression: zlib (True) or none for\n"
    "the arrays, after numpress when numpress is true (m/z and times by linear prediction, intensities as\n"
    "short logged floats: lossy, within the codecs' error bounds); mz_precision: 64 or 32 bits for m/z\n"
    "arrays written as floats; gzip: the whole file as gzip, the index counting the uncompressed bytes.\n"
    "ims: one spectrum per ion-mobility scan with a drift-time array (\"combined\") or one per drift bin\n"
    "(\"per-bin\"); skip_lock_mass leaves the lock-mass functions out; threads decode and encode (the\n"
    "bytes written are the same for any number). on_error='skip' leaves out the scans and channels that\n"
    "cannot be read; otherwise the first raises DamagedRunError. functions, ms_level, rt and mz ((min,\n"
    "max) in minutes and m/z, either end None) select what is written. centroid picks the peaks of\n"
    "profile functions and lock_mass corrects every function's m/z, as Run.columns does; the file's data\n"
    "processing says so. progress(done_scans, total_scans) is called between batches; an exception it\n"
    "raises stops the conversion and propagates. Other errors raise RuntimeError; a selection that\n"
    "cannot be used ValueError.";

} // namespace tarnvale::py::tools
