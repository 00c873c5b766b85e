// When the acquisition started, from the run header's date and time texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnvale::exporter {

// "2021-01-14T16:20:52" (xs:dateTime, no zone: the header gives none) from a date
// such as "14-Jan-2021" (day, English month abbreviation in any case, four-digit
// year) and a time such as "16:20:52" or "9:05:00"; none when either is absent or
// is not a real date or time of day.
std::optional<std::string> start_time_stamp(const std::optional<std::string>& date,
                                            const std::optional<std::string>& time);

} // namespace tarnvale::exporter
