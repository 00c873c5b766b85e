#include "raw/extern_inf.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "log.hpp"
#include "numbers.hpp"
#include "raw/parse_file.hpp"
#include "text.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::string_view kLogTarget = "tarnvale::raw::extern_inf";
constexpr std::string_view kTitlePrefix = "Function Parameters - Function ";

// A run-wide value of which only the first numeric occurrence counts.
struct FirstValue {
    std::optional<double> value;
    void offer(std::optional<double> candidate) {
        if (!value) value = candidate;
    }
};

struct ParseState {
    std::map<std::uint32_t, ExternFunction> functions;
    bool in_section = false;
    std::uint32_t current_function = 0;
    FirstValue lteff;
    FirstValue veff;
    FirstValue pusher_interval;
    FirstValue pusher_cycle_time;
    std::optional<Polarity> polarity;
};

FunctionKind classify_title(std::string_view title) {
    static constexpr std::array<std::pair<std::string_view, FunctionKind>, 5> kKinds{{
        {"REFERENCE", FunctionKind::Reference},
        {"DAUGHTER", FunctionKind::Daughter},
        {"MSMS", FunctionKind::Msms},
        {"PARENT", FunctionKind::Parent},
        {"TOF MS", FunctionKind::TofMs},
    }};
    const std::string upper = ascii_upper(trim(title));
    for (const auto& [word, kind] : kKinds)
        if (upper.find(word) != std::string::npos) return kind;
    return FunctionKind::Other;
}

// "Function Parameters - Function N - TITLE": opens (or reopens) the section of N.
void handle_title(ParseState& state, std::string_view line) {
    const std::string_view rest = line.substr(kTitlePrefix.size());
    const std::size_t dash = rest.find('-');
    const std::string_view number_part = rest.substr(0, dash);
    const std::string_view title =
        dash == std::string_view::npos ? std::string_view{} : rest.substr(dash + 1);
    const std::optional<std::uint32_t> number = parse_u32(trim(number_part));
    if (!number) return;
    // The first title of a number fixes its kind; later ones only reopen the section.
    if (!state.functions.contains(*number)) {
        ExternFunction function;
        function.number = *number;
        function.kind = classify_title(title);
        state.functions.emplace(*number, function);
    }
    state.in_section = true;
    state.current_function = *number;
}

// Lines like "Instrument Parameters:" or "Abc:" close a function section; headings
// that mention "Function" belong to it.
void handle_boundary(ParseState& state, std::string_view line) {
    if (line.starts_with("Instrument") || line.find("Function") == std::string_view::npos)
        state.in_section = false;
}

void handle_polarity(ParseState& state, std::string_view value) {
    if (state.polarity || value.size() < 3) return;
    const std::string upper = ascii_upper(value);
    if (upper.starts_with("ES+") || upper.starts_with("POS"))
        state.polarity = Polarity::Positive;
    else if (upper.starts_with("ES-") || upper.starts_with("NEG"))
        state.polarity = Polarity::Negative;
}

// All tokens but the last, joined by single spaces, without a parenthesised unit.
std::string line_key(const std::vector<std::string_view>& tokens) {
    std::string key;
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (i > 0) key += ' ';
        key += tokens[i];
    }
    key.resize(std::min(key.size(), key.find('(')));
    key.resize(trim_end(key).size());
    return key;
}

void handle_section_value(ParseState& state, std::string_view key, double value) {
    if (!state.in_section) return;
    ExternFunction& function = state.functions.at(state.current_function);
    if (key == "Start Mass")
        function.start_mass = value;
    else if (key == "End Mass")
        function.end_mass = value;
    else if (key == "Set Mass")
        function.set_mass = value;
    else if (key == "ADC Pusher Frequency")
        function.adc_pusher_frequency = value;
}

void handle_key_value(ParseState& state, std::string_view line) {
    const std::vector<std::string_view> tokens = split_whitespace(line);
    if (tokens.size() < 2) return;
    const std::string key = line_key(tokens);
    const std::string_view value_text = tokens.back();
    if (key == "Polarity") return handle_polarity(state, value_text);
    const std::optional<double> value = parse_f64(value_text);
    if (!value) return;
    if (key == "Lteff")
        state.lteff.offer(value);
    else if (key == "Veff")
        state.veff.offer(value);
    else if (key == "PusherInterval" || key == "Pusher Interval")
        state.pusher_interval.offer(value);
    else if (key == "Pusher Cycle Time")
        state.pusher_cycle_time.offer(value);
    else
        handle_section_value(state, key, *value);
}

void handle_line(ParseState& state, std::string_view raw_line) {
    const std::string_view line = trim(raw_line);
    if (line.empty()) return;
    if (line.starts_with(kTitlePrefix))
        handle_title(state, line);
    else if (line.ends_with(':'))
        handle_boundary(state, line);
    else
        handle_key_value(state, line);
}

} // namespace

Result<ExternInf> ExternInf::from_str(std::string_view text) {
    ParseState state;
    for (std::string_view line : split_lines(text)) handle_line(state, line);

    if (!state.lteff.value) return parse_error("_extern.inf: Lteff field not found");
    if (!state.veff.value) return parse_error("_extern.inf: Veff field not found");
    ExternInf inf;
    inf.pusher_interval =
        state.pusher_interval.value ? state.pusher_interval.value : state.pusher_cycle_time.value;
    if (!inf.pusher_interval)
        TV_LOG(log::Level::Debug, kLogTarget,
               std::string("_extern.inf: no numeric PusherInterval or Pusher Cycle Time"));
    inf.lteff = *state.lteff.value;
    inf.veff = *state.veff.value;
    inf.functions = std::move(state.functions);
    inf.polarity = state.polarity;
    return inf;
}

Result<ExternInf> ExternInf::from_path(const std::filesystem::path& path) {
    return parse_file(path, kMetadataFileLimit, &from_str);
}

std::uint32_t ExternInf::ms_level(std::uint32_t function) const {
    const auto entry = functions.find(function);
    if (entry == functions.end()) return 1;
    switch (entry->second.kind) {
    case FunctionKind::Parent:
    case FunctionKind::Msms:
    case FunctionKind::Daughter:
        return 2;
    default:
        return 1;
    }
}

} // namespace tarnvale::raw
