// SPDX-License-Identifier: Apache-2.0
#include "plugins/emoji_table.h"

#include <algorithm>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr size_t kMaxItems = 20;
constexpr size_t kMinFuzzyQuery = 2;

// The bytes of `query` appear in `keyword` in the same order, not necessarily adjacent.
bool IsSubsequence(std::string_view query, std::string_view keyword) {
  size_t k = 0;
  for (char c : query) {
    k = keyword.find(c, k);
    if (k == std::string_view::npos) return false;
    ++k;
  }
  return true;
}

// One bit per byte value modulo 64: a keyword holding every byte of a query has every bit of
// the query's set.
uint64_t ByteSet(std::string_view text) {
  uint64_t set = 0;
  for (char c : text) set |= uint64_t{1} << (static_cast<unsigned char>(c) & 63);
  return set;
}

}  // namespace

bool EmojiTable::Parse(std::string_view text) {
  entries_.clear();
  for (std::string_view line : SplitLines(text)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0 || tab + 1 == line.size()) continue;
    std::string_view keyword = line.substr(0, tab);
    entries_.push_back({std::string(keyword), std::string(line.substr(tab + 1)), ByteSet(keyword)});
  }
  return !entries_.empty();
}

PluginPage EmojiTable::Search(std::string_view query) const {
  PluginPage page;
  std::vector<const Entry*> prefix;
  std::vector<const Entry*> fuzzy;
  const uint64_t query_set = ByteSet(query);
  const bool fuzzy_allowed = query.size() >= kMinFuzzyQuery;
  for (const Entry& entry : entries_) {
    if (entry.keyword == query) {
      page.items.push_back(CommitItem(entry.emoji, ":" + entry.keyword));
    } else if (entry.keyword.starts_with(query)) {
      prefix.push_back(&entry);
    } else if (fuzzy_allowed && (query_set & ~entry.byte_set) == 0 &&
               IsSubsequence(query, entry.keyword)) {
      fuzzy.push_back(&entry);
    }
  }
  auto shorter = [](const Entry* a, const Entry* b) {
    return a->keyword.size() < b->keyword.size();
  };
  std::stable_sort(prefix.begin(), prefix.end(), shorter);
  std::stable_sort(fuzzy.begin(), fuzzy.end(), shorter);
  for (const auto* list : {&prefix, &fuzzy}) {
    for (const Entry* entry : *list) {
      if (page.items.size() >= kMaxItems) return page;
      page.items.push_back(CommitItem(entry->emoji, entry->keyword));
    }
  }
  return page;
}

}  // namespace kavi::win
