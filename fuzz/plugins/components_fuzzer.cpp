// SPDX-License-Identifier: Apache-2.0
// The component tables and pinyin_lookup.txt: the first line is the `uu` argument, the rest the
// file, read as both kinds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugins/component_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view argument = text.substr(0, text.find('\n'));
  kavi::win::ComponentTable table;
  kavi::win::PinyinLookup readings;
  readings.Parse(text);
  if (!table.Parse(text)) return 0;
  for (const std::string& character : table.Lookup(argument)) readings.Reading(character);
  return 0;
}
