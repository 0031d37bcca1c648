// SPDX-License-Identifier: Apache-2.0
// symbols.txt: the first line is the `fh` argument, the rest the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "plugins/symbol_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view argument = text.substr(0, text.find('\n'));
  kavi::win::SymbolTable table;
  if (!table.Parse(text)) return 0;
  table.Page("");
  table.Page(argument);
  return 0;
}
