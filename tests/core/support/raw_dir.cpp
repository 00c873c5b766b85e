#include "support/raw_dir.hpp"

#include <format>
#include <stdexcept>

namespace tarnvale::testing {
namespace {

std::string padded_name(std::string_view prefix, std::uint32_t n, std::string_view suffix) {
    return std::format("{}{:03}{}", prefix, n, suffix);
}

template <class Record> std::vector<ScanSpec> scans_of(const std::vector<std::vector<Record>>& scans) {
    std::vector<ScanSpec> out;
    float rt = 0.0f;
    for (const auto& records : scans) {
        out.push_back({join(records), rt});
        rt += 0.5f;
    }
    return out;
}

std::vector<IndexARecord> derived_index_a(const FunctionSpec& spec) {
    if (spec.record_width == 0) throw std::invalid_argument("record width must not be zero");
    std::vector<IndexARecord> records;
    std::uint32_t offset = 0;
    for (const ScanSpec& scan : spec.scans) {
        records.push_back({.offset = offset,
                           .n_points = static_cast<std::uint32_t>(scan.data.size() / spec.record_width),
                           .rt_min = scan.rt_min});
        offset += static_cast<std::uint32_t>(scan.data.size());
    }
    return records;
}

std::vector<IndexBRecord> derived_index_b(const FunctionSpec& spec) {
    std::vector<IndexBRecord> records;
    std::uint32_t offset = 0;
    for (const ScanSpec& scan : spec.scans) {
        records.push_back({.offset = offset, .rt_min = scan.rt_min});
        offset += static_cast<std::uint32_t>(scan.data.size());
    }
    return records;
}

class DirWriter {
  public:
    DirWriter(const TempDir& temp, const RawDirSpec& spec) : temp_(temp), spec_(spec) {}

    void write(const std::string& standard_name, std::span<const std::uint8_t> bytes) const {
        if (spec_.omit.contains(standard_name)) return;
        auto renamed = spec_.on_disk_name.find(standard_name);
        const std::string& name = renamed == spec_.on_disk_name.end() ? standard_name : renamed->second;
        temp_.write(spec_.dir_name + "/" + name, bytes);
    }
    void write(const std::string& standard_name, std::string_view text) const {
        write(standard_name,
              std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }

  private:
    const TempDir& temp_;
    const RawDirSpec& spec_;
};

} // namespace

FunctionSpec function_a(const std::vector<std::vector<RecordA>>& scans) {
    FunctionSpec spec;
    spec.record_width = kRecordSizeA;
    spec.scans = scans_of(scans);
    return spec;
}

FunctionSpec function_d(const std::vector<std::vector<Record8>>& scans) {
    FunctionSpec spec;
    spec.record_width = kRecordSizeD;
    spec.scans = scans_of(scans);
    return spec;
}

FunctionSpec function_b_index(const std::vector<std::vector<Record8>>& scans) {
    FunctionSpec spec;
    spec.variant = IndexVariant::B;
    spec.record_width = kRecordSizeB;
    spec.scans = scans_of(scans);
    return spec;
}

std::string header_text(const HeaderSpec& spec) {
    std::string text = "$$ Version: 01.00\n$$ Acquired Name: sample\n";
    if (spec.instrument) text += std::format("$$ Instrument: {}\n", *spec.instrument);
    for (const auto& [number, value] : spec.cal)
        text += std::format("$$ Cal Function {}: {}\n", number, value);
    for (const std::string& line : spec.extra_lines) text += line + "\n";
    return text;
}

std::string extern_text(const ExternSpec& spec) {
    std::string text = "Instrument Parameters:\n";
    if (!spec.lteff.empty()) text += std::format("Lteff\t{}\n", spec.lteff);
    if (!spec.veff.empty()) text += std::format("Veff\t{}\n", spec.veff);
    if (spec.pusher_interval) text += std::format("PusherInterval (us)\t{}\n", *spec.pusher_interval);
    if (spec.polarity) text += std::format("Polarity\t{}\n", *spec.polarity);
    for (const auto& [number, title] : spec.function_titles) {
        text += std::format("Function Parameters - Function {} - {}\n", number, title);
    }
    for (const std::string& line : spec.extra_lines) text += line + "\n";
    return text;
}

std::vector<std::uint8_t> index_file(const FunctionSpec& spec) {
    if (spec.index_bytes) return *spec.index_bytes;
    if (spec.variant == IndexVariant::A) return index_a(spec.index_a.value_or(derived_index_a(spec)));
    return index_b(spec.index_b.value_or(derived_index_b(spec)));
}

std::vector<std::uint8_t> dat_file(const FunctionSpec& spec) {
    if (spec.dat_bytes) return *spec.dat_bytes;
    std::vector<std::uint8_t> out;
    for (const ScanSpec& scan : spec.scans) out.insert(out.end(), scan.data.begin(), scan.data.end());
    return out;
}

std::filesystem::path write_raw_dir(const TempDir& temp, const RawDirSpec& spec) {
    std::filesystem::create_directories(temp.path() / spec.dir_name);
    const DirWriter out(temp, spec);
    out.write("_HEADER.TXT", header_text(spec.header));
    out.write("_extern.inf", extern_text(spec.extern_inf));
    std::vector<FunctionRecordFields> table;
    table.reserve(spec.functions.size());
    for (const FunctionSpec& function : spec.functions) table.push_back(function.info);
    out.write("_FUNCTNS.INF", functions_inf(table));

    for (std::size_t k = 0; k < spec.functions.size(); ++k) {
        const FunctionSpec& function = spec.functions[k];
        const auto number = static_cast<std::uint32_t>(k + 1);
        out.write(padded_name("_FUNC", number, ".IDX"), index_file(function));
        out.write(padded_name("_FUNC", number, ".DAT"), dat_file(function));
        if (function.sts_bytes) {
            out.write(padded_name("_FUNC", number, ".STS"), *function.sts_bytes);
        } else if (function.sts) {
            out.write(padded_name("_FUNC", number, ".STS"), func_sts_file(*function.sts));
        }
    }

    if (spec.chroms) out.write("_CHROMS.INF", chroms_inf(*spec.chroms));
    for (const auto& [number, points] : spec.chro)
        out.write(padded_name("_CHRO", number, ".DAT"), chro_dat(points));
    for (const auto& [name, content] : spec.extra_files) temp.write(spec.dir_name + "/" + name, content);
    return temp.path() / spec.dir_name;
}

} // namespace tarnvale::testing
