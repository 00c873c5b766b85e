#include "export/function_plan.hpp"

namespace tarnvale::exporter {

mzml::Representation representation_of(Encoding encoding, bool picked) {
    return encoding == Encoding::B && !picked ? mzml::Representation::Profile
                                              : mzml::Representation::Centroid;
}

namespace {

std::optional<mzml::Polarity> polarity_of(const raw::ExternInf& extern_inf) {
    if (!extern_inf.polarity) return std::nullopt;
    return *extern_inf.polarity == raw::Polarity::Positive ? mzml::Polarity::Positive
                                                           : mzml::Polarity::Negative;
}

} // namespace

std::vector<FunctionPlan> plan_functions(const Reader& reader, const ConversionOptions& options) {
    std::vector<FunctionPlan> plans;
    for (const FunctionEntry& entry : reader.functions) {
        if (options.skip_lock_mass && entry.info.is_lock_mass()) continue;
        FunctionPlan plan;
        plan.entry = &entry;
        plan.ms_level = reader.extern_inf.ms_level(entry.number);
        plan.polarity = polarity_of(reader.extern_inf);
        plan.representation = representation_of(entry.encoding, options.processing.centroid.has_value());
        plan.lock_mass = entry.info.is_lock_mass();
        // The mass range the function was acquired over, as its scans are decoded.
        plan.window_low = static_cast<double>(entry.info.mz_low);
        plan.window_high = static_cast<double>(entry.info.mz_high);
        plan.ion_mobility = entry.encoding == Encoding::B;
        plans.push_back(plan);
    }
    return plans;
}

} // namespace tarnvale::exporter
