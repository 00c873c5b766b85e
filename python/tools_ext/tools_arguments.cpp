#include "tools_ext/tools_arguments.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "export/selection.hpp"

#include "common/arguments.hpp"
#include "common/py_ref.hpp"

namespace tarnvale::py::tools {

namespace {

// The target look-up numbers targets in 32 bits, with room to spare.
constexpr Py_ssize_t kMaxTargets = Py_ssize_t{1} << 24;

// The values of a number or a sequence of numbers; a single number is repeated `count` times.
bool to_values(PyObject* object, const char* param, std::size_t count, std::vector<double>& out) {
    out.clear();
    if (PyFloat_Check(object) || PyLong_Check(object) || PyUnicode_Check(object) ||
        !PySequence_Check(object)) {
        double value = 0;
        if (!to_f64(object, param, value)) return false;
        out.assign(count, value);
        return true;
    }
    PyRef items = PyRef::steal(PySequence_Fast(object, "must be a number or a sequence of numbers"));
    if (!items) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
    if (static_cast<std::size_t>(size) != count) {
        PyErr_Format(PyExc_ValueError, "%s holds %zd values for %zu targets", param, size, count);
        return false;
    }
    out.reserve(count);
    for (Py_ssize_t i = 0; i < size; ++i) {
        double value = 0;
        if (!to_f64(PySequence_Fast_GET_ITEM(items.get(), i), param, value)) return false;
        out.push_back(value);
    }
    return true;
}

bool all_finite(const std::vector<double>& values, const char* param, bool non_negative) {
    for (double value : values) {
        if (!std::isfinite(value) || (non_negative && value < 0)) {
            PyErr_Format(PyExc_ValueError, "%s must be finite%s, not %R", param,
                         non_negative ? " and >= 0" : "", PyRef::steal(PyFloat_FromDouble(value)).get());
            return false;
        }
    }
    return true;
}

} // namespace

bool to_options(PyObject* threads, PyObject* on_error, columns::Options& out) {
    out = {};
    if (threads != nullptr) {
        if (!to_u32(threads, "threads", out.threads)) return false;
        if (out.threads == 0) {
            PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
            return false;
        }
    }
    return to_on_error(on_error, out.on_error);
}

bool to_on_error(PyObject* on_error, columns::OnError& out) {
    out = columns::OnError::Fail;
    if (on_error == nullptr) return true;
    if (!PyUnicode_Check(on_error)) {
        PyErr_Format(PyExc_TypeError, "on_error must be 'fail' or 'skip', not %.200s",
                     Py_TYPE(on_error)->tp_name);
        return false;
    }
    if (PyUnicode_EqualToUTF8(on_error, "skip")) {
        out = columns::OnError::Skip;
    } else if (!PyUnicode_EqualToUTF8(on_error, "fail")) {
        PyErr_Format(PyExc_ValueError, "on_error must be 'fail' or 'skip', not %R", on_error);
        return false;
    }
    return true;
}

namespace {

bool given(PyObject* object) { return object != nullptr && object != Py_None; }

bool to_function_numbers(PyObject* object, std::vector<std::uint32_t>& out) {
    PyRef items = PyRef::steal(PySequence_Fast(object, "functions must be an iterable of function numbers"));
    if (!items) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < size; ++i) {
        std::uint32_t number = 0;
        if (!to_u32(PySequence_Fast_GET_ITEM(items.get(), i), "functions", number)) return false;
        out.push_back(number);
    }
    std::ranges::sort(out);
    out.erase(std::ranges::unique(out).begin(), out.end());
    return true;
}

bool to_interval(PyObject* object, const char* param, exporter::Interval& out) {
    if (!given(object)) return true;
    PyRef items = PyRef::steal(PySequence_Fast(object, "must be a (min, max) pair"));
    if (!items || PySequence_Fast_GET_SIZE(items.get()) != 2) {
        PyErr_Format(PyExc_TypeError, "%s must be a (min, max) pair, either end None", param);
        return false;
    }
    std::optional<double>* ends[] = {&out.low, &out.high};
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject* end = PySequence_Fast_GET_ITEM(items.get(), i);
        if (end == Py_None) continue;
        double value = 0;
        if (!to_f64(end, param, value)) return false;
        *ends[i] = value;
    }
    return true;
}

} // namespace

bool to_selection(PyObject* functions, PyObject* ms_level, PyObject* rt, PyObject* mz,
                  exporter::Selection& out) {
    out = {};
    if (given(functions) && !to_function_numbers(functions, out.functions)) return false;
    if (given(ms_level)) {
        std::uint32_t level = 0;
        if (!to_u32(ms_level, "ms_level", level)) return false;
        out.ms_level = level;
    }
    if (!to_interval(rt, "rt", out.rt_min) || !to_interval(mz, "mz", out.mz)) return false;
    if (auto checked = exporter::check_selection(out); !checked) {
        const std::string message = checked.error().to_string();
        // The sentence without the "parse error: " of every core Error.
        constexpr std::string_view prefix = "parse error: ";
        const std::string_view text = std::string_view(message).starts_with(prefix)
                                          ? std::string_view(message).substr(prefix.size())
                                          : message;
        PyErr_SetString(PyExc_ValueError, std::string(text).c_str());
        return false;
    }
    return true;
}

bool to_targets(PyObject* targets, PyObject* ppm, PyObject* da, const char* function,
                std::vector<columns::XicTarget>& out) {
    out.clear();
    if (targets == nullptr || targets == Py_None) return true;
    const bool has_ppm = ppm != nullptr && ppm != Py_None;
    const bool has_da = da != nullptr && da != Py_None;
    if (has_ppm == has_da) {
        PyErr_Format(PyExc_TypeError, "%s() takes the width of the targets as either ppm= or da=", function);
        return false;
    }
    std::vector<double> mz;
    PyRef items = PyRef::steal(PySequence_Fast(targets, "targets must be a sequence of m/z values"));
    if (!items) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
    if (size > kMaxTargets) {
        PyErr_Format(PyExc_ValueError, "at most %zd targets at a time, not %zd", kMaxTargets, size);
        return false;
    }
    mz.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        double value = 0;
        if (!to_f64(PySequence_Fast_GET_ITEM(items.get(), i), "targets", value)) return false;
        mz.push_back(value);
    }
    std::vector<double> widths;
    const char* param = has_ppm ? "ppm" : "da";
    if (!all_finite(mz, "targets", false) || !to_values(has_ppm ? ppm : da, param, mz.size(), widths) ||
        !all_finite(widths, param, true))
        return false;
    out.reserve(mz.size());
    for (std::size_t i = 0; i < mz.size(); ++i)
        out.push_back({mz[i], has_ppm ? mz[i] * widths[i] * 1e-6 : widths[i]});
    return true;
}

bool to_flag(PyObject* object, bool fallback, bool& out) {
    if (object == nullptr) {
        out = fallback;
        return true;
    }
    const int truth = PyObject_IsTrue(object);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
}

} // namespace tarnvale::py::tools
