#include "ovra/punctuation.h"

namespace kavi::win {
namespace {

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

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
