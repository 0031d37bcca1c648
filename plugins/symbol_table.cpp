// SPDX-License-Identifier: Apache-2.0
#include "plugins/symbol_table.h"

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

struct Category {
  const char* code;
  const char* name;
};

// The `fh` page in display order.
constexpr Category kCategories[] = {
    {"fh", "符號"},       {"dn", "電腦"},          {"xq", "象棋"},    {"mj", "麻將"},
    {"sz", "色子"},       {"pk", "撲克"},          {"bq", "表情"},    {"tq", "天氣"},
    {"yy", "音樂"},       {"lx", "兩性"},          {"bg", "八卦"},    {"bgm", "八卦名"},
    {"lssg", "六十四卦"}, {"lssgm", "六十四卦名"}, {"txj", "太玄經"}, {"sx", "數學"},
    {"jh", "幾何"},       {"jt", "箭頭"},          {"fk", "方框"},    {"pp", "偏旁"},
    {"bd", "標點"},       {"dw", "單位"},          {"hb", "貨幣"},    {"ts", "特殊"},
    {"xh", "序號"},       {"xl", "希臘"},          {"ey", "俄語"},    {"rb", "日文"},
    {"pf", "拼音附標"},   {"hz", "漢語注音"},
};

constexpr size_t kListPreview = 3;    // symbols shown per row of the category list
constexpr size_t kPrefixPreview = 5;  // symbols shown per category offered by prefix
constexpr char kEllipsis[] = "…";

std::string Preview(const std::vector<std::string>& symbols, size_t count) {
  std::string text;
  for (size_t i = 0; i < symbols.size() && i < count; ++i) text += symbols[i];
  if (symbols.size() > count) text += kEllipsis;
  return text;
}

PluginItem CategoryItem(std::string text, const std::string& code) {
  return PluginItem{std::move(text), code, static_cast<uint32_t>(PluginItemKind::OpenCategory),
                    code};
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool SymbolTable::Parse(std::string_view text) {
  categories_.clear();
  for (std::string_view line : SplitLines(text)) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    std::vector<std::string> symbols;
    std::string_view rest = line.substr(tab + 1);
    size_t i = 0;
    while (i < rest.size()) {
      while (i < rest.size() && IsSpace(rest[i])) ++i;
      size_t start = i;
      while (i < rest.size() && !IsSpace(rest[i])) ++i;
      if (i > start) symbols.emplace_back(rest.substr(start, i - start));
    }
    categories_[std::string(line.substr(0, tab))] = std::move(symbols);
  }
  return !categories_.empty();
}

PluginPage SymbolTable::Page(std::string_view argument) const {
  PluginPage page;
  if (argument.empty()) {
    for (const Category& category : kCategories) {
      auto it = categories_.find(category.code);
      if (it == categories_.end() || it->second.empty()) continue;
      page.items.push_back(CategoryItem(
          std::string(category.name) + " " + Preview(it->second, kListPreview), it->first));
    }
    return page;
  }
  auto exact = categories_.find(std::string(argument));
  if (exact != categories_.end()) {
    for (const std::string& symbol : exact->second) {
      page.items.push_back(CommitItem(symbol, exact->first));
    }
  }
  for (auto it = categories_.lower_bound(std::string(argument));
       it != categories_.end() && it->first.starts_with(argument); ++it) {
    if (it == exact || it->second.empty()) continue;
    page.items.push_back(CategoryItem(Preview(it->second, kPrefixPreview), it->first));
  }
  return page;
}

}  // namespace kavi::win
