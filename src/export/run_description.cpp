#include "export/run_description.hpp"

#include <filesystem>

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

mzml::FileContent content_of(std::span<const FunctionPlan> plans) {
    mzml::FileContent content;
    for (const FunctionPlan& plan : plans) {
        if (plan.entry->scans.size() == 0) continue;
        (plan.ms_level == 1 ? content.ms1 : content.msn) = true;
        content.ion_mobility = content.ion_mobility || plan.ion_mobility;
    }
    return content;
}

} // namespace

Result<mzml::RunDescription> describe_run(const Acquisition& acquisition,
                                          std::span<const FunctionPlan> plans) {
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
    run.content = content_of(plans);
    run.software_version = TARNVALE_VERSION;
    return run;
}

} // namespace tarnvale::exporter
