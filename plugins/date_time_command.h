// SPDX-License-Identifier: Apache-2.0
// `rq`, `sj`, `xq`, `dt`, `ts`: the local date and time in several spellings.
#pragma once

#include <cstdint>
#include <string_view>

#include "plugins/plugin_types.h"

namespace kavi::win {

// `query` is lower-cased; `now` is seconds since 1970, 0 reads the clock. Unknown words give an
// empty page.
PluginPage DateTimePage(std::string_view query, int64_t now);

// The local calendar date of `now` (0 reads the clock).
struct LocalDate {
  int year;
  int month;
  int day;
};
LocalDate LocalDateOf(int64_t now);

}  // namespace kavi::win
