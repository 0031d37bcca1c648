// SPDX-License-Identifier: Apache-2.0
#include "text/utf8.h"

#include <bit>
#include <cstring>

namespace kavi::win {

namespace {
constexpr uint64_t kHighBits = 0x8080808080808080ULL;
}  // namespace

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

namespace {

// The careful walk, for the last few bytes of a text: each sequence must fit.
bool IsValidUtf8Tail(const uint8_t* bytes, size_t size) {
  size_t i = 0;
  auto continuation = [bytes](size_t at) { return (bytes[at] & 0xC0) == 0x80; };
  while (i < size) {
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The ranges of the second byte exclude overlong forms (E0, F0), surrogates (ED) and code
    // points above U+10FFFF (F4); C0, C1 and F5 to FF never start a character.
    if (lead >= 0xC2 && lead <= 0xDF) {
      if (size - i < 2 || !continuation(i + 1)) return false;
      i += 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      if (size - i < 3) return false;
      const uint8_t second = bytes[i + 1];
      const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
      const uint8_t high = lead == 0xED ? 0x9F : 0xBF;
      if (second < low || second > high || !continuation(i + 2)) return false;
      i += 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      if (size - i < 4) return false;
      const uint8_t second = bytes[i + 1];
      const uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
      const uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
      if (second < low || second > high || !continuation(i + 2) || !continuation(i + 3)) {
        return false;
      }
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsValidUtf8(const char* data, size_t size) {
  static_assert(std::endian::native == std::endian::little, "a character's lead is its low byte");
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  const uint8_t* const end = p + size;
  // While four bytes remain, each character is read as one little-endian word: its shape (lead
  // and continuation bits) is one mask test, and its code point a range test that rules out
  // overlong forms, surrogates and values above U+10FFFF.
  while (end - p >= 4) {
    if (*p < 0x80) {
      ++p;
      // Runs of ASCII go eight bytes at a time.
      while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & kHighBits) != 0) break;
        p += 8;
      }
      continue;
    }
    uint32_t word;
    std::memcpy(&word, p, 4);
    if ((word & 0xC0E0) == 0x80C0) {
      if ((word & 0x1E) == 0) return false;  // C0 or C1: an overlong ASCII character
      p += 2;
    } else if ((word & 0xC0C0F0) == 0x8080E0) {
      const uint32_t code = ((word & 0x0F) << 12) | ((word & 0x3F00) >> 2) | ((word >> 16) & 0x3F);
      if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)) return false;
      p += 3;
    } else if ((word & 0xC0C0C0F8) == 0x808080F0) {
      const uint32_t code = ((word & 0x07) << 18) | ((word & 0x3F00) << 4) |
                            ((word & 0x3F0000) >> 10) | ((word >> 24) & 0x3F);
      if (code < 0x10000 || code > 0x10FFFF) return false;
      p += 4;
    } else {
      return false;
    }
  }
  return IsValidUtf8Tail(p, static_cast<size_t>(end - p));
}

size_t Utf8CutLength(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  size_t cut = max_bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

std::vector<std::string_view> SplitUtf8Characters(std::string_view text) {
  std::vector<std::string_view> chars;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 1;
    size_t end = i + 1;
    while (end < text.size() && end < i + length &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      ++end;
    }
    chars.push_back(text.substr(i, end - i));
    i = end;
  }
  return chars;
}

std::string EscapeUnprintable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char byte) {
    out += "\\x";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
  };
  for (std::string_view character : SplitUtf8Characters(text)) {
    const unsigned char lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1 && lead < 0x80) {
      if ((lead < 0x20 && lead != '\t') || lead == 0x7F)
        escape(lead);
      else
        out.push_back(static_cast<char>(lead));
    } else if (IsValidUtf8(character)) {
      out.append(character);
    } else {
      for (char byte : character) escape(static_cast<unsigned char>(byte));
    }
  }
  return out;
}

}  // namespace kavi::win
