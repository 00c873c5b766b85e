// RawReader methods. Arguments are accepted positionally or by keyword and are
// all converted, in parameter order, before anything else happens.
#include <array>
#include <cctype>
#include <variant>

#include "arguments.hpp"
#include "convert.hpp"
#include "raw_reader_object.hpp"
#include "results.hpp"

namespace tarnvale::py {

namespace {

// `method` is "RawReader.<name>", so argument errors name the method.
bool parse_func_index(PyObject* args, PyObject* kwds, const char* method, std::uint32_t& func_index) {
    static const char* const params[] = {"func_index"};
    std::array<PyObject*, 1> bound{};
    return bind_arguments(args, kwds, method, params, bound) && to_u32(bound[0], params[0], func_index);
}

bool parse_scan_address(PyObject* args, PyObject* kwds, const char* method, std::uint32_t& func_index,
                        std::uint64_t& scan_index) {
    static const char* const params[] = {"func_index", "scan_index"};
    std::array<PyObject*, 2> bound{};
    return bind_arguments(args, kwds, method, params, bound) && to_u32(bound[0], params[0], func_index) &&
           to_u64(bound[1], params[1], scan_index);
}

bool parse_channel_index(PyObject* args, PyObject* kwds, std::uint64_t& channel_index) {
    static const char* const params[] = {"channel_index"};
    std::array<PyObject*, 1> bound{};
    return bind_arguments(args, kwds, "RawReader.read_chrom", params, bound) &&
           to_u64(bound[0], params[0], channel_index);
}

PyObject* ms_level(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        if (!parse_func_index(args, kwds, "RawReader.ms_level", func_index)) return nullptr;
        return PyLong_FromUnsignedLong(state_of(self).reader.extern_inf.ms_level(func_index));
    });
}

PyObject* n_scans(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        if (!parse_func_index(args, kwds, "RawReader.n_scans", func_index)) return nullptr;
        auto entry = state_of(self).function(func_index);
        if (!entry) return raise_runtime(entry.error());
        return PyLong_FromSize_t((*entry)->scans.size());
    });
}

PyObject* function_encoding(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        if (!parse_func_index(args, kwds, "RawReader.function_encoding", func_index)) return nullptr;
        auto entry = state_of(self).function(func_index);
        if (!entry) return raise_runtime(entry.error());
        char letter = static_cast<char>(std::tolower(encoding_letter((*entry)->encoding)));
        return PyUnicode_FromStringAndSize(&letter, 1);
    });
}

PyObject* retention_time(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        std::uint64_t scan_index = 0;
        if (!parse_scan_address(args, kwds, "RawReader.retention_time", func_index, scan_index))
            return nullptr;
        auto rt_min = state_of(self).retention_time(func_index, scan_index);
        if (!rt_min) return raise_runtime(rt_min.error());
        return PyFloat_FromDouble(static_cast<double>(*rt_min));
    });
}

// For IMS data the drift times are dropped: one element per ion, in decode order.
PyObject* spectrum_of(DecodedSpectrum decoded) {
    if (auto* ims = std::get_if<raw::ImsSpectrum>(&decoded))
        return new_spectrum(raw::Spectrum{std::move(ims->mz), std::move(ims->intensity)});
    return new_spectrum(std::get<raw::Spectrum>(std::move(decoded)));
}

PyObject* read_spectrum(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        std::uint64_t scan_index = 0;
        if (!parse_scan_address(args, kwds, "RawReader.read_spectrum", func_index, scan_index))
            return nullptr;
        auto decoded = state_of(self).reader.decode_scan(func_index, scan_index);
        if (!decoded) return to_py_err(decoded.error());
        return spectrum_of(std::move(decoded->spectrum));
    });
}

// Decoding comes first, so a decoding failure wins over the IMS check.
PyObject* read_ims_spectrum(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint32_t func_index = 0;
        std::uint64_t scan_index = 0;
        if (!parse_scan_address(args, kwds, "RawReader.read_ims_spectrum", func_index, scan_index))
            return nullptr;
        auto decoded = state_of(self).reader.decode_scan(func_index, scan_index);
        if (!decoded) return to_py_err(decoded.error());
        auto* ims = std::get_if<raw::ImsSpectrum>(&decoded->spectrum);
        if (ims == nullptr) return raise_runtime("function is not IMS; use read_spectrum instead");
        return new_ims_spectrum(std::move(*ims));
    });
}

PyObject* read_chrom(PyObject* self, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::uint64_t channel_index = 0;
        if (!parse_channel_index(args, kwds, channel_index)) return nullptr;
        auto points = state_of(self).read_chrom(channel_index);
        if (!points) return raise_runtime(points.error());
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(points->size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < points->size(); ++i) {
            PyObject* point = new_chrom_point((*points)[i]);
            if (point == nullptr) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), point);
        }
        return list.release();
    });
}

template <PyObject* (*Method)(PyObject*, PyObject*, PyObject*)> PyCFunction as_cfunction() {
    // The interpreter calls it with keywords because of METH_KEYWORDS.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Method));
}

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

} // namespace

PyMethodDef raw_reader_methods[] = {
    {"ms_level", as_cfunction<ms_level>(), kArgs,
     "ms_level($self, func_index)\n"
     "--\n"
     "\n"
     "MS level for a function (1-based `func_index`).\n"
     "\n"
     "Returns `1` for MS1 survey and reference functions, `2` for MSe/DDA/MS2\n"
     "functions. Falls back to `1` when the function is not described in\n"
     "`_extern.inf`."},
    {"n_scans", as_cfunction<n_scans>(), kArgs,
     "n_scans($self, func_index)\n"
     "--\n"
     "\n"
     "Number of scans in a function (1-based `func_index`)."},
    {"function_encoding", as_cfunction<function_encoding>(), kArgs,
     "function_encoding($self, func_index)\n"
     "--\n"
     "\n"
     "Encoding variant for a function (1-based `func_index`).\n"
     "\n"
     "Returns `\"a\"`, `\"c\"` or `\"d\"` for one-dimensional spectra, `\"b\"` for IMS."},
    {"retention_time", as_cfunction<retention_time>(), kArgs,
     "retention_time($self, func_index, scan_index)\n"
     "--\n"
     "\n"
     "Retention time (minutes) for a scan.\n"
     "\n"
     "`func_index` is 1-based; `scan_index` is 0-based."},
    {"read_spectrum", as_cfunction<read_spectrum>(), kArgs,
     "read_spectrum($self, func_index, scan_index)\n"
     "--\n"
     "\n"
     "Decode a 1-D mass spectrum.\n"
     "\n"
     "Uses Encoding A for older Q-TOF functions and Encoding C for G2/G2-Si.\n"
     "For IMS data, this collapses the drift dimension; use `read_ims_spectrum`\n"
     "to obtain the full 2-D data.\n"
     "\n"
     "`func_index` is 1-based; `scan_index` is 0-based."},
    {"read_ims_spectrum", as_cfunction<read_ims_spectrum>(), kArgs,
     "read_ims_spectrum($self, func_index, scan_index)\n"
     "--\n"
     "\n"
     "Decode a full IMS spectrum (m/z, drift time, intensity) for SYNAPT data.\n"
     "\n"
     "Only valid for Encoding B functions. Returns a `RuntimeError` for\n"
     "one-dimensional functions.\n"
     "\n"
     "`func_index` is 1-based; `scan_index` is 0-based."},
    {"read_chrom", as_cfunction<read_chrom>(), kArgs,
     "read_chrom($self, channel_index)\n"
     "--\n"
     "\n"
     "Read a chromatographic channel as a list of `ChromPoint` values.\n"
     "\n"
     "`channel_index` is 0-based (matches `ChromChannel.index`)."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace tarnvale::py
