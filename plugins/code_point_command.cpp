// SPDX-License-Identifier: Apache-2.0
#include "plugins/code_point_command.h"

#include <string>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr size_t kMaxHexDigits = 6;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool IsScalarValue(uint32_t v) {
  return v <= 0xD7FF || (v >= 0xE000 && v <= kMaxCodePoint);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

PluginPage CodePointPage(std::string_view argument) {
  PluginPage page;
  if (argument.empty() || argument.size() > kMaxHexDigits) return page;
  uint32_t value = 0;
  for (char c : argument) {
    int digit = HexValue(c);
    if (digit < 0) return page;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  if (!IsScalarValue(value)) return page;

  std::string label = "U" + std::string(argument);
  std::string text;
  AppendUtf8(value, &text);
  page.items.push_back(CommitItem(std::move(text), label));
  if (value < 0x10000) {
    for (uint32_t next = value * 16; next < value * 16 + 16 && next <= kMaxCodePoint; ++next) {
      if (!IsScalarValue(next)) continue;
      std::string extended;
      AppendUtf8(next, &extended);
      page.items.push_back(CommitItem(std::move(extended), label + "~"));
    }
  }
  page.digits_as_input = true;
  return page;
}

}  // namespace kavi::win
