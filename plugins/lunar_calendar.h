// SPDX-License-Identifier: Apache-2.0
// lunar_data.txt and the `hl` command: Gregorian dates 1900-2100 as Chinese lunar dates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_types.h"

namespace kavi::win {

struct LunarDate {
  int year;   // the Gregorian year in which this lunar year began
  int month;  // 1 to 12
  int day;    // 1 to 30
  bool leap_month;
};

class LunarTable {
 public:
  static constexpr int kFirstYear = 1899;  // line 0 is the lunar year that began in 1899
  static constexpr size_t kYearCount = 202;

  enum class ParseError { None, BadRecord, WrongCount };

  // All or nothing: a bad line or a count other than 202 leaves the table empty.
  bool Parse(std::string_view text, ParseError* error);

  // Converts a Gregorian date from 1900 to 2100; false outside the table.
  bool Convert(int year, int month, int day, LunarDate* out) const;

  // "甲辰年（龍）正月初一" and "二〇二四年正月初一".
  static std::vector<std::string> Describe(const LunarDate& date);

  // `query` is the whole lower-cased query ("hl", "hln", "hln20240210"); `now` as in the
  // context.
  PluginPage Page(std::string_view query, int64_t now) const;

 private:
  struct Record {
    uint16_t month_mask;   // bit 11 is month 1; a set bit means 30 days
    bool long_leap_month;  // the leap month has 30 days
    int leap_month;        // 0 for none
    int new_year_month;
    int new_year_day;
  };
  std::vector<Record> records_;
};

}  // namespace kavi::win
