// SPDX-License-Identifier: Apache-2.0
// The "dict" translation: an offline Chinese-English dictionary (CC-CEDICT). Chinese text is
// cut into the longest words the dictionary knows and each word is glossed; an English word
// or short phrase is looked up in the glosses and answered with the Chinese words for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavi::service {

class Dictionary {
 public:
  // Reads a CC-CEDICT file ("traditional simplified [pin1 yin1] /gloss/gloss/" lines, "#"
  // comments). False with a message when it cannot be read or holds no entry.
  bool Load(const std::filesystem::path& path, std::string* error);
  // The same from text in memory (tests, fuzzing).
  bool LoadText(std::string_view text, std::string* error);
  size_t size() const { return entries_.size(); }

  // The answer for `text`, one line per word: "電腦 (电脑) [diàn nǎo] computer; PC". False
  // when nothing was found.
  bool Lookup(std::string_view text, std::string* answer) const;

 private:
  struct Entry {
    std::string traditional;
    std::string simplified;
    std::string pinyin;  // with tone marks
    std::vector<std::string> glosses;
  };
  bool AddLine(std::string_view line);
  std::string Format(const Entry& entry) const;
  bool LookupChinese(std::string_view text, std::string* answer) const;
  bool LookupEnglish(std::string_view text, std::string* answer) const;

  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_headword_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_gloss_;
  size_t longest_headword_ = 0;  // in code points
};

// "ni3 hao3" -> "nǐ hǎo"; "lu:4" and "lv4" -> "lǜ"; syllables without a tone digit stay.
std::string PinyinWithToneMarks(std::string_view numbered);

}  // namespace kavi::service
