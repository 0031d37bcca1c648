// SPDX-License-Identifier: Apache-2.0
// emoji.txt: the first line is the query, the rest the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugins/emoji_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t newline = text.find('\n');
  std::string_view query = text.substr(0, newline);
  kavi::win::EmojiTable table;
  if (!table.Parse(text)) return 0;
  kavi::win::PluginPage page = table.Search(query);
  size_t exact = 0;
  while (exact < page.items.size() && page.items[exact].comment.starts_with(':')) ++exact;
  if (page.items.size() > exact && page.items.size() > 20) std::abort();
  return 0;
}
