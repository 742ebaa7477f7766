// Date texts of the settings file: "yyyymmdd" when written; on reading also the dotted form
// "y.m.d" with numbers of any width ("2024.1.5"). Stateless: thread-safe.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace hm::app {

using CivilDate = std::chrono::year_month_day;

// "yyyymmdd". Dates after 9999-12-31 are written as that day.
std::string FormatDateText(CivilDate date);

// A text holding "." is split at the dots into year, month and day; any other text gives them
// from its characters 1-4, 5-6 and 7-8. nullopt when that is not a valid date of the years 1 to
// 9999 (too few parts or characters, something other than a number, no such day).
std::optional<CivilDate> ParseDateText(std::string_view text);

// `date` plus `days`, kept within the years 1 to 9999.
CivilDate AddDays(CivilDate date, int days);

// Today's date in the host's local time zone.
CivilDate LocalToday();

}  // namespace hm::app
