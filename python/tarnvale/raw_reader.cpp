// RawReader: construction, properties and repr.
#include "tarnvale/raw_reader.hpp"

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "common/arguments.hpp"
#include "common/convert.hpp"
#include "io.hpp"
#include "tarnvale/results.hpp"

namespace tarnvale::py {

namespace {

// "'<path>' is not a directory", quoting the str exactly as passed.
PyObject* raise_not_a_directory(PyObject* path) {
    PyErr_Format(PyExc_RuntimeError, "'%U' is not a directory", path);
    return nullptr;
}

PyObject* raw_reader_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 1> params{"path"};
        std::array<PyObject*, 1> bound{};
        if (!bind_arguments(args, kwds, "RawReader", params, bound)) return nullptr;
        PyRef path = PyRef::steal(to_path_str(bound[0], "RawReader", params[0]));
        if (!path) return nullptr;
        std::optional<std::filesystem::path> dir;
        if (!fs_path(path.get(), dir)) return nullptr;
        if (!dir || !names_directory(*dir)) return raise_not_a_directory(path.get());
        auto acquisition = Acquisition::open(*dir);
        if (!acquisition) return raise_runtime(acquisition.error());
        return box_alloc(type, RawReader{std::move(*acquisition), std::move(path)});
    });
}

PyObject* raw_reader_repr(PyObject* self) {
    const Acquisition& acquisition = acquisition_of(self);
    const std::size_t channels =
        acquisition.channel_table() ? acquisition.channel_table()->channels.size() : 0;
    return PyUnicode_FromFormat("RawReader('%U', %zu function(s), %zu channel(s))", path_of(self),
                                acquisition.function_table().functions.size(), channels);
}

PyObject* get_header(PyObject* self, void*) {
    return guarded([self] { return new_result(acquisition_of(self).reader().header); });
}

PyObject* get_polarity(PyObject* self, void*) {
    const std::optional<raw::Polarity>& polarity = acquisition_of(self).reader().extern_inf.polarity;
    if (!polarity) Py_RETURN_NONE;
    return PyUnicode_FromString(*polarity == raw::Polarity::Positive ? "positive" : "negative");
}

PyObject* get_functions(PyObject* self, void*) {
    return guarded([self] {
        const std::vector<raw::FunctionInfo>& functions = acquisition_of(self).function_table().functions;
        return new_result_list(std::span<const raw::FunctionInfo>(functions));
    });
}

PyObject* get_channels(PyObject* self, void*) {
    return guarded([self] {
        const std::optional<raw::ChromsInf>& chroms = acquisition_of(self).channel_table();
        if (!chroms) return PyList_New(0);
        return new_result_list(std::span<const raw::ChromChannel>(chroms->channels));
    });
}

PyGetSetDef raw_reader_getset[] = {
    read_only("header", get_header, "Acquisition metadata parsed from `_HEADER.TXT`."),
    read_only("polarity", get_polarity,
              "Electrospray polarity parsed from `_extern.inf`.\n"
              "\n"
              "Returns `\"positive\"`, `\"negative\"`, or `None` when the field is absent."),
    read_only("functions", get_functions, "List of all acquisition functions in this .raw file."),
    read_only("channels", get_channels,
              "List of instrument chromatographic channels from `_CHROMS.INF`.\n"
              "\n"
              "Empty list if the file is absent."),
    {},
};

// The first two lines are the text signature, exposed as __text_signature__.
constexpr const char* kClassDoc = "RawReader(path)\n"
                                  "--\n"
                                  "\n"
                                  "Open a Waters MassLynx `.raw` directory and read its contents.\n"
                                  "\n"
                                  "Example::\n"
                                  "\n"
                                  "    import tarnvale\n"
                                  "    r = tarnvale.RawReader(\"/data/sample.raw\")\n"
                                  "    print(r.functions)\n"
                                  "    spec = r.read_spectrum(1, 0)\n"
                                  "    print(spec.mz[:5], spec.intensity[:5])";

PyType_Slot raw_reader_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(raw_reader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<RawReader>)},
    {Py_tp_repr, reinterpret_cast<void*>(raw_reader_repr)},
    {Py_tp_getset, raw_reader_getset},
    {Py_tp_methods, raw_reader_methods},
    {0, nullptr},
};

} // namespace

// Not subclassable, no __dict__, no weak references.
PyType_Spec raw_reader_type_spec = {
    "builtins.RawReader", sizeof(Box<RawReader>), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    raw_reader_slots,
};

} // namespace tarnvale::py
