#include "tools_ext/processing_arguments.hpp"

#include <format>
#include <string>

#include "common/arguments.hpp"
#include "common/convert.hpp"
#include "common/guard.hpp"
#include "common/py_ref.hpp"
#include "common/without_gil.hpp"
#include "numbers.hpp"
#include "processing/lock_mass_presets.hpp"
#include "tools_ext/tools_arguments.hpp"

namespace tarnvale::py::tools {

namespace {

enum Slot : std::size_t {
    kCentroid,
    kMinIntensity,
    kMinPoints,
    kLockMass,
    kTolerance,
    kFunction,
    kLockMinIntensity,
};

bool value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

bool given(PyObject* object) { return object != nullptr && object != Py_None; }

std::string preset_list() {
    std::string list;
    for (const processing::LockMassPreset& preset : processing::lock_mass_presets())
        list += std::format("{}{} ({}, {:.4f})", list.empty() ? "" : ", ", preset.name, preset.description,
                            processing::preset_mz(preset));
    return list;
}

// Keywords that only mean something beside another one.
bool refuse_alone(std::span<PyObject* const> slots, std::initializer_list<Slot> qualifiers,
                  const char* needs) {
    for (const Slot slot : qualifiers)
        if (slots[slot] != nullptr)
            return value_error(std::format("{} applies only with {}", kProcessingParams[slot], needs));
    return true;
}

bool to_picking(std::span<PyObject* const> slots, processing::ProcessingRequest& out) {
    bool centroid = false;
    if (!to_flag(slots[kCentroid], false, centroid)) return false;
    if (!centroid) return refuse_alone(slots, {kMinIntensity, kMinPoints}, "centroid=True");
    processing::PickingOptions options;
    if (slots[kMinIntensity] != nullptr &&
        !to_f64(slots[kMinIntensity], "min_intensity", options.min_intensity))
        return false;
    if (slots[kMinPoints] != nullptr && !to_u32(slots[kMinPoints], "min_points", options.min_points))
        return false;
    if (auto problem = processing::problem_with(options)) return value_error(*problem);
    out.centroid = options;
    return true;
}

bool to_lock_mass_options(std::span<PyObject* const> slots, columns::OnError on_error,
                          processing::ProcessingRequest& out) {
    if (!given(slots[kLockMass]))
        return refuse_alone(slots, {kTolerance, kFunction, kLockMinIntensity}, "lock_mass");
    processing::LockMassOptions options;
    if (!to_lock_mass(slots[kLockMass], "lock_mass", options.reference_mz)) return false;
    if (slots[kTolerance] != nullptr &&
        !to_f64(slots[kTolerance], "lock_mass_tolerance", options.tolerance_da))
        return false;
    if (slots[kLockMinIntensity] != nullptr &&
        !to_f64(slots[kLockMinIntensity], "lock_mass_min_intensity", options.min_intensity))
        return false;
    if (given(slots[kFunction])) {
        std::uint32_t function = 0;
        if (!to_u32(slots[kFunction], "lock_mass_function", function)) return false;
        options.function = function;
    }
    options.skip_unreadable = on_error == columns::OnError::Skip;
    if (auto problem = processing::problem_with(options)) return value_error(*problem);
    out.lock_mass = options;
    return true;
}

} // namespace

bool to_lock_mass(PyObject* object, const char* param, double& out) {
    if (PyUnicode_Check(object)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(object, &size);
        if (text == nullptr) return false;
        const processing::LockMassPreset* preset =
            processing::find_lock_mass_preset(std::string_view(text, static_cast<std::size_t>(size)));
        if (preset == nullptr)
            return value_error(std::format("{} must be an m/z or one of {}, not '{}'", param, preset_list(),
                                           std::string_view(text, static_cast<std::size_t>(size))));
        out = processing::preset_mz(*preset);
        return true;
    }
    return to_f64(object, param, out);
}

bool to_processing_request(std::span<PyObject* const> slots, columns::OnError on_error,
                           processing::ProcessingRequest& out) {
    out = {};
    return to_picking(slots, out) && to_lock_mass_options(slots, on_error, out);
}

bool ProcessingCache::prepare(const Reader& reader, const processing::ProcessingRequest& request,
                              std::shared_ptr<const processing::ScanProcessing>& out) {
    out.reset();
    if (request.empty()) return true;
    auto prepared =
        without_interpreter_lock([&]() -> Result<std::shared_ptr<const processing::ScanProcessing>> {
            const std::scoped_lock lock(mutex_);
            if (prepared_ && request_ == request) return prepared_;
            TV_ASSIGN_OR_RETURN(processing::ScanProcessing fresh, processing::prepare(reader, request));
            request_ = request;
            prepared_ = std::make_shared<const processing::ScanProcessing>(std::move(fresh));
            return prepared_;
        });
    if (!prepared) {
        raise_runtime(prepared.error());
        return false;
    }
    out = std::move(*prepared);
    return true;
}

PyObject* check_processing(PyObject*, PyObject* args, PyObject* kwds) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, kProcessingParams.size()> bound{};
        processing::ProcessingRequest request;
        if (!bind_arguments(args, kwds, "check_processing", kProcessingParams, bound, 0) ||
            !to_processing_request(bound, columns::OnError::Fail, request))
            return nullptr;
        Py_RETURN_NONE;
    });
}

const char check_processing_doc[] = "check_processing(*, " TV_PROCESSING_SIGNATURE ")\n--\n\n"
                                    "Raises what a reading method raises for these processing keywords.";

PyObject* lock_mass_presets(PyObject*, PyObject*) {
    return guarded([]() -> PyObject* {
        PyRef list = PyRef::steal(PyList_New(0));
        if (!list) return nullptr;
        for (const processing::LockMassPreset& preset : processing::lock_mass_presets()) {
            PyRef item = PyRef::steal(
                Py_BuildValue("(s#s#d)", preset.name.data(), static_cast<Py_ssize_t>(preset.name.size()),
                              preset.description.data(), static_cast<Py_ssize_t>(preset.description.size()),
                              processing::preset_mz(preset)));
            if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
        }
        return list.release();
    });
}

const char lock_mass_presets_doc[] =
    "lock_mass_presets()\n--\n\n"
    "The lock-mass calibrants known by name: [(name, description, m/z)], the m/z "
    "computed\nfrom the elemental formula with the proton's mass.";

} // namespace tarnvale::py::tools
