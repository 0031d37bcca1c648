// SPDX-License-Identifier: Apache-2.0
// The user's own phrases behind short codes ("custom_phrases.txt" in the user-data root), shown
// among the candidates of every pinyin scheme when the whole input is their code.
//
// One phrase a line: code TAB text TAB position.
//   - code: the letters typed, a-z, at most 64;
//   - text: what is committed; "\n" in it is a line feed, "\t" a tab and "\\" a backslash;
//   - position: where it shows among the candidates, 1 for the first (past the end: the last).
// Blank lines and lines starting with "#" are comments. Phrases of one code and position keep
// the order of the file.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ovra/engine_api.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr std::string_view kCustomPhrasesFile = KAVI_CUSTOM_PHRASES_FILE;

struct CustomPhrase {
  std::string code;
  std::string text;
  size_t position = 1;
};

// A line that was left out, and why.
struct CustomPhraseProblem {
  size_t line = 0;  // 1-based
  std::string reason;
};

class CustomPhrases {
 public:
  // Longest code and text taken: a code is typed input; a text must fit one commit.
  static constexpr size_t kMaxCodeBytes = 64;
  static constexpr size_t kMaxTextBytes = kCommitTextSize - 1;

  // Reads a whole file. Malformed lines are left out, each with a problem; every other line is
  // kept.
  static CustomPhrases Parse(std::string_view text, std::vector<CustomPhraseProblem>* problems);

  // The phrases of `code`, by position, then in file order.
  std::span<const CustomPhrase> Find(std::string_view code) const;
  size_t size() const { return phrases_.size(); }

 private:
  std::vector<CustomPhrase> phrases_;  // by code, then position, then file order
};

}  // namespace kavi::win
