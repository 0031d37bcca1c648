// SPDX-License-Identifier: Apache-2.0
#include "ovra/custom_phrases.h"

#include <algorithm>

#include "text/utf8.h"

namespace kavi::win {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Any position past the candidates puts a phrase last; nine digits are more than enough.
constexpr size_t kMaxPositionDigits = 9;

std::string_view Trim(std::string_view text, std::string_view blanks = " ") {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[i + 1];
      if (next == 'n' || next == 't' || next == '\\') {
        out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : '\\');
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The phrase of one line, or the reason it cannot be one.
bool ParseLine(std::string_view line, CustomPhrase* phrase, std::string* reason) {
  const size_t first_tab = line.find('\t');
  const size_t last_tab = line.rfind('\t');
  if (first_tab == std::string_view::npos || first_tab == last_tab) {
    *reason = "needs a code, a text and a position separated by tabs";
    return false;
  }
  const std::string_view code = Trim(line.substr(0, first_tab));
  // Tabs inside the text are taken as they are: only the first and the last separate.
  const std::string_view text = line.substr(first_tab + 1, last_tab - first_tab - 1);
  const std::string_view position = Trim(line.substr(last_tab + 1));

  if (code.empty() || code.size() > CustomPhrases::kMaxCodeBytes ||
      !std::all_of(code.begin(), code.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
    *reason =
        "the code must be 1 to " + std::to_string(CustomPhrases::kMaxCodeBytes) + " letters a-z";
    return false;
  }
  const bool digits =
      !position.empty() && position.size() <= kMaxPositionDigits &&
      std::all_of(position.begin(), position.end(), [](char c) { return c >= '0' && c <= '9'; });
  const size_t place = digits ? std::stoul(std::string(position)) : 0;
  if (place == 0) {
    *reason = "the position must be a number from 1";
    return false;
  }
  std::string unescaped = Unescape(text);
  if (unescaped.empty()) {
    *reason = "the text is empty";
    return false;
  }
  if (!IsValidUtf8(unescaped)) {
    *reason = "the text is not UTF-8";
    return false;
  }
  if (std::any_of(unescaped.begin(), unescaped.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t';
      })) {
    *reason = "the text holds a control character";
    return false;
  }
  if (unescaped.size() > CustomPhrases::kMaxTextBytes) {
    *reason = "the text is longer than " + std::to_string(CustomPhrases::kMaxTextBytes) + " bytes";
    return false;
  }
  phrase->code = std::string(code);
  phrase->text = std::move(unescaped);
  phrase->position = place;
  return true;
}

}  // namespace

CustomPhrases CustomPhrases::Parse(std::string_view text,
                                   std::vector<CustomPhraseProblem>* problems) {
  problems->clear();
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  CustomPhrases result;
  size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (Trim(line, " \t").empty() || line.front() == '#') continue;
    CustomPhrase phrase;
    std::string reason;
    if (ParseLine(line, &phrase, &reason)) {
      result.phrases_.push_back(std::move(phrase));
    } else {
      problems->push_back({line_number, std::move(reason)});
    }
  }
  std::stable_sort(result.phrases_.begin(), result.phrases_.end(),
                   [](const CustomPhrase& a, const CustomPhrase& b) {
                     return a.code != b.code ? a.code < b.code : a.position < b.position;
                   });
  return result;
}

std::span<const CustomPhrase> CustomPhrases::Find(std::string_view code) const {
  auto first = std::lower_bound(
      phrases_.begin(), phrases_.end(), code,
      [](const CustomPhrase& phrase, std::string_view wanted) { return phrase.code < wanted; });
  auto last = first;
  while (last != phrases_.end() && last->code == code) ++last;
  return {first, last};
}

}  // namespace kavi::win
