// SPDX-License-Identifier: Apache-2.0
// emoji.txt: "keyword TAB emoji" lines, searched by exact keyword, prefix and letters in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_types.h"

namespace kavi::win {

class EmojiTable {
 public:
  // Keeps every valid line of the file text; returns false when nothing was kept.
  bool Parse(std::string_view text);

  // `query` is lower-cased: exact keywords first, then at most 20 items in all with prefix
  // matches before fuzzy ones, shorter keywords first.
  PluginPage Search(std::string_view query) const;

  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string keyword;
    std::string emoji;
    uint64_t byte_set;  // ByteSet of the keyword, to skip most fuzzy comparisons
  };
  std::vector<Entry> entries_;
};

}  // namespace kavi::win
