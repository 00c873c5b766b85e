// The keywords of peak picking and lock-mass correction, which every callable that
// reads scans takes with the same names and meanings:
//   centroid=False, min_intensity=0, min_points=1      pick the peaks of profile functions
//   lock_mass=None (an m/z or a preset name), lock_mass_tolerance=0.25 (Da),
//   lock_mass_function=None, lock_mass_min_intensity=0  correct every function's m/z
// A value that cannot be used raises ValueError (TypeError for a wrong type); a
// keyword that only qualifies another (min_intensity without centroid) is refused
// rather than ignored.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>

#include "columns/options.hpp"
#include "processing/scan_processing.hpp"
#include "reader/reader.hpp"

namespace tarnvale::py::tools {

// The keywords as a docstring's signature shows them.
#define TV_PROCESSING_SIGNATURE                                                                              \
    "centroid=False, min_intensity=0.0, min_points=1, lock_mass=None, lock_mass_tolerance=0.25, "            \
    "lock_mass_function=None, lock_mass_min_intensity=0.0"

inline constexpr std::array<const char*, 7> kProcessingParams{
    "centroid",           "min_intensity",          "min_points", "lock_mass", "lock_mass_tolerance",
    "lock_mass_function", "lock_mass_min_intensity"};

// A callable's own parameters followed by the processing keywords.
template <std::size_t N>
constexpr std::array<const char*, N + kProcessingParams.size()>
with_processing(std::array<const char*, N> own) {
    std::array<const char*, N + kProcessingParams.size()> all{};
    for (std::size_t i = 0; i < N; ++i) all[i] = own[i];
    for (std::size_t i = 0; i < kProcessingParams.size(); ++i) all[N + i] = kProcessingParams[i];
    return all;
}

// The request from the slots of kProcessingParams (null where not given); a lock scan
// that cannot be decoded is left out with OnError::Skip. False with an exception set.
bool to_processing_request(std::span<PyObject* const> slots, columns::OnError on_error,
                           processing::ProcessingRequest& out);

// A lock-mass reference: a number, or the name of a preset (ValueError naming the
// presets when it is none of them).
bool to_lock_mass(PyObject* object, const char* param, double& out);

// A run's last preparation, kept for the next call that asks the same: reading a
// function scan by scan with a lock-mass correction then reads the lock scans once.
class ProcessingCache {
  public:
    // The preparation of `request` on `reader` (null for an empty request), made
    // without the interpreter lock. False with RuntimeError set when the run cannot
    // be corrected.
    bool prepare(const Reader& reader, const processing::ProcessingRequest& request,
                 std::shared_ptr<const processing::ScanProcessing>& out);

  private:
    std::mutex mutex_;
    processing::ProcessingRequest request_;
    std::shared_ptr<const processing::ScanProcessing> prepared_;
};

// check_processing(**keywords) -> None, a module function: ValueError (TypeError)
// as a reading method would raise it for the same keywords, before any run is read.
PyObject* check_processing(PyObject* module, PyObject* args, PyObject* kwds);
extern const char check_processing_doc[];

// lock_mass_presets() -> [(name, description, m/z)], a module function.
PyObject* lock_mass_presets(PyObject* module, PyObject* unused);
extern const char lock_mass_presets_doc[];

} // namespace tarnvale::py::tools
