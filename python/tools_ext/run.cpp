// Run: opens a .raw directory once and reads whole functions from it: columns,
// chromatograms, and the plain values of its metadata.
#include <array>
#include <cctype>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "common/arguments.hpp"
#include "common/box.hpp"
#include "common/convert.hpp"
#include "common/without_gil.hpp"
#include "export/batch_columns.hpp"
#include "export/function_plan.hpp"
#include "io.hpp"
#include "tools_ext/array_buffer.hpp"
#include "tools_ext/damaged_run.hpp"
#include "tools_ext/objects.hpp"
#include "tools_ext/processing_arguments.hpp"
#include "tools_ext/tools_arguments.hpp"
#include "tools_ext/types.hpp"
#include "tools_ext/write_mzml.hpp"

namespace tarnvale::py::tools {

namespace {

const Acquisition& acquisition_of(PyObject* self) { return unbox<RunState>(self).acquisition; }

PyObject* run_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 1> params{"path"};
        std::array<PyObject*, 1> bound{};
        if (!bind_arguments(args, kwds, "Run", params, bound)) return nullptr;
        PyRef path = PyRef::steal(to_path_str(bound[0], "Run", params[0]));
        if (!path) return nullptr;
        std::optional<std::filesystem::path> dir;
        if (!fs_path(path.get(), dir)) return nullptr;
        if (!dir || !names_directory(*dir)) {
            PyErr_Format(PyExc_RuntimeError, "'%U' is not a directory", path.get());
            return nullptr;
        }
        auto acquisition = without_interpreter_lock([&] { return Acquisition::open(*dir); });
        if (!acquisition) return raise_runtime(acquisition.error());
        return box_alloc(type, RunState{std::move(*acquisition), std::move(path)});
    });
}

// Stores `value` (a new reference) under `key`; false with an exception set.
bool put(PyObject* dict, const char* key, PyObject* value) {
    PyRef owned = PyRef::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* get_path(PyObject* self, void*) { return Py_NewRef(unbox<RunState>(self).path.get()); }

PyObject* get_name(PyObject* self, void*) {
    return guarded([self] { return to_py_str(acquisition_of(self).reader().name); });
}

PyObject* get_header(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const raw::Header& header = acquisition_of(self).reader().header;
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict || !put(dict.get(), "version", to_py(header.version)) ||
            !put(dict.get(), "acquired_name", to_py(header.acquired_name)) ||
            !put(dict.get(), "acquired_date", to_py(header.acquired_date)) ||
            !put(dict.get(), "acquired_time", to_py(header.acquired_time)) ||
            !put(dict.get(), "instrument", to_py(header.instrument)) ||
            !put(dict.get(), "operator", to_py(header.operator_)) ||
            !put(dict.get(), "sample_description", to_py(header.sample_description)))
            return nullptr;
        return dict.release();
    });
}

PyObject* get_polarity(PyObject* self, void*) {
    const std::optional<raw::Polarity>& polarity = acquisition_of(self).reader().extern_inf.polarity;
    if (!polarity) Py_RETURN_NONE;
    return PyUnicode_FromString(*polarity == raw::Polarity::Positive ? "positive" : "negative");
}

PyObject* function_dict(const Reader& reader, const FunctionEntry& entry) {
    const char letter = static_cast<char>(std::tolower(encoding_letter(entry.encoding)));
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict || !put(dict.get(), "index", to_py(entry.number)) ||
        !put(dict.get(), "encoding", PyUnicode_FromStringAndSize(&letter, 1)) ||
        !put(dict.get(), "ms_level", to_py(reader.extern_inf.ms_level(entry.number))) ||
        !put(dict.get(), "n_scans", to_py(entry.scans.size())) ||
        !put(dict.get(), "mz_low", to_py(entry.info.mz_low)) ||
        !put(dict.get(), "mz_high", to_py(entry.info.mz_high)) ||
        !put(dict.get(), "scan_time_s", to_py(entry.info.scan_time_s)) ||
        !put(dict.get(), "is_lock_mass", PyBool_FromLong(entry.info.is_lock_mass())) ||
        !put(dict.get(), "is_ims", PyBool_FromLong(entry.encoding == Encoding::B)))
        return nullptr;
    return dict.release();
}

PyObject* get_functions(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const Reader& reader = acquisition_of(self).reader();
        PyRef list = PyRef::steal(PyList_New(0));
        if (!list) return nullptr;
        for (const FunctionEntry& entry : reader.functions) {
            PyRef item = PyRef::steal(function_dict(reader, entry));
            if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
        }
        return list.release();
    });
}

PyObject* get_channels(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const std::optional<raw::ChromsInf>& table = acquisition_of(self).channel_table();
        PyRef list = PyRef::steal(PyList_New(0));
        if (!list || !table) return list.release();
        for (const raw::ChromChannel& channel : table->channels) {
            PyRef dict = PyRef::steal(PyDict_New());
            if (!dict || !put(dict.get(), "index", to_py(channel.index)) ||
                !put(dict.get(), "name", to_py(channel.name)) ||
                !put(dict.get(), "units", to_py(channel.units)) ||
                !put(dict.get(), "scale_f", to_py(channel.scale_f)) ||
                !put(dict.get(), "source_type", to_py(channel.source_type)) ||
                PyList_Append(list.get(), dict.get()) < 0)
                return nullptr;
        }
        return list.release();
    });
}

// The processing keywords, which follow a callable's own `own` parameters in
// `bound`, prepared on the run into options.processing.
bool with_processing_of(PyObject* self, std::span<PyObject* const> bound, std::size_t own,
                        columns::Options& options) {
    processing::ProcessingRequest request;
    return to_processing_request(bound.subspan(own), options.on_error, request) &&
           unbox<RunState>(self).processing->prepare(acquisition_of(self).reader(), request,
                                                     options.processing);
}

PyObject* run_columns(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr auto params = with_processing<3>({"func_index", "threads", "on_error"});
        std::array<PyObject*, params.size()> bound{};
        if (!bind_arguments(args, kwds, "Run.columns", params, bound, 1)) return nullptr;
        std::uint32_t func_index = 0;
        columns::Options options;
        if (!to_u32(bound[0], params[0], func_index) || !to_options(bound[1], bound[2], options))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        auto entry = acquisition.function(func_index);
        if (!entry) return raise_runtime(entry.error());
        if (!with_processing_of(self, bound, 3, options)) return nullptr;
        auto read = without_interpreter_lock(
            [&] { return columns::read_columns(acquisition.reader(), **entry, options); });
        if (!read) return raise_runtime(read.error());
        return new_columns(std::move(*read));
    });
}

PyObject* scan_tuple(raw::Spectrum& spectrum, float rt_min) {
    PyRef rt = PyRef::steal(to_py(rt_min));
    PyRef mz = PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(spectrum.mz))));
    PyRef intensity =
        PyRef::steal(memoryview_of(columns::Column<float>::from_vector(std::move(spectrum.intensity))));
    if (!rt || !mz || !intensity) return nullptr;
    return PyTuple_Pack(4, mz.get(), intensity.get(), Py_None, rt.get());
}

PyObject* scan_tuple(raw::ImsSpectrum& spectrum, float rt_min) {
    PyRef rt = PyRef::steal(to_py(rt_min));
    PyRef mz = PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(spectrum.mz))));
    PyRef intensity =
        PyRef::steal(memoryview_of(columns::Column<float>::from_vector(std::move(spectrum.intensity))));
    PyRef drift =
        PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(spectrum.drift_time_ms))));
    if (!rt || !mz || !intensity || !drift) return nullptr;
    return PyTuple_Pack(4, mz.get(), intensity.get(), drift.get(), rt.get());
}

PyObject* run_chromatograms(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr auto params =
            with_processing<8>({"func_index", "tic", "bpi", "targets", "ppm", "da", "threads", "on_error"});
        std::array<PyObject*, params.size()> bound{};
        if (!bind_arguments(args, kwds, "Run.chromatograms", params, bound, 1)) return nullptr;
        std::uint32_t func_index = 0;
        columns::ChromatogramRequest request;
        columns::Options options;
        if (!to_u32(bound[0], params[0], func_index) || !to_flag(bound[1], true, request.tic) ||
            !to_flag(bound[2], true, request.base_peak) ||
            !to_targets(bound[3], bound[4], bound[5], "Run.chromatograms", request.targets) ||
            !to_options(bound[6], bound[7], options))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        auto entry = acquisition.function(func_index);
        if (!entry) return raise_runtime(entry.error());
        if (!with_processing_of(self, bound, 8, options)) return nullptr;
        auto read = without_interpreter_lock(
            [&] { return columns::read_chromatograms(acquisition.reader(), **entry, request, options); });
        if (!read) return raise_runtime(read.error());
        return new_chromatograms(std::move(*read), func_index);
    });
}

// The functions a conversion with this selection writes, and those it leaves out.
PyObject* run_export_plan(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 3> params{"functions", "ms_level", "skip_lock_mass"};
        std::array<PyObject*, 3> bound{};
        exporter::ConversionOptions options;
        if (!bind_arguments(args, kwds, "Run.export_plan", params, bound, 0) ||
            !to_selection(bound[0], bound[1], nullptr, nullptr, options.selection) ||
            !to_flag(bound[2], false, options.skip_lock_mass))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        auto plans = exporter::plan_functions(acquisition, options);
        if (!plans) return raise_runtime(plans.error());
        std::vector<std::uint64_t> numbers;
        for (const exporter::FunctionPlan& plan : *plans) numbers.push_back(plan.entry->number);
        PyRef planned = PyRef::steal(int_list(numbers));
        exporter::LeftOut left_out;
        left_out.functions = exporter::unreadable_functions(acquisition, options);
        PyRef unreadable = PyRef::steal(left_out_dict(left_out));
        if (!planned || !unreadable) return nullptr;
        return Py_BuildValue("(OO)", planned.get(), PyDict_GetItemString(unreadable.get(), "functions"));
    });
}

// A function's columns as a conversion writes them: scans outside the times empty,
// points outside the m/z range dropped, scans that cannot be read skipped or failing.
PyObject* run_export_columns(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr auto params = with_processing<5>({"func_index", "threads", "on_error", "rt", "mz"});
        std::array<PyObject*, params.size()> bound{};
        if (!bind_arguments(args, kwds, "Run.export_columns", params, bound, 1)) return nullptr;
        std::uint32_t func_index = 0;
        columns::Options options;
        exporter::Selection selection;
        if (!to_u32(bound[0], params[0], func_index) || !to_options(bound[1], bound[2], options) ||
            !to_selection(nullptr, nullptr, bound[3], bound[4], selection))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        auto entry = acquisition.function(func_index);
        if (!entry) return raise_runtime(entry.error());
        if (!with_processing_of(self, bound, 5, options)) return nullptr;
        const exporter::BatchFilter filter{options.on_error, selection.rt_min, selection.mz,
                                           options.processing};
        auto read = without_interpreter_lock(
            [&] { return exporter::read_function(acquisition.reader(), **entry, options.threads, filter); });
        // Every failure of a read that gets this far is a scan that cannot be read.
        if (!read) return raise_damaged_run(read.error());
        return new_columns(std::move(*read));
    });
}

PyObject* run_read_chrom(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 1> params{"channel_index"};
        std::array<PyObject*, 1> bound{};
        std::uint64_t channel_index = 0;
        if (!bind_arguments(args, kwds, "Run.read_chrom", params, bound) ||
            !to_u64(bound[0], params[0], channel_index))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        auto points = without_interpreter_lock([&] { return acquisition.read_chrom(channel_index); });
        if (!points) return raise_runtime(points.error());
        std::vector<float> rt, value;
        rt.reserve(points->size());
        value.reserve(points->size());
        for (const raw::ChromPoint& point : *points) {
            rt.push_back(point.rt_min);
            value.push_back(point.value);
        }
        PyRef rt_view = PyRef::steal(memoryview_of(columns::Column<float>::from_vector(std::move(rt))));
        PyRef value_view = PyRef::steal(memoryview_of(columns::Column<float>::from_vector(std::move(value))));
        if (!rt_view || !value_view) return nullptr;
        return PyTuple_Pack(2, rt_view.get(), value_view.get());
    });
}

// One scan decoded on its own: (mz, intensity, drift_time_ms or None, rt_min).
PyObject* run_read_scan(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr auto params = with_processing<2>({"func_index", "scan_index"});
        std::array<PyObject*, params.size()> bound{};
        std::uint32_t func_index = 0;
        std::uint64_t scan_index = 0;
        if (!bind_arguments(args, kwds, "Run.read_scan", params, bound, 2) ||
            !to_u32(bound[0], params[0], func_index) || !to_u64(bound[1], params[1], scan_index))
            return nullptr;
        const Acquisition& acquisition = acquisition_of(self);
        columns::Options options;
        if (!with_processing_of(self, bound, 2, options)) return nullptr;
        auto decoded = without_interpreter_lock([&]() -> Result<DecodedScan> {
            if (!options.processing) return acquisition.decode_scan(func_index, scan_index);
            return processing::read_processed_scan(acquisition.reader(), func_index, scan_index,
                                                   *options.processing);
        });
        if (!decoded) return raise_runtime(decoded.error());
        const float rt_min = decoded->rt_min;
        return std::visit([rt_min](auto& spectrum) { return scan_tuple(spectrum, rt_min); },
                          decoded->spectrum);
    });
}

// (rt_min, observed_mz, ppm_error) per lock scan, float64, NaN where no peak was found.
PyObject* run_lock_mass_trace(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 4> params{"mz", "tolerance", "function", "on_error"};
        std::array<PyObject*, params.size()> bound{};
        if (!bind_arguments(args, kwds, "Run.lock_mass_trace", params, bound, 1)) return nullptr;
        processing::LockMassOptions options;
        columns::Options read;
        if (!to_lock_mass(bound[0], "mz", options.reference_mz) ||
            (bound[1] != nullptr && !to_f64(bound[1], "tolerance", options.tolerance_da)) ||
            !to_options(nullptr, bound[3], read))
            return nullptr;
        if (bound[2] != nullptr && bound[2] != Py_None) {
            std::uint32_t function = 0;
            if (!to_u32(bound[2], "function", function)) return nullptr;
            options.function = function;
        }
        options.skip_unreadable = read.on_error == columns::OnError::Skip;
        if (auto problem = processing::problem_with(options)) {
            PyErr_SetString(PyExc_ValueError, problem->c_str());
            return nullptr;
        }
        const Reader& reader = acquisition_of(self).reader();
        auto trace =
            without_interpreter_lock([&] { return processing::read_lock_mass_trace(reader, options); });
        if (!trace) return raise_runtime(trace.error());
        std::vector<double> ppm;
        ppm.reserve(trace->observed_mz.size());
        for (const double observed : trace->observed_mz)
            ppm.push_back((observed - options.reference_mz) / options.reference_mz * 1e6);
        PyRef rt =
            PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(trace->rt_min))));
        PyRef mz =
            PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(trace->observed_mz))));
        PyRef error = PyRef::steal(memoryview_of(columns::Column<double>::from_vector(std::move(ppm))));
        if (!rt || !mz || !error) return nullptr;
        return PyTuple_Pack(3, rt.get(), mz.get(), error.get());
    });
}

// The number of the lock-mass function: `function` when given (and readable), else
// the one function the run flags; RuntimeError otherwise.
PyObject* run_lock_mass_function(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 1> params{"function"};
        std::array<PyObject*, params.size()> bound{};
        if (!bind_arguments(args, kwds, "Run.lock_mass_function", params, bound, 0)) return nullptr;
        std::optional<std::uint32_t> chosen;
        if (bound[0] != nullptr && bound[0] != Py_None) {
            std::uint32_t function = 0;
            if (!to_u32(bound[0], params[0], function)) return nullptr;
            chosen = function;
        }
        auto entry = processing::lock_mass_function(acquisition_of(self).reader(), chosen);
        if (!entry) return raise_runtime(entry.error());
        return to_py((*entry)->number);
    });
}

PyObject* run_repr(PyObject* self) {
    const Acquisition& acquisition = acquisition_of(self);
    return PyUnicode_FromFormat("Run('%U', %zu function(s))", unbox<RunState>(self).path.get(),
                                acquisition.reader().functions.size());
}

PyGetSetDef run_getset[] = {
    read_only("path", get_path, "The path the run was opened with."),
    read_only("name", get_name, "The directory's name (e.g. \"sample.raw\")."),
    read_only("header", get_header, "The run header fields of `_HEADER.TXT` (None where absent)."),
    read_only("polarity", get_polarity, "\"positive\", \"negative\" or None, from `_extern.inf`."),
    read_only("functions", get_functions, "One dict per readable function, by function number."),
    read_only("channels", get_channels, "One dict per chromatogram channel of `_CHROMS.INF`."),
    {},
};

PyMethodDef run_methods[] = {
    {"columns", as_cfunction<run_columns>(), kArgs,
     "columns($self, func_index, threads=1, on_error='fail', " TV_PROCESSING_SIGNATURE ")\n--\n\n"
     "Every scan of a function decoded into contiguous columns."},
    {"chromatograms", as_cfunction<run_chromatograms>(), kArgs,
     "chromatograms($self, func_index, tic=True, bpi=True, targets=None, ppm=None, da=None, threads=1, "
     "on_error='fail', " TV_PROCESSING_SIGNATURE ")\n--\n\n"
     "TIC, base peak and extracted-ion traces of a function in one pass over its scans."},
    {"lock_mass_function", as_cfunction<run_lock_mass_function>(), kArgs,
     "lock_mass_function($self, function=None)\n--\n\n"
     "The lock-mass function's number: `function` if the run can read it, else the one function whose\n"
     "scan subtype flags lock mass. RuntimeError when there is none or several."},
    {"lock_mass_trace", as_cfunction<run_lock_mass_trace>(), kArgs,
     "lock_mass_trace($self, mz, tolerance=0.25, function=None, on_error='fail')\n--\n\n"
     "(rt_min, observed_mz, ppm_error) float64 arrays, one entry per lock scan; NaN where no peak lies\n"
     "within the tolerance (Da) of mz, an m/z or a preset name."},
    {"read_scan", as_cfunction<run_read_scan>(), kArgs,
     "read_scan($self, func_index, scan_index, " TV_PROCESSING_SIGNATURE ")\n--\n\n"
     "One scan decoded on its own: (mz, intensity, drift_time_ms, rt_min), drift_time_ms None unless the "
     "function is ion mobility."},
    {"export_plan", as_cfunction<run_export_plan>(), kArgs,
     "export_plan($self, functions=None, ms_level=None, skip_lock_mass=False)\n--\n\n"
     "(the function numbers a conversion writes, {number: reason} of those it cannot read)."},
    {"export_columns", as_cfunction<run_export_columns>(), kArgs,
     "export_columns($self, func_index, threads=1, on_error='fail', rt=None, "
     "mz=None, " TV_PROCESSING_SIGNATURE ")\n--\n\n"
     "A function's columns as a conversion writes them; DamagedRunError for a scan that cannot be read."},
    {"read_chrom", as_cfunction<run_read_chrom>(), kArgs,
     "read_chrom($self, channel_index)\n--\n\n"
     "A chromatogram channel as (rt_min, value) float32 arrays."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot run_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("Run(path)\n--\n\nA Waters MassLynx `.raw` directory, opened for reading whole "
                       "functions.")},
    {Py_tp_new, reinterpret_cast<void*>(run_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<RunState>)},
    {Py_tp_repr, reinterpret_cast<void*>(run_repr)},
    {Py_tp_getset, run_getset},
    {Py_tp_methods, run_methods},
    {0, nullptr},
};

} // namespace

PyType_Spec run_type_spec = {
    "tarnvale_tools._core.Run",
    sizeof(Box<RunState>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    run_slots,
};

} // namespace tarnvale::py::tools
