// SPDX-License-Identifier: Apache-2.0
// The custom phrase file is the user's own text, edited by hand: any bytes must give the phrases
// of the good lines and a problem for each bad one, never a crash or a phrase that breaks what a
// candidate relies on.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ovra/custom_phrases.h"
#include "text/utf8.h"

namespace {

using kavi::win::CustomPhrase;
using kavi::win::CustomPhrases;

bool Sound(const CustomPhrase& phrase, std::string_view code) {
  if (phrase.code != code || phrase.position == 0 || phrase.text.empty() ||
      phrase.text.size() > CustomPhrases::kMaxTextBytes || !kavi::win::IsValidUtf8(phrase.text)) {
    return false;
  }
  for (char c : phrase.text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<kavi::win::CustomPhraseProblem> problems;
  const CustomPhrases phrases = CustomPhrases::Parse(text, &problems);
  size_t last_line = 0;
  for (const auto& problem : problems) {
    if (problem.line <= last_line || problem.reason.empty()) __builtin_trap();
    last_line = problem.line;
  }
  // Every phrase is found by the code its line starts with (spaces around it dropped, and the
  // byte order mark before the first).
  std::set<std::string> codes;
  const size_t first = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (size_t start = first; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view code = text.substr(start, end - start);
    code = code.substr(0, code.find('\t'));
    while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
    while (!code.empty() && code.back() == ' ') code.remove_suffix(1);
    codes.emplace(code);
    start = end + 1;
  }
  size_t found = 0;
  for (const std::string& code : codes) {
    size_t position = 0;
    for (const CustomPhrase& phrase : phrases.Find(code)) {
      if (!Sound(phrase, code) || phrase.position < position) __builtin_trap();
      position = phrase.position;
      ++found;
    }
  }
  if (found != phrases.size()) __builtin_trap();
  return 0;
}
