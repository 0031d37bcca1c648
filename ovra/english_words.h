// SPDX-License-Identifier: Apache-2.0
// The English words that mixed English input recognises, from a system word list (one word a
// line, such as Debian's wamerican). Words are folded to lower case; entries with anything but
// the letters A-Z (possessives, accented loans) are left out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

class EnglishWords {
 public:
  // Larger files are not word lists.
  static constexpr uintmax_t kMaxFileBytes = 16 << 20;
  // Words shorter than this are mostly abbreviations that pinyin initials spell too ("zg",
  // "dd", "sh"), so they never make input English.
  static constexpr size_t kMinWordLetters = 3;

  // Replaces the words with those of the file; false with a message when it cannot be read.
  bool Load(const std::filesystem::path& path, std::string* message);

  // Whether `letters` (a-z) is one word of the list or several run together ("helloworld"),
  // each of at least kMinWordLetters with a vowel.
  bool IsWordRun(std::string_view letters) const;

  size_t size() const { return words_.size(); }

 private:
  bool Contains(std::string_view word) const;

  std::string text_;                     // the kept words, one after the other
  std::vector<std::string_view> words_;  // into text_, sorted
  size_t longest_ = 0;
};

}  // namespace kavi::win
