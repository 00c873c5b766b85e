#include "raw/header.hpp"

#include <optional>
#include <string>
#include <utility>

#include "display.hpp"
#include "numbers.hpp"
#include "raw/parse_file.hpp"
#include "text.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::string_view kLineMarker = "$$";
constexpr std::string_view kKeyValueSeparator = ": ";
constexpr std::string_view kCalKeyPrefix = "Cal Function ";

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

// A header line is "$$ key: value"; anything else carries nothing for us.
std::optional<KeyValue> split_header_line(std::string_view line) {
    std::string_view text = trim(line);
    if (!text.starts_with(kLineMarker)) return std::nullopt;
    text = trim_start(text.substr(kLineMarker.size()));
    const std::size_t separator = text.find(kKeyValueSeparator);
    if (separator == std::string_view::npos) return std::nullopt;
    return KeyValue{trim(text.substr(0, separator)),
                    trim(text.substr(separator + kKeyValueSeparator.size()))};
}

std::optional<std::string>* string_field(Header& header, std::string_view key) {
    if (key == "Version") return &header.version;
    if (key == "Acquired Name") return &header.acquired_name;
    if (key == "Acquired Date") return &header.acquired_date;
    if (key == "Acquired Time") return &header.acquired_time;
    if (key == "Instrument") return &header.instrument;
    if (key == "User Name") return &header.operator_;
    if (key == "Sample Description") return &header.sample_description;
    return nullptr;
}

// Some writers repeat the "Cal Function " prefix; all repetitions go before the number.
Result<std::uint32_t> cal_function_number(std::string_view key) {
    std::string_view rest = key;
    while (rest.starts_with(kCalKeyPrefix)) rest.remove_prefix(kCalKeyPrefix.size());
    if (auto number = parse_u32(trim(rest))) return *number;
    return parse_error("_HEADER.TXT: invalid function index in key " + debug_quote(key));
}

std::vector<std::string_view> split_commas(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) break;
        tokens.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    tokens.push_back(text.substr(start));
    return tokens;
}

Result<CalType> parse_cal_type(std::string_view token) {
    const std::string_view word = trim(token);
    if (word == "T0") return CalType::T0;
    if (word == "T1") return CalType::T1;
    return parse_error("_HEADER.TXT: unknown calibration type " + debug_quote(word));
}

} // namespace

Result<FunctionCal> parse_cal_value(std::string_view value) {
    const std::vector<std::string_view> tokens = split_commas(value);
    FunctionCal cal;
    TV_ASSIGN_OR_RETURN(cal.cal_type, parse_cal_type(tokens.back()));
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
        const std::string_view token = trim(tokens[i]);
        if (token.empty()) continue;
        const std::optional<double> coefficient = parse_f64(token);
        if (!coefficient) return parse_error("_HEADER.TXT: invalid coefficient " + debug_quote(tokens[i]));
        cal.coefficients.push_back(*coefficient);
    }
    return cal;
}

Result<Header> Header::from_str(std::string_view text) {
    Header header;
    for (std::string_view line : split_lines(text)) {
        const std::optional<KeyValue> entry = split_header_line(line);
        if (!entry) continue;
        if (std::optional<std::string>* field = string_field(header, entry->key)) {
            *field = std::string(entry->value);
        } else if (entry->key.starts_with(kCalKeyPrefix)) {
            TV_ASSIGN_OR_RETURN(const std::uint32_t number, cal_function_number(entry->key));
            TV_ASSIGN_OR_RETURN(FunctionCal cal, parse_cal_value(entry->value));
            header.cal_functions.insert_or_assign(number, std::move(cal));
        }
    }
    return header;
}

Result<Header> Header::from_path(const std::filesystem::path& path) {
    return parse_file(path, kMetadataFileLimit, &from_str);
}

} // namespace tarnvale::raw
