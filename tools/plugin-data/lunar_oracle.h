// SPDX-License-Identifier: Apache-2.0
// Chinese lunar dates from Debian's liblunar-date, which follows the calendar tables published
// by the Purple Mountain Observatory: the source of lunar_data.txt and the reference that the
// lunar test checks the shipped table against, day by day.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kavi::win::tools {

struct ReferenceLunarDate {
  int year;   // the Gregorian year in which the lunar year began
  int month;  // 1 to 12
  int day;    // 1 to 30
  bool leap_month;

  bool operator==(const ReferenceLunarDate&) const = default;
};

class LunarDateOracle {
 public:
  // The first day that the reference converts; the lunar year of 1899 is not in it.
  static constexpr int kFirstYear = 1900;
  static constexpr int kFirstMonth = 1;
  static constexpr int kFirstDay = 31;
  static constexpr int kLastYear = 2100;  // the last lunar year it holds

  LunarDateOracle();
  ~LunarDateOracle();
  LunarDateOracle(const LunarDateOracle&) = delete;
  LunarDateOracle& operator=(const LunarDateOracle&) = delete;

  // The lunar date of a Gregorian date from 1900-01-31 to 2101-01-28; nothing outside.
  std::optional<ReferenceLunarDate> Convert(int year, int month, int day);

  // The lunar_data.txt line of the lunar year that begins in Gregorian `year` (1900 to 2100):
  // month-length mask, leap-month length, leap month, new-year date (month * 100 + day), in
  // upper-case hexadecimal. Empty when the reference cannot describe that year.
  std::string YearRecord(int year);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace kavi::win::tools
