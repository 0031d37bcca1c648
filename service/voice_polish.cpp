// SPDX-License-Identifier: Apache-2.0
#include "service/voice_polish.h"

#include <vector>

#include "config/json.h"
#include "text/utf8.h"

namespace kavi::service {
namespace {

using Text = std::vector<char32_t>;

Text Decode(std::string_view utf8) {
  Text out;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > utf8.size() || !win::IsValidUtf8(utf8.data() + i, length)) {
      ++i;  // a stray byte is dropped
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string Encode(const Text& text) {
  std::string out;
  for (char32_t c : text) win::AppendUtf8(static_cast<uint32_t>(c), &out);
  return out;
}

bool IsHan(char32_t c) {
  return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF) ||
         (c >= 0x3040 && c <= 0x30FF);
}
bool IsLatinOrDigit(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsDigit(char32_t c) {
  return c >= '0' && c <= '9';
}
bool IsSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0x3000;
}
bool IsFiller(char32_t c) {
  return c == U'嗯' || c == U'呃';
}
bool IsFullWidthPunctuation(char32_t c) {
  return c == U'，' || c == U'。' || c == U'？' || c == U'！' || c == U'：' || c == U'；' ||
         c == U'、';
}
bool IsPunctuation(char32_t c) {
  return IsFullWidthPunctuation(c) || c == ',' || c == '.' || c == '?' || c == '!' || c == ':' ||
         c == ';';
}
char32_t FullWidth(char32_t c) {
  switch (c) {
    case ',':
      return U'，';
    case '.':
      return U'。';
    case '?':
      return U'？';
    case '!':
      return U'！';
    case ':':
      return U'：';
    case ';':
      return U'；';
    default:
      return c;
  }
}

Text HalfWidthAlphanumerics(const Text& in) {
  Text out;
  for (char32_t c : in) {
    if ((c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) ||
        (c >= 0xFF41 && c <= 0xFF5A))
      c = c - 0xFF00 + 0x20;
    out.push_back(c);
  }
  return out;
}

// One space for every run of white space, none at the ends.
Text CollapseSpaces(const Text& in) {
  Text out;
  for (char32_t c : in) {
    if (IsSpace(c)) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A filler standing alone between phrases goes, with the comma or space after it.
Text DropFillers(const Text& in) {
  Text out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (!IsFiller(in[i])) {
      out.push_back(in[i]);
      continue;
    }
    size_t end = i;
    while (end < in.size() && IsFiller(in[end])) ++end;
    const bool starts_phrase = out.empty() || out.back() == ' ' || IsPunctuation(out.back());
    const bool ends_phrase = end == in.size() || in[end] == ' ' || IsPunctuation(in[end]);
    if (!starts_phrase || !ends_phrase) {
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                 in.begin() + static_cast<std::ptrdiff_t>(end));
    } else {
      while (end < in.size() && (in[end] == ' ' || IsPunctuation(in[end]))) ++end;
    }
    i = end - 1;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The nearest character before and after i that is neither a space nor punctuation: a run of
// marks ("??") belongs to the text around it.
char32_t Before(const Text& text, size_t i) {
  while (i > 0) {
    if (text[--i] != ' ' && !IsPunctuation(text[i])) return text[i];
  }
  return 0;
}
char32_t After(const Text& text, size_t i) {
  for (++i; i < text.size(); ++i) {
    if (text[i] != ' ' && !IsPunctuation(text[i])) return text[i];
  }
  return 0;
}

Text FullWidthPunctuation(const Text& in) {
  Text out;
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    const char32_t before = Before(in, i), after = After(in, i);
    const bool decimal_point =
        c == '.' && IsDigit(before) && IsDigit(after) && i > 0 && in[i - 1] != ' ';
    if (IsPunctuation(c) && !decimal_point && (IsHan(before) || IsHan(after))) c = FullWidth(c);
    out.push_back(c);
  }
  // No spaces around full-width punctuation, and no stammered marks ("，，").
  Text tidy;
  for (size_t i = 0; i < out.size(); ++i) {
    const char32_t c = out[i];
    if (c == ' ' && ((!tidy.empty() && IsFullWidthPunctuation(tidy.back())) ||
                     (i + 1 < out.size() && IsFullWidthPunctuation(out[i + 1]))))
      continue;
    if (IsFullWidthPunctuation(c) && c != U'？' && c != U'！' && !tidy.empty() && tidy.back() == c)
      continue;
    tidy.push_back(c);
  }
  return tidy;
}

Text SpaceChineseLatin(const Text& in) {
  Text out;
  for (size_t i = 0; i < in.size(); ++i) {
    const char32_t c = in[i];
    if (c == ' ' && !out.empty() && IsHan(out.back()) && i + 1 < in.size() && IsHan(in[i + 1]))
      continue;  // "你 好": a pause in dictation, not a word break
    if (!out.empty() &&
        ((IsHan(out.back()) && IsLatinOrDigit(c)) || (IsLatinOrDigit(out.back()) && IsHan(c))))
      out.push_back(' ');
    out.push_back(c);
  }
  return out;
}

bool ReadFlag(const win::JsonValue& options, std::string_view key, bool* flag) {
  const win::JsonValue* member = win::server::FindJsonMember(options, key);
  if (member == nullptr) return true;
  if (!member->is_boolean()) return false;
  *flag = member->boolean;
  return true;
}

}  // namespace

bool ParsePolishRequest(std::string_view body, std::string* text, PolishOptions* options,
                        std::string* error) {
  win::JsonValue root;
  if (!win::server::ParseJson(body, &root, nullptr) || !root.is_object() ||
      !win::server::GetJsonString(root, "text", text) || text->empty()) {
    *error = "invalid voice polish request";
    return false;
  }
  PolishOptions parsed;
  const win::JsonValue* given = win::server::FindJsonMember(root, "options");
  if (given != nullptr) {
    if (!given->is_object() || !ReadFlag(*given, "punctuation", &parsed.full_width_punctuation) ||
        !ReadFlag(*given, "width", &parsed.half_width_alphanumerics) ||
        !ReadFlag(*given, "spacing", &parsed.space_chinese_latin) ||
        !ReadFlag(*given, "fillers", &parsed.drop_fillers) ||
        !ReadFlag(*given, "closing_stop", &parsed.closing_stop)) {
      *error = "invalid voice polish options";
      return false;
    }
  }
  *options = parsed;
  return true;
}

std::string PolishText(std::string_view utf8, const PolishOptions& options) {
  Text text = Decode(utf8);
  if (options.half_width_alphanumerics) text = HalfWidthAlphanumerics(text);
  text = CollapseSpaces(text);
  if (options.drop_fillers) text = DropFillers(text);
  if (options.full_width_punctuation) text = FullWidthPunctuation(text);
  if (options.space_chinese_latin) text = SpaceChineseLatin(text);
  if (options.closing_stop && !text.empty() && IsHan(text.back())) text.push_back(U'。');
  return Encode(text);
}

}  // namespace kavi::service
