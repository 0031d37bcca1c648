// SPDX-License-Identifier: Apache-2.0
// lunar_data.txt: any text, and when it parses, conversions of dates it does and does not cover.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugins/lunar_calendar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kavi::win::LunarTable table;
  kavi::win::LunarTable::ParseError error;
  if (!table.Parse(text, &error)) return 0;
  for (int year : {1899, 1900, 1950, 2024, 2100, 2101}) {
    for (int month : {0, 1, 2, 6, 12, 13}) {
      for (int day : {0, 1, 15, 31, 32}) {
        kavi::win::LunarDate date;
        if (table.Convert(year, month, day, &date)) {
          if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 30) std::abort();
          kavi::win::LunarTable::Describe(date);
        }
      }
    }
  }
  table.Page("hln20240229", 1);
  return 0;
}
