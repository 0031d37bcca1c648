// SPDX-License-Identifier: Apache-2.0
#include "plugins/component_table.h"

#include <set>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr size_t kPrefixLimit = 100;
constexpr char kCodeSeparator = '\'';

}  // namespace

bool ComponentTable::Parse(std::string_view text) {
  characters_by_code_.clear();
  for (std::string_view line : SplitLines(text)) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    std::vector<std::string_view> characters = SplitUtf8Characters(line.substr(0, tab));
    if (characters.empty()) continue;
    std::string_view codes = line.substr(tab + 1);
    std::vector<std::string_view> names;
    if (!codes.empty()) names.push_back(codes);
    if (codes.find(kCodeSeparator) != std::string_view::npos) {
      size_t start = 0;
      while (start <= codes.size()) {
        size_t end = codes.find(kCodeSeparator, start);
        if (end == std::string_view::npos) end = codes.size();
        if (end > start) names.push_back(codes.substr(start, end - start));
        start = end + 1;
      }
    }
    for (std::string_view name : names) {
      auto it = characters_by_code_.find(name);
      if (it == characters_by_code_.end()) {
        it = characters_by_code_.emplace(std::string(name), std::vector<std::string>()).first;
      }
      for (std::string_view character : characters) it->second.emplace_back(character);
    }
  }
  return !characters_by_code_.empty();
}

std::vector<std::string> ComponentTable::Lookup(std::string_view argument) const {
  auto exact = characters_by_code_.find(argument);
  if (exact != characters_by_code_.end() && !exact->second.empty()) return exact->second;
  std::vector<std::string> found;
  for (auto it = characters_by_code_.lower_bound(argument);
       it != characters_by_code_.end() && it->first.starts_with(argument) &&
       found.size() < kPrefixLimit;
       ++it) {
    if (it->first == argument) continue;
    found.insert(found.end(), it->second.begin(), it->second.end());
  }
  if (found.empty()) found = LookupPair(argument);
  return found;
}

// The "'" that joins two spellings in the data cannot be typed after `uu, so a search for two
// components would be out of reach: the argument is also read as two spellings typed one after
// the other ("nvzi" for 女 and 子), the second possibly unfinished ("nvz").
std::vector<std::string> ComponentTable::LookupPair(std::string_view argument) const {
  std::vector<std::string> found;
  std::set<std::string_view> listed;
  for (size_t cut = 1; cut < argument.size(); ++cut) {
    auto first = characters_by_code_.find(argument.substr(0, cut));
    if (first == characters_by_code_.end()) continue;
    const std::string_view rest = argument.substr(cut);
    std::set<std::string_view> second;
    for (auto it = characters_by_code_.lower_bound(rest);
         it != characters_by_code_.end() && it->first.starts_with(rest); ++it) {
      if (it->first.find(kCodeSeparator) != std::string::npos) continue;  // whole code fields
      second.insert(it->second.begin(), it->second.end());
    }
    for (const std::string& character : first->second) {
      if (second.contains(character) && listed.insert(character).second) {
        found.push_back(character);
      }
    }
  }
  return found;
}

bool PinyinLookup::Parse(std::string_view text) {
  readings_.clear();
  for (std::string_view line : SplitLines(text)) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    readings_[std::string(line.substr(0, tab))] = std::string(line.substr(tab + 1));
  }
  return !readings_.empty();
}

std::string_view PinyinLookup::Reading(std::string_view character) const {
  auto it = readings_.find(character);
  return it == readings_.end() ? std::string_view() : std::string_view(it->second);
}

}  // namespace kavi::win
