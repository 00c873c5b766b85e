#include "export/start_time.hpp"

#include <array>
#include <charconv>
#include <format>

#include "text.hpp"

namespace tarnvale::exporter {

namespace {

constexpr std::array<std::string_view, 12> months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// A whole field of 1 to `max_digits` decimal digits.
std::optional<unsigned> number(std::string_view text, std::size_t min_digits, std::size_t max_digits) {
    if (text.size() < min_digits || text.size() > max_digits) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

unsigned days_in(unsigned month, unsigned year) {
    constexpr std::array<unsigned, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Splits "a<sep>b<sep>c" into exactly three fields.
std::optional<std::array<std::string_view, 3>> three_fields(std::string_view text, char separator) {
    std::array<std::string_view, 3> fields;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t at = text.find(separator);
        if (at == std::string_view::npos) return std::nullopt;
        fields[i] = text.substr(0, at);
        text.remove_prefix(at + 1);
    }
    if (text.find(separator) != std::string_view::npos) return std::nullopt;
    fields[2] = text;
    return fields;
}

std::optional<std::string> iso_date(std::string_view text) {
    const auto fields = three_fields(trim(text), '-');
    if (!fields) return std::nullopt;
    const std::optional<unsigned> day = number((*fields)[0], 1, 2);
    const std::optional<unsigned> year = number((*fields)[2], 4, 4);
    const std::string name = ascii_upper((*fields)[1]);
    unsigned month = 0;
    for (std::size_t i = 0; i < months.size(); ++i)
        if (name == months[i]) month = static_cast<unsigned>(i) + 1;
    if (!day || !year || month == 0 || *year == 0 || *day == 0 || *day > days_in(month, *year))
        return std::nullopt;
    return std::format("{:04}-{:02}-{:02}", *year, month, *day);
}

std::optional<std::string> iso_time(std::string_view text) {
    const auto fields = three_fields(trim(text), ':');
    if (!fields) return std::nullopt;
    const std::optional<unsigned> hour = number((*fields)[0], 1, 2);
    const std::optional<unsigned> minute = number((*fields)[1], 2, 2);
    const std::optional<unsigned> second = number((*fields)[2], 2, 2);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    return std::format("{:02}:{:02}:{:02}", *hour, *minute, *second);
}

} // namespace

std::optional<std::string> start_time_stamp(const std::optional<std::string>& date,
                                            const std::optional<std::string>& time) {
    if (!date || !time) return std::nullopt;
    const std::optional<std::string> day = iso_date(*date);
    const std::optional<std::string> clock = iso_time(*time);
    if (!day || !clock) return std::nullopt;
    return *day + "T" + *clock;
}

} // namespace tarnvale::exporter
