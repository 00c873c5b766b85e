#include "export/function_plan.hpp"

#include <algorithm>
#include <format>
#include <string>

#include "numbers.hpp"
#include "reader/locate.hpp"

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

// Whether the options keep a function of the run's table, readable or not.
bool selected(const raw::FunctionInfo& info, const raw::ExternInf& extern_inf,
              const ConversionOptions& options) {
    const Selection& selection = options.selection;
    if (options.skip_lock_mass && info.is_lock_mass()) return false;
    if (!selection.functions.empty() && !std::ranges::contains(selection.functions, info.index)) return false;
    return !selection.ms_level || extern_inf.ms_level(info.index) == *selection.ms_level;
}

Result<void> check_numbers(const raw::FunctionTable& table, const Selection& selection) {
    std::vector<std::uint32_t> numbers;
    numbers.reserve(table.functions.size());
    for (const raw::FunctionInfo& info : table.functions) numbers.push_back(info.index);
    for (const std::uint32_t function : selection.functions)
        if (!std::ranges::contains(numbers, function))
            return parse_error(std::format("function {} selected, but the run's function table holds {}",
                                           function, numbers.empty() ? "none" : format_list(numbers)));
    return {};
}

} // namespace

Result<std::vector<FunctionPlan>> plan_functions(const Acquisition& acquisition,
                                                 const ConversionOptions& options) {
    TV_RETURN_IF_ERROR(check_numbers(acquisition.function_table(), options.selection));
    const Reader& reader = acquisition.reader();
    std::vector<FunctionPlan> plans;
    for (const FunctionEntry& entry : reader.functions) {
        if (!selected(entry.info, reader.extern_inf, options)) continue;
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

std::vector<LeftOutItem> unreadable_functions(const Acquisition& acquisition,
                                              const ConversionOptions& options) {
    const Reader& reader = acquisition.reader();
    std::vector<LeftOutItem> left_out;
    for (const raw::FunctionInfo& info : acquisition.function_table().functions) {
        if (reader.function(info.index) != nullptr || !selected(info, reader.extern_inf, options)) continue;
        std::vector<std::string> missing;
        for (const char* extension : {".IDX", ".DAT"}) {
            const std::string name = numbered_name("_FUNC", info.index, extension);
            auto found = acquisition.find_side_file(name);
            if (!found || !*found) missing.push_back(name);
        }
        std::string reason = missing.empty() ? "its files could not be opened" : missing.front();
        if (missing.size() == 2) reason += " and " + missing.back();
        if (!missing.empty()) reason += " not found";
        left_out.push_back({info.index, std::move(reason)});
    }
    return left_out;
}

} // namespace tarnvale::exporter
