// SPDX-License-Identifier: Apache-2.0
#include "plugins/chinese_numerals.h"

#include <algorithm>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr size_t kMaxArgumentLength = 17;
constexpr size_t kMaxIntegerDigits = 12;  // below one trillion
constexpr size_t kGroupSize = 4;

constexpr const char* kLowerDigits[] = {"〇", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
constexpr const char* kUpperDigits[] = {"零", "壹", "貳", "叁", "肆", "伍", "陸", "柒", "捌", "玖"};
constexpr const char* kLowerPositions[] = {"", "十", "百", "千"};
constexpr const char* kUpperPositions[] = {"", "拾", "佰", "仟"};
constexpr const char* kGroupUnits[] = {"", "萬", "億"};
constexpr const char* kMoneyUnits[] = {"角", "分", "厘", "毫"};
constexpr const char kYuan[] = "元";
constexpr const char kWhole[] = "整";
constexpr const char kPoint[] = "點";
constexpr const char kLowerTen[] = "一十";

const char* Digit(NumeralTable table, int value) {
  return table == NumeralTable::Lower ? kLowerDigits[value] : kUpperDigits[value];
}

std::string ConvertGroup(std::string_view group, NumeralTable table) {
  const char* const* positions = table == NumeralTable::Lower ? kLowerPositions : kUpperPositions;
  std::string out;
  bool zero_pending = false;
  for (size_t i = 0; i < group.size(); ++i) {
    int value = group[i] - '0';
    if (value != 0) {
      if (zero_pending) out += Digit(table, 0);
      out += Digit(table, value);
      out += positions[group.size() - 1 - i];
      zero_pending = false;
    } else if (!out.empty()) {
      zero_pending = true;
    }
  }
  return out.empty() ? Digit(table, 0) : out;
}

}  // namespace

bool ConvertChineseInteger(std::string_view digits, NumeralTable table, bool money,
                           std::string* out) {
  size_t first = digits.find_first_not_of('0');
  std::string_view significant = first == std::string_view::npos ? "0" : digits.substr(first);
  if (significant == "0") {
    *out = std::string(Digit(table, 0)) + (money ? kYuan : "");
    return true;
  }
  if (significant.size() > kMaxIntegerDigits) return false;

  std::string result;
  bool zero_pending = false;
  size_t group_count = (significant.size() + kGroupSize - 1) / kGroupSize;
  size_t head = significant.size() - (group_count - 1) * kGroupSize;
  for (size_t g = 0; g < group_count; ++g) {
    size_t start = g == 0 ? 0 : head + (g - 1) * kGroupSize;
    std::string_view group = significant.substr(start, g == 0 ? head : kGroupSize);
    int value = 0;
    for (char c : group) value = value * 10 + (c - '0');
    if (value != 0) {
      if (zero_pending || (!result.empty() && group.size() == kGroupSize && value < 1000)) {
        result += Digit(table, 0);
      }
      result += ConvertGroup(group, table);
      result += kGroupUnits[group_count - 1 - g];
      zero_pending = false;
    } else if (!result.empty()) {
      zero_pending = true;
    }
  }
  if (table == NumeralTable::Lower && !money && result.starts_with(kLowerTen)) {
    result.erase(0, std::string_view(kLowerDigits[1]).size());
  }
  if (money) result += kYuan;
  *out = std::move(result);
  return true;
}

PluginPage ChineseNumeralPage(std::string_view argument) {
  PluginPage page;
  if (argument.empty() || argument.size() > kMaxArgumentLength) return page;
  if (!std::all_of(argument.begin(), argument.end(),
                   [](char c) { return IsAsciiDigit(c) || c == '.'; }) ||
      std::count(argument.begin(), argument.end(), '.') > 1) {
    return page;
  }
  size_t dot = argument.find('.');
  std::string_view integer = argument.substr(0, dot);
  std::string_view decimals =
      dot == std::string_view::npos ? std::string_view() : argument.substr(dot + 1);

  struct Form {
    NumeralTable table;
    bool money;
    const char* label;
  };
  constexpr Form kForms[] = {{NumeralTable::Lower, false, "〔數字小寫〕"},
                             {NumeralTable::Upper, false, "〔數字大寫〕"},
                             {NumeralTable::Lower, true, "〔金額小寫〕"},
                             {NumeralTable::Upper, true, "〔金額大寫〕"}};
  // The digit keys keep typing on this page, as on the code point and calculator pages: were
  // they to choose items, the second digit of 12 would commit item 2 and no number of two
  // digits could ever be typed.
  page.digits_as_input = true;
  for (const Form& form : kForms) {
    std::string text;
    if (!ConvertChineseInteger(integer, form.table, form.money, &text)) return PluginPage{};
    if (!form.money) {
      if (!decimals.empty()) {
        text += kPoint;
        for (char c : decimals) text += Digit(form.table, c - '0');
      }
    } else {
      bool added = false;
      for (size_t i = 0; i < decimals.size() && i < std::size(kMoneyUnits); ++i) {
        if (decimals[i] == '0') continue;
        text += Digit(form.table, decimals[i] - '0');
        text += kMoneyUnits[i];
        added = true;
      }
      if (!added) text += kWhole;
    }
    page.items.push_back(CommitItem(std::move(text), form.label));
  }
  return page;
}

}  // namespace kavi::win
