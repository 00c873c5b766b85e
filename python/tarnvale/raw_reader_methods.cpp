// RawReader methods. Arguments are accepted positionally or by keyword and are
// all converted, in parameter order, before anything else happens; argument
// errors name the method as "RawReader.<name>".
#include <cctype>
#include <string>
#include <variant>

#include "common/arguments.hpp"
#include "tarnvale/raw_reader.hpp"
#include "tarnvale/results.hpp"

namespace tarnvale::py {

namespace {

constexpr Param<std::uint32_t> kFuncIndex{"func_index"};
constexpr Param<std::uint64_t> kScanIndex{"scan_index"};
constexpr Param<std::uint64_t> kChannelIndex{"channel_index"};

PyObject* ms_level(PyObject* self, PyObject* args, PyObject* kwds) {
    auto level = [self](std::uint32_t func_index) {
        return acquisition_of(self).reader().extern_inf.ms_level(func_index);
    };
    return call_with_arguments(args, kwds, "RawReader.ms_level", level, kFuncIndex);
}

PyObject* n_scans(PyObject* self, PyObject* args, PyObject* kwds) {
    auto count = [self](std::uint32_t func_index) {
        return acquisition_of(self).function(func_index).transform([](const FunctionEntry* entry) {
            return entry->scans.size();
        });
    };
    return call_with_arguments(args, kwds, "RawReader.n_scans", count, kFuncIndex);
}

PyObject* function_encoding(PyObject* self, PyObject* args, PyObject* kwds) {
    auto letter = [self](std::uint32_t func_index) {
        return acquisition_of(self).function(func_index).transform([](const FunctionEntry* entry) {
            return std::string(1, static_cast<char>(std::tolower(encoding_letter(entry->encoding))));
        });
    };
    return call_with_arguments(args, kwds, "RawReader.function_encoding", letter, kFuncIndex);
}

PyObject* retention_time(PyObject* self, PyObject* args, PyObject* kwds) {
    auto rt_min = [self](std::uint32_t func_index, std::uint64_t scan_index) {
        return acquisition_of(self).retention_time(func_index, scan_index);
    };
    return call_with_arguments(args, kwds, "RawReader.retention_time", rt_min, kFuncIndex, kScanIndex);
}

// For IMS data the drift times are dropped: one element per ion, in decode order.
PyObject* spectrum_of(DecodedScan decoded) {
    if (auto* ims = std::get_if<raw::ImsSpectrum>(&decoded.spectrum))
        return new_result(raw::Spectrum{std::move(ims->mz), std::move(ims->intensity)});
    return new_result(std::get<raw::Spectrum>(std::move(decoded.spectrum)));
}

PyObject* read_spectrum(PyObject* self, PyObject* args, PyObject* kwds) {
    auto read = [self](std::uint32_t func_index, std::uint64_t scan_index) {
        return acquisition_of(self).decode_scan(func_index, scan_index).transform(spectrum_of);
    };
    return call_with_arguments(args, kwds, "RawReader.read_spectrum", read, kFuncIndex, kScanIndex);
}

// Decoding comes first, so a decoding failure wins over the IMS check.
PyObject* read_ims_spectrum(PyObject* self, PyObject* args, PyObject* kwds) {
    auto read = [self](std::uint32_t func_index, std::uint64_t scan_index) -> PyObject* {
        auto decoded = acquisition_of(self).decode_scan(func_index, scan_index);
        if (!decoded) return raise_runtime(decoded.error());
        auto* ims = std::get_if<raw::ImsSpectrum>(&decoded->spectrum);
        if (ims == nullptr) return raise_runtime("function is not IMS; use read_spectrum instead");
        return new_result(std::move(*ims));
    };
    return call_with_arguments(args, kwds, "RawReader.read_ims_spectrum", read, kFuncIndex, kScanIndex);
}

PyObject* read_chrom(PyObject* self, PyObject* args, PyObject* kwds) {
    auto read = [self](std::uint64_t channel_index) {
        return acquisition_of(self)
            .read_chrom(channel_index)
            .transform([](const std::vector<raw::ChromPoint>& points) {
                return new_result_list(std::span<const raw::ChromPoint>(points));
            });
    };
    return call_with_arguments(args, kwds, "RawReader.read_chrom", read, kChannelIndex);
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
