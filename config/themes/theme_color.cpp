// SPDX-License-Identifier: Apache-2.0
#include "config/themes/theme_color.h"

#include <cstdint>

namespace kavi::win {

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseThemeColor(std::string_view text, StyleColor* color) {
  if (text.size() != 8 && text.size() != 10) return false;
  if (text[0] != '0' || text[1] != 'x') return false;
  uint32_t value = 0;
  for (char c : text.substr(2)) {
    int digit = HexDigitValue(c);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  auto channel = [value](int shift) {
    return static_cast<float>((value >> shift) & 0xFF) / 255.0f;
  };
  color->r = channel(0);
  color->g = channel(8);
  color->b = channel(16);
  color->a = text.size() == 10 ? channel(24) : 1.0f;
  return true;
}

}  // namespace kavi::win
