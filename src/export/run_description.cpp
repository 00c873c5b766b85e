#include "export/run_description.hpp"

#include <filesystem>
#include <format>

#include "display.hpp"
#include "export/selection.hpp"
#include "export/start_time.hpp"
#include "log.hpp"
#include "mzml/file_uri.hpp"
#include "mzml/sha1.hpp"
#include "text.hpp"

#ifndef TARNVALE_VERSION
#error "TARNVALE_VERSION must name the project's version"
#endif

namespace tarnvale::exporter {

std::string run_id_of(std::string_view directory_name) {
    constexpr std::string_view extension = ".raw";
    if (directory_name.size() > extension.size() &&
        ascii_upper(directory_name.substr(directory_name.size() - extension.size())) == ".RAW")
        directory_name.remove_suffix(extension.size());
    return std::string(directory_name);
}

namespace {

// The directory holding the run, absolute: "run.raw/" names the same directory as "run.raw".
std::filesystem::path parent_directory(const std::filesystem::path& dir) {
    std::filesystem::path path = std::filesystem::absolute(dir).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    return path.parent_path();
}

std::optional<std::string> start_of(const raw::Header& header) {
    std::optional<std::string> stamp = start_time_stamp(header.acquired_date, header.acquired_time);
    if (!stamp)
        TV_LOG(log::Level::Debug, "tarnvale::export",
               std::format("no start time stamp: the run header's date {} and time {} do not make one",
                           debug_quote(header.acquired_date.value_or("")),
                           debug_quote(header.acquired_time.value_or(""))));
    return stamp;
}

} // namespace

Result<mzml::RunDescription> describe_run(const Acquisition& acquisition) {
    const Reader& reader = acquisition.reader();
    TV_ASSIGN_OR_RETURN(const std::optional<std::filesystem::path> function_table,
                        acquisition.find_side_file("_FUNCTNS.INF"));
    if (!function_table) return parse_error("no _FUNCTNS.INF in the directory");
    mzml::RunDescription run;
    TV_ASSIGN_OR_RETURN(run.function_table_sha1, mzml::sha1_file_hex(*function_table));
    run.run_id = run_id_of(reader.name);
    run.source_name = reader.name;
    run.source_location = mzml::file_uri(parent_directory(acquisition.dir()));
    run.instrument = reader.header.instrument;
    run.start_time_stamp = start_of(reader.header);
    run.sample_name = reader.header.acquired_name;
    run.sample_description = reader.header.sample_description;
    run.operator_name = reader.header.operator_;
    run.software_version = TARNVALE_VERSION;
    return run;
}

std::string compact_ranges(std::span<const std::uint64_t> ascending) {
    std::string text;
    for (std::size_t i = 0; i < ascending.size();) {
        std::size_t end = i + 1;
        while (end < ascending.size() && ascending[end] == ascending[end - 1] + 1) ++end;
        if (!text.empty()) text += ',';
        text += std::to_string(ascending[i]);
        if (end - i > 1) text += std::format("-{}", ascending[end - 1]);
        i = end;
    }
    return text;
}

std::vector<mzml::UserParam> processing_notes(const Selection& selection, const LeftOut& left_out) {
    std::vector<mzml::UserParam> notes;
    if (!selection.functions.empty()) {
        std::string functions;
        for (const std::uint32_t function : selection.functions)
            functions += (functions.empty() ? "" : ",") + std::to_string(function);
        notes.push_back({"selected functions", functions});
    }
    if (selection.ms_level) notes.push_back({"selected MS level", std::to_string(*selection.ms_level)});
    if (!selection.rt_min.is_everything())
        notes.push_back({"selected retention times (min)", interval_text(selection.rt_min)});
    if (!selection.mz.is_everything()) notes.push_back({"selected m/z range", interval_text(selection.mz)});
    for (const LeftOutItem& function : left_out.functions)
        notes.push_back({std::format("skipped function {}", function.number), function.reason});
    for (const LeftOutScans& scans : left_out.scans)
        notes.push_back(
            {std::format("skipped scans of function {}", scans.function), compact_ranges(scans.scans)});
    for (const LeftOutItem& channel : left_out.channels)
        notes.push_back({std::format("skipped chromatogram channel {}", channel.number), channel.reason});
    return notes;
}

} // namespace tarnvale::exporter
