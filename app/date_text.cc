#include "app/date_text.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "app/text_number.h"

namespace hm::app {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;

constexpr CivilDate kFirstDate{year{1}, month{1}, day{1}};
constexpr CivilDate kLastDate{year{9999}, month{12}, day{31}};

std::optional<CivilDate> MakeDate(std::optional<int32_t> y, std::optional<int32_t> m,
                                  std::optional<int32_t> d) {
  if (!y || !m || !d || *y < 1 || *y > 9999 || *m < 1 || *m > 12 || *d < 1 || *d > 31) {
    return std::nullopt;
  }
  CivilDate date{year{*y}, month{static_cast<unsigned>(*m)}, day{static_cast<unsigned>(*d)}};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::optional<CivilDate> ParseDotted(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 3) return std::nullopt;
  return MakeDate(ParseDecimalInteger(parts[0]), ParseDecimalInteger(parts[1]),
                  ParseDecimalInteger(parts[2]));
}

// Only digits count in the fixed positions: "2024-1-5" must not read as a date.
std::optional<int32_t> Digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return ParseDecimalInteger(text);
}

}  // namespace

std::string FormatDateText(CivilDate date) {
  if (sys_days(date) > sys_days(kLastDate)) date = kLastDate;
  char text[16];
  std::snprintf(text, sizeof(text), "%04d%02u%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::optional<CivilDate> ParseDateText(std::string_view text) {
  if (text.find('.') != std::string_view::npos) return ParseDotted(text);
  if (text.size() < 8) return std::nullopt;
  return MakeDate(Digits(text.substr(0, 4)), Digits(text.substr(4, 2)), Digits(text.substr(6, 2)));
}

CivilDate AddDays(CivilDate date, int days) {
  const long long first = sys_days(kFirstDate).time_since_epoch().count();
  const long long last = sys_days(kLastDate).time_since_epoch().count();
  long long target = sys_days(date).time_since_epoch().count() + days;
  if (target < first) target = first;
  if (target > last) target = last;
  return CivilDate(sys_days(std::chrono::days(target)));
}

CivilDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return CivilDate{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                   day{static_cast<unsigned>(local.tm_mday)}};
}

}  // namespace hm::app
