#include "processing/lock_mass.hpp"

#include <cmath>
#include <format>
#include <limits>
#include <variant>

#include "display.hpp"
#include "log.hpp"
#include "numbers.hpp"
#include "processing/scan_picker.hpp"

namespace tarnvale::processing {

namespace {

constexpr std::string_view kTarget = "tarnvale::processing";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Error run_error(const Reader& reader, std::string message) {
    return Error::context(display_path(reader.dir), Error::parse(std::move(message)));
}

std::optional<std::string> finite_at_least(const char* what, double value, double low, bool inclusive) {
    if (std::isfinite(value) && (inclusive ? value >= low : value > low)) return std::nullopt;
    return std::format("the {} must be a finite number {} {}, not {}", what, inclusive ? ">=" : ">",
                       format_f64(low), format_f64(value));
}

// The points of a decoded spectrum, whichever kind it is.
struct Points {
    std::vector<double>* mz;
    std::vector<float>* intensity;
    std::vector<double>* drift_time_ms;
};

Points points_of(DecodedSpectrum& spectrum) {
    if (auto* ims = std::get_if<raw::ImsSpectrum>(&spectrum))
        return {&ims->mz, &ims->intensity, &ims->drift_time_ms};
    auto& plain = std::get<raw::Spectrum>(spectrum);
    return {&plain.mz, &plain.intensity, nullptr};
}

struct Found {
    double mz = kNaN;
    double intensity = kNaN;
};

Found nearest_peak(const Points& points, double reference, double tolerance) {
    Found found;
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < points.mz->size(); ++i) {
        const double distance = std::fabs((*points.mz)[i] - reference);
        if (distance <= tolerance && distance < best) {
            best = distance;
            found = {(*points.mz)[i], static_cast<double>((*points.intensity)[i])};
        }
    }
    return found;
}

// One lock scan read, decoded and (profile) picked; what it holds near the reference.
Result<Found> find_in_scan(const FunctionEntry& entry, const raw::DecodeContext& context, ScanPicker* picker,
                           std::uint64_t scan, const LockMassOptions& options) {
    TV_ASSIGN_OR_RETURN(const ByteBuffer bytes, read_scan_bytes(entry, scan));
    TV_ASSIGN_OR_RETURN(DecodedSpectrum spectrum, decode_bytes(entry.encoding, bytes.span(), context));
    const Points points = points_of(spectrum);
    if (picker != nullptr) {
        const std::size_t kept =
            picker->pick(bytes.span(),
                         {points.mz->data(), points.intensity->data(),
                          points.drift_time_ms != nullptr ? points.drift_time_ms->data() : nullptr},
                         points.mz->size());
        points.mz->resize(kept);
        points.intensity->resize(kept);
    }
    return nearest_peak(points, options.reference_mz, options.tolerance_da);
}

} // namespace

std::optional<std::string> problem_with(const LockMassOptions& options) {
    if (auto problem = finite_at_least("lock-mass m/z", options.reference_mz, 0, false)) return problem;
    if (auto problem = finite_at_least("lock-mass tolerance", options.tolerance_da, 0, true)) return problem;
    return finite_at_least("lock-mass minimum intensity", options.min_intensity, 0, true);
}

Result<const FunctionEntry*> lock_mass_function(const Reader& reader, std::optional<std::uint32_t> chosen) {
    if (chosen) {
        if (const FunctionEntry* entry = reader.function(*chosen)) return entry;
        return fail(run_error(
            reader, std::format("lock-mass function {} is not a readable function of the run", *chosen)));
    }
    std::vector<std::uint32_t> flagged;
    const FunctionEntry* found = nullptr;
    for (const FunctionEntry& entry : reader.functions) {
        if (!entry.info.is_lock_mass()) continue;
        flagged.push_back(entry.number);
        found = &entry;
    }
    if (flagged.empty())
        return fail(
            run_error(reader, "the run has no lock-mass function (none has bit 7 of its scan subtype set)"));
    if (flagged.size() > 1) {
        std::string numbers;
        for (const std::uint32_t number : flagged)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(number);
        return fail(
            run_error(reader, std::format("the run has several lock-mass functions ({}): name the one "
                                          "to use",
                                          numbers)));
    }
    return found;
}

Result<LockMassTrace> read_lock_mass_trace(const Reader& reader, const LockMassOptions& options) {
    if (auto problem = problem_with(options)) return fail(Error::parse(*problem));
    TV_ASSIGN_OR_RETURN(const FunctionEntry* entry, lock_mass_function(reader, options.function));
    const raw::DecodeContext context = decode_context(*entry, reader.extern_inf);
    const char encoding = encoding_letter(entry->encoding);
    std::optional<ScanPicker> picker;
    if (picks_encoding(encoding)) picker.emplace(encoding, context, PickingOptions{});

    LockMassTrace trace;
    trace.function = entry->number;
    trace.reference_mz = options.reference_mz;
    trace.tolerance_da = options.tolerance_da;
    const std::uint64_t n = entry->scans.size();
    for (std::uint64_t scan = 0; scan < n; ++scan) {
        Result<Found> found = find_in_scan(*entry, context, picker ? &*picker : nullptr, scan, options);
        if (!found) {
            Error error = scan_error(reader.dir, entry->number, scan, std::move(found).error());
            if (!options.skip_unreadable) return fail(std::move(error));
            TV_LOG(log::Level::Warn, kTarget, std::format("lock scan left out: {}", error.to_string()));
            found = Found{};
        }
        trace.scan.push_back(scan);
        trace.rt_min.push_back(static_cast<double>(entry->scans.rt_min(scan)));
        trace.observed_mz.push_back(found->mz);
        trace.intensity.push_back(found->intensity);
    }
    return trace;
}

std::vector<std::size_t> usable_lock_scans(const LockMassTrace& trace, double min_intensity) {
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < trace.scan.size(); ++i) {
        if (std::isfinite(trace.observed_mz[i]) && trace.observed_mz[i] > 0 &&
            trace.intensity[i] >= min_intensity && std::isfinite(trace.rt_min[i]))
            usable.push_back(i);
    }
    return usable;
}

Result<GainCurve> gain_curve(const Reader& reader, const LockMassTrace& trace, double min_intensity) {
    const std::vector<std::size_t> usable = usable_lock_scans(trace, min_intensity);
    const std::string what =
        std::format("lock mass {} (function {}, within {} Da{})", format_f64(trace.reference_mz),
                    trace.function, format_f64(trace.tolerance_da),
                    min_intensity > 0 ? ", intensity >= " + format_f64(min_intensity) : "");
    if (usable.empty())
        return fail(run_error(
            reader, std::format("{}: none of the {} lock scans has the peak", what, trace.scan.size())));
    if (usable.size() < trace.scan.size()) {
        std::size_t first_left_out = 0;
        while (first_left_out < usable.size() && usable[first_left_out] == first_left_out) ++first_left_out;
        TV_LOG(log::Level::Warn, kTarget,
               std::format(
                   "{}: {} of {} lock scans have no such peak and are left out; the first: scan {} at "
                   "{} min",
                   what, trace.scan.size() - usable.size(), trace.scan.size(), trace.scan[first_left_out],
                   format_f32(static_cast<float>(trace.rt_min[first_left_out]))));
    }
    std::vector<double> rt;
    std::vector<double> gain;
    for (const std::size_t i : usable) {
        rt.push_back(trace.rt_min[i]);
        gain.push_back(trace.reference_mz / trace.observed_mz[i]);
    }
    TV_LOG(log::Level::Debug, kTarget, std::format("{}: gains from {} lock scans", what, usable.size()));
    return GainCurve(rt, gain);
}

} // namespace tarnvale::processing
