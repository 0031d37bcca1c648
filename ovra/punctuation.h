// SPDX-License-Identifier: Apache-2.0
// What a punctuation or symbol key types in Chinese mode, and full-width forms of ASCII.
#pragma once

#include <cstdint>
#include <string>

namespace kavi::win {

class Punctuation {
 public:
  // The Chinese mark for an ASCII punctuation key, or empty when the key keeps its ASCII form.
  // Quotes alternate between opening and closing marks.
  std::string ChineseMark(uint32_t key);
  void Reset();

 private:
  bool double_quote_open_ = false;
  bool single_quote_open_ = false;
};

// The full-width form of printable ASCII and space (U+FF01..U+FF5E, U+3000), or empty.
std::string FullWidth(uint32_t key);

}  // namespace kavi::win
