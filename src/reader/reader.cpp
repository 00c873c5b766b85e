#include "reader/reader.hpp"

#include <algorithm>
#include <cmath>
#include <format>
#include <string>
#include <utility>
#include <vector>

#include "display.hpp"
#include "io.hpp"
#include "log.hpp"
#include "numbers.hpp"
#include "reader/locate.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale {
namespace {

constexpr std::string_view kTarget = "tarnvale::reader";

bool log_enabled(log::Level level) { return log::enabled(level, kTarget); }

// Parses a located metadata file; any failure is wrapped as "reading <path>".
template <class Parse>
auto read_located(const std::filesystem::path& path, Parse parse) -> decltype(parse(path)) {
    auto parsed = parse(path);
    if (!parsed)
        return fail(Error::context(std::format("reading {}", display_path(path)), std::move(parsed).error()));
    return parsed;
}

// Why an encoding was chosen; only ever turned into text for the debug line.
enum class EncodingReason { SynaptB, NotSynaptB, EightByteA, SixByteA, UnknownWidthA };

struct EncodingChoice {
    Encoding encoding;
    EncodingReason reason;
};

bool is_synapt(const raw::Header& header) {
    const std::string upper = ascii_upper(header.instrument.value_or(""));
    return upper.starts_with("SYNAPT");
}

EncodingChoice choose_encoding(const raw::ScanIndex& scans, bool synapt) {
    if (!scans.is_variant_a()) {
        return synapt ? EncodingChoice{Encoding::B, EncodingReason::SynaptB}
                      : EncodingChoice{Encoding::C, EncodingReason::NotSynaptB};
    }
    switch (variant_a_record_width(scans).value_or(0)) {
    case 8:
        return {Encoding::D, EncodingReason::EightByteA};
    case 6:
        return {Encoding::A, EncodingReason::SixByteA};
    default:
        return {Encoding::A, EncodingReason::UnknownWidthA};
    }
}

std::string reason_text(EncodingReason reason, const std::string& quoted_instrument) {
    switch (reason) {
    case EncodingReason::SynaptB:
        return std::format("30-byte index, instrument {} starts with SYNAPT", quoted_instrument);
    case EncodingReason::NotSynaptB:
        return std::format("30-byte index, instrument {} is not SYNAPT", quoted_instrument);
    case EncodingReason::EightByteA:
        return "22-byte index, 8-byte records";
    case EncodingReason::SixByteA:
        return "22-byte index, 6-byte records";
    case EncodingReason::UnknownWidthA:
        break;
    }
    return "22-byte index, record width not established from offsets; assuming 6-byte records";
}

void log_run_summary(const raw::Header& header, const raw::ExternInf& extern_inf, std::size_t n_functions) {
    if (!log_enabled(log::Level::Debug)) return;
    std::vector<std::uint32_t> calibrated;
    calibrated.reserve(header.cal_functions.size());
    for (const auto& [number, cal] : header.cal_functions) calibrated.push_back(number);
    const std::string pusher =
        extern_inf.pusher_interval ? format_f64(*extern_inf.pusher_interval) + " us" : std::string("absent");
    TV_LOG(log::Level::Debug, kTarget,
           std::format("instrument {}; Lteff {} mm, Veff {} V, pusher interval {}; {} functions in "
                       "_FUNCTNS.INF; T1 calibration for functions {}",
                       debug_quote(header.instrument.value_or("")), format_f64(extern_inf.lteff),
                       format_f64(extern_inf.veff), pusher, n_functions, format_list(calibrated)));
}

void log_function_summary(const FunctionEntry& entry, EncodingReason reason, const raw::Header& header) {
    if (!log_enabled(log::Level::Debug)) return;
    const std::uint8_t subtype = entry.info.scan_subtype;
    TV_LOG(
        log::Level::Debug, kTarget,
        std::format("function {}: {} scans, m/z {}-{}, subtype {:#04x}{}, encoding {} ({}), calibration {} "
                    "with {} coefficients, DAT {} bytes",
                    entry.number, entry.scans.size(), format_f32(entry.info.mz_low),
                    format_f32(entry.info.mz_high), subtype, (subtype & 0x80) != 0 ? " (lock mass)" : "",
                    encoding_letter(entry.encoding),
                    reason_text(reason, debug_quote(header.instrument.value_or(""))),
                    raw::to_string(entry.cal_type), entry.coefficients.size(), entry.dat_len));
}

// The statistics file is optional and a bad one only costs the statistics.
Result<std::optional<raw::FuncSts>> load_statistics(const DirectoryListing& listing, std::uint32_t number) {
    TV_ASSIGN_OR_RETURN(std::optional<std::filesystem::path> sts_path,
                        listing.find(numbered_name("_FUNC", number, ".STS")));
    if (!sts_path) {
        TV_LOG(log::Level::Debug, kTarget, std::format("function {}: no STS file", number));
        return std::nullopt;
    }
    Result<raw::FuncSts> sts = raw::FuncSts::from_path(*sts_path);
    if (!sts) {
        TV_LOG(log::Level::Warn, kTarget,
               std::format("function {}: ignoring unreadable {}: {}", number, display_path(*sts_path),
                           sts.error().to_string()));
        return std::nullopt;
    }
    return std::move(*sts);
}

// Builds the entry of one function, or none when its index or data file is missing.
Result<std::optional<FunctionEntry>> open_function(const DirectoryListing& listing,
                                                   const raw::FunctionInfo& info, const raw::Header& header,
                                                   bool synapt) {
    const std::uint32_t number = info.index;
    const std::string idx_name = numbered_name("_FUNC", number, ".IDX");
    const std::string dat_name = numbered_name("_FUNC", number, ".DAT");
    TV_ASSIGN_OR_RETURN(std::optional<std::filesystem::path> idx_path, listing.find(idx_name));
    TV_ASSIGN_OR_RETURN(std::optional<std::filesystem::path> dat_path, listing.find(dat_name));
    if (!idx_path || !dat_path) {
        TV_LOG(log::Level::Warn, kTarget,
               std::format("function {}: {} or {} missing in {}; skipping function", number, idx_name,
                           dat_name, display_path(listing.dir())));
        return std::nullopt;
    }

    FunctionEntry entry;
    entry.number = number;
    entry.info = info;
    TV_ASSIGN_OR_RETURN(entry.scans, read_located(*idx_path, raw::ScanIndex::from_path));
    TV_ASSIGN_OR_RETURN(entry.dat_len, tarnvale::file_size(*dat_path));
    entry.dat_path = std::move(*dat_path);
    const EncodingChoice choice = choose_encoding(entry.scans, synapt);
    entry.encoding = choice.encoding;

    if (auto cal = header.cal_functions.find(number); cal != header.cal_functions.end()) {
        entry.coefficients = cal->second.coefficients;
        entry.cal_type = cal->second.cal_type;
    } else {
        TV_LOG(log::Level::Warn, kTarget,
               std::format("function {}: no Cal Function line in _HEADER.TXT; m/z is uncalibrated", number));
    }

    TV_ASSIGN_OR_RETURN(entry.sts, load_statistics(listing, number));

    if (auto end = index_end(entry.scans, entry.encoding); end && *end > entry.dat_len) {
        TV_LOG(log::Level::Warn, kTarget,
               std::format("function {}: index addresses {} bytes but {} is {} bytes", number, *end,
                           display_path(entry.dat_path), entry.dat_len));
    }
    log_function_summary(entry, choice.reason, header);
    return entry;
}

} // namespace

Result<Reader> Reader::open(const std::filesystem::path& path) {
    TV_ASSIGN_OR_RETURN(OpenedReader opened, open_listed(path));
    return std::move(opened.reader);
}

Result<OpenedReader> Reader::open_listed(const std::filesystem::path& path) {
    Reader reader;
    reader.dir = path;
    TV_LOG(log::Level::Debug, kTarget, std::format("opening {}", display_path(reader.dir)));

    // Every file of the open is found in this one listing: listing a crowded directory
    // once per file made opening quadratic in the number of functions.
    TV_ASSIGN_OR_RETURN(DirectoryListing listing, DirectoryListing::read(reader.dir));
    TV_ASSIGN_OR_RETURN(std::filesystem::path header_path, listing.require("_HEADER.TXT"));
    TV_ASSIGN_OR_RETURN(reader.header, read_located(header_path, raw::Header::from_path));
    TV_ASSIGN_OR_RETURN(std::filesystem::path extern_path, listing.require("_extern.inf"));
    TV_ASSIGN_OR_RETURN(reader.extern_inf, read_located(extern_path, raw::ExternInf::from_path));
    TV_ASSIGN_OR_RETURN(std::filesystem::path table_path, listing.require("_FUNCTNS.INF"));
    TV_ASSIGN_OR_RETURN(raw::FunctionTable table, read_located(table_path, raw::FunctionTable::from_path));

    const bool synapt = is_synapt(reader.header);
    log_run_summary(reader.header, reader.extern_inf, table.functions.size());

    reader.functions.reserve(table.functions.size());
    for (const raw::FunctionInfo& info : table.functions) {
        TV_ASSIGN_OR_RETURN(std::optional<FunctionEntry> entry,
                            open_function(listing, info, reader.header, synapt));
        if (entry) reader.functions.push_back(std::move(*entry));
    }

    reader.name = raw_dir_name(reader.dir);
    TV_LOG(log::Level::Debug, kTarget,
           std::format("opened {}: {} of {} functions readable", reader.name, reader.functions.size(),
                       table.functions.size()));
    return OpenedReader{
        .reader = std::move(reader), .listing = std::move(listing), .function_table = std::move(table)};
}

std::optional<double> FunctionEntry::collision_energy(std::uint64_t scan) const {
    return sts ? sts->collision_energy(scan) : std::nullopt;
}

std::optional<double> FunctionEntry::etd_fragmentation_mode(std::uint64_t scan) const {
    return sts ? sts->etd_fragmentation_mode(scan) : std::nullopt;
}

const FunctionEntry* Reader::function(std::uint32_t number) const {
    for (const FunctionEntry& entry : functions) {
        if (entry.number == number) return &entry;
    }
    return nullptr;
}

Result<DecodedScan> Reader::decode_scan(std::uint32_t func_index, std::uint64_t scan_index) const {
    auto decode = [&]() -> Result<DecodedScan> {
        const FunctionEntry* entry = function(func_index);
        if (entry == nullptr)
            return parse_error(std::format("function {} not present in bundle", func_index));
        if (scan_index >= entry->scans.size()) {
            return parse_error(std::format("function {} scan {} out of range", func_index, scan_index));
        }
        const ByteRange range = scan_byte_range(*entry, scan_index);
        const float rt = entry->scans.rt_min(scan_index);
        if (log_enabled(log::Level::Trace)) {
            TV_LOG(log::Level::Trace, kTarget,
                   std::format("function {} scan {}: {} bytes {}..{} of {}, RT {} min", func_index,
                               scan_index, encoding_letter(entry->encoding), range.offset,
                               range.offset + range.length, display_path(entry->dat_path), format_f32(rt)));
        }
        TV_ASSIGN_OR_RETURN(const ByteBuffer bytes,
                            read_exact_at(entry->dat_path, range.offset, range.length, kScanLimit));
        const raw::DecodeContext context = decode_context(*entry, extern_inf);
        TV_ASSIGN_OR_RETURN(DecodedSpectrum spectrum, decode_bytes(entry->encoding, bytes.span(), context));

        return DecodedScan{std::move(spectrum),
                           entry->collision_energy(scan_index),
                           entry->etd_fragmentation_mode(scan_index),
                           scan_index,
                           func_index,
                           rt};
    };
    Result<DecodedScan> decoded = decode();
    if (!decoded) return fail(scan_error(dir, func_index, scan_index, std::move(decoded).error()));
    return decoded;
}

Result<DecodedSpectrum> decode_bytes(Encoding encoding, std::span<const std::uint8_t> bytes,
                                     const raw::DecodeContext& context) {
    switch (encoding) {
    case Encoding::A:
        return raw::decode_encoding_a(bytes, context);
    case Encoding::B:
        return raw::decode_encoding_b(bytes, context);
    case Encoding::C:
        return raw::decode_encoding_c(bytes, context);
    case Encoding::D:
        break;
    }
    return raw::decode_encoding_d(bytes, context);
}

Result<ByteBuffer> read_scan_bytes(const FunctionEntry& entry, std::uint64_t scan) {
    const ByteRange range = scan_byte_range(entry, scan);
    return read_exact_at(entry.dat_path, range.offset, range.length, kScanLimit);
}

std::uint32_t record_width(Encoding encoding) { return encoding == Encoding::A ? 6 : 8; }

ScanRanges::ScanRanges(const FunctionEntry& entry)
    : scans_(entry.scans), count_(entry.scans.size()), width_(record_width(entry.encoding)),
      dat_len_(entry.dat_len), variant_a_(entry.scans.is_variant_a()) {}

ByteRange scan_byte_range(const FunctionEntry& entry, std::uint64_t scan) { return ScanRanges(entry)(scan); }

raw::DecodeContext decode_context(const FunctionEntry& entry, const raw::ExternInf& extern_inf) {
    raw::DecodeContext context;
    context.coefficients = entry.coefficients;
    context.cal_type = entry.cal_type;
    context.tof_k_us = tof_k_us(extern_inf.lteff, extern_inf.veff);
    context.mz_low = static_cast<double>(entry.info.mz_low);
    context.mz_high = static_cast<double>(entry.info.mz_high);
    context.scan_time_ms = static_cast<double>(entry.info.scan_time_s) * 1000.0;
    return context;
}

Error scan_error(const std::filesystem::path& dir, std::uint32_t func_index, std::uint64_t scan_index,
                 Error inner) {
    return Error::context(std::format("{} function {} scan {}", display_path(dir), func_index, scan_index),
                          std::move(inner));
}

std::optional<std::uint32_t> variant_a_record_width(const raw::ScanIndex& scans) {
    for (std::size_t i = 1; i < scans.size(); ++i) {
        const std::uint32_t offset = scans.offset(i);
        const std::uint32_t previous_offset = scans.offset(i - 1);
        const std::uint32_t previous_points = scans.n_points(i - 1);
        if (offset <= previous_offset || previous_points == 0) continue;
        const std::uint32_t distance = offset - previous_offset;
        if (distance % previous_points != 0) continue;
        const std::uint32_t width = distance / previous_points;
        if (width == 6 || width == 8) return width;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> index_end(const raw::ScanIndex& scans, Encoding encoding) {
    if (!scans.is_variant_a() || scans.size() == 0) return std::nullopt;
    return scans.largest_end(record_width(encoding));
}

double tof_k_us(double lteff_mm, double veff_v) {
    // Proton mass (kg) over twice the elementary charge (C) times the potential,
    // evaluated step by step so that the result is reproducible to the last bit.
    const double length_m = lteff_mm * 0.001;
    const double charge_term = veff_v * 3.2043532e-19;
    const double quotient = 1.6726219e-27 / charge_term;
    const double root = std::sqrt(quotient);
    const double seconds = root * length_m;
    return seconds * 1000000.0;
}

std::string raw_dir_name(const std::filesystem::path& dir) {
    // Walk back over trailing separators (empty components) and "." components.
    std::vector<std::filesystem::path> components(dir.begin(), dir.end());
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
        const std::string& text = it->native();
        if (text.empty() || text == ".") continue;
        if (text == ".." || text.find('/') != std::string::npos) break;
        return lossy_utf8(std::string_view(text));
    }
    return "bundle.raw";
}

} // namespace tarnvale
