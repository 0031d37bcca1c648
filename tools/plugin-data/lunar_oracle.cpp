// SPDX-License-Identifier: Apache-2.0
#include "tools/plugin-data/lunar_oracle.h"

#include <lunar-date/lunar-date.h>

#include <cstdio>
#include <cstring>

namespace kavi::win::tools {
namespace {

// Lunar year, month (a leading "*" marks the leap month) and day, as plain numbers.
constexpr char kNumericFormat[] = "%(nian) %(yue) %(ri)";
constexpr int kMonthsPerYear = 12;

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap);
}

void NextDay(int* year, int* month, int* day) {
  if (++*day <= DaysInMonth(*year, *month)) return;
  *day = 1;
  if (++*month <= kMonthsPerYear) return;
  *month = 1;
  ++*year;
}

}  // namespace

struct LunarDateOracle::Handle {
  ::LunarDate* date = lunar_date_new();
  ~Handle() { lunar_date_free(date); }
};

LunarDateOracle::LunarDateOracle() : handle_(std::make_unique<Handle>()) {}
LunarDateOracle::~LunarDateOracle() = default;

std::optional<ReferenceLunarDate> LunarDateOracle::Convert(int year, int month, int day) {
  // The library refuses the first day of its own range, the lunar new year of 1900, while it
  // converts the day after it (正月初二).
  if (year == kFirstYear && month == kFirstMonth && day == kFirstDay) {
    std::optional<ReferenceLunarDate> next = Convert(year, month + 1, 1);
    if (!next || next->day != 2) return std::nullopt;
    --next->day;
    return next;
  }
  GError* error = nullptr;
  lunar_date_set_solar_date(handle_->date, static_cast<GDateYear>(year),
                            static_cast<GDateMonth>(month), static_cast<GDateDay>(day), 12, &error);
  if (error != nullptr) {
    g_error_free(error);
    return std::nullopt;
  }
  gchar* text = lunar_date_strftime(handle_->date, kNumericFormat);
  if (text == nullptr) return std::nullopt;
  ReferenceLunarDate date{0, 0, 0, std::strchr(text, '*') != nullptr};
  for (gchar* p = text; *p != 0; ++p) {
    if (*p == '*') *p = ' ';
  }
  const int fields = std::sscanf(text, "%d %d %d", &date.year, &date.month, &date.day);
  g_free(text);
  if (fields != 3 || date.month < 1 || date.month > kMonthsPerYear || date.day < 1 ||
      date.day > 30) {
    return std::nullopt;
  }
  return date;
}

std::string LunarDateOracle::YearRecord(int year) {
  // The new year is the first day of month 1, in late January or February.
  int y = year;
  int m = 1;
  int d = 1;
  std::optional<ReferenceLunarDate> date;
  for (; m <= 2; NextDay(&y, &m, &d)) {
    date = Convert(y, m, d);
    if (date && date->year == year && date->month == 1 && date->day == 1 && !date->leap_month) {
      break;
    }
  }
  if (m > 2) return {};
  const int new_year = m * 100 + d;

  // Walk the lunar year day by day; each first day closes the month before it.
  int mask = 0;
  int leap_month = 0;
  bool long_leap = false;
  ReferenceLunarDate month = *date;
  int length = 0;
  while (true) {
    ++length;
    NextDay(&y, &m, &d);
    date = Convert(y, m, d);
    // The reference ends with the last day of the lunar year 2100 (28 January 2101), so that
    // year's twelfth month closes there.
    const bool reference_ends = !date && year == kLastYear && month.month == kMonthsPerYear &&
                                !month.leap_month && length == 29;
    if (!date && !reference_ends) return {};
    if (!reference_ends && date->day != 1) continue;
    if (length == 30 && month.leap_month) long_leap = true;
    if (month.leap_month) leap_month = month.month;
    if (length == 30 && !month.leap_month) mask |= 1 << (kMonthsPerYear - month.month);
    if (length != 29 && length != 30) return {};
    if (reference_ends || (date->month == 1 && !date->leap_month)) break;
    month = *date;
    length = 0;
  }
  char line[16];
  std::snprintf(line, sizeof line, "%03X%d%X%02X", mask, long_leap ? 1 : 0, leap_month, new_year);
  return line;
}

}  // namespace kavi::win::tools
