// SPDX-License-Identifier: Apache-2.0
// radical_pinyin.txt / radical_pinyin_full.txt ("characters TAB code'code...") and
// pinyin_lookup.txt ("character TAB reading"): the `uu` command's look-up by component.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

class ComponentTable {
 public:
  // Returns false when no line named a character under a code.
  bool Parse(std::string_view text);

  // The characters of the code equal to `argument`; when there are none, those of every code
  // that starts with it, in code order, stopping once 100 or more are collected; when there are
  // none either, those under two codes typed one after the other (LookupPair).
  std::vector<std::string> Lookup(std::string_view argument) const;

 private:
  // The characters under a code equal to the start of `argument` that are also under a code
  // starting with the rest of it, for every place where it can be cut; in the order of the
  // first code's list, each once.
  std::vector<std::string> LookupPair(std::string_view argument) const;

  std::map<std::string, std::vector<std::string>, std::less<>> characters_by_code_;
};

class PinyinLookup {
 public:
  bool Parse(std::string_view text);
  // The reading of a character, empty when unknown.
  std::string_view Reading(std::string_view character) const;

 private:
  std::map<std::string, std::string, std::less<>> readings_;
};

}  // namespace kavi::win
