// SPDX-License-Identifier: Apache-2.0
#include "ovra/punctuation.h"

#include "text/utf8.h"

namespace kavi::win {

std::string Punctuation::ChineseMark(uint32_t key) {
  switch (key) {
    case ',':
      return "，";
    case '.':
      return "。";
    case ';':
      return "；";
    case ':':
      return "：";
    case '?':
      return "？";
    case '!':
      return "！";
    case '\\':
      return "、";
    case '(':
      return "（";
    case ')':
      return "）";
    case '<':
      return "《";
    case '>':
      return "》";
    case '[':
      return "【";
    case ']':
      return "】";
    case '{':
      return "「";
    case '}':
      return "」";
    case '^':
      return "……";
    case '_':
      return "——";
    case '$':
      return "￥";
    case '~':
      return "～";
    case '`':
      return "·";
    case '"':
      double_quote_open_ = !double_quote_open_;
      return double_quote_open_ ? "“" : "”";
    case '\'':
      single_quote_open_ = !single_quote_open_;
      return single_quote_open_ ? "‘" : "’";
    default:
      return {};
  }
}

void Punctuation::Reset() {
  double_quote_open_ = false;
  single_quote_open_ = false;
}

std::string FullWidth(uint32_t key) {
  std::string out;
  if (key == ' ') {
    AppendUtf8(0x3000, &out);
  } else if (key > 0x20 && key < 0x7F) {
    AppendUtf8(key - 0x21 + 0xFF01, &out);
  }
  return out;
}

}  // namespace kavi::win
