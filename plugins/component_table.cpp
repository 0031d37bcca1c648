#include "plugins/component_table.h"

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
