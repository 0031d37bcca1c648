// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_engine.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "plugins/calculator.h"
#include "plugins/chinese_numerals.h"
#include "plugins/code_point_command.h"
#include "plugins/date_time_command.h"
#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr char kEmojiFile[] = "emoji.txt";
constexpr char kSymbolFile[] = "symbols.txt";
constexpr char kComponentFile[] = "radical_pinyin.txt";
constexpr char kComponentFullFile[] = "radical_pinyin_full.txt";
constexpr char kPinyinFile[] = "pinyin_lookup.txt";
constexpr char kLunarFile[] = "lunar_data.txt";

constexpr char kEmojiCannotLoad[] = "[Kavi] 無法載入 emoji 插件資料";
constexpr char kEmojiInvalid[] = "[Kavi] emoji 插件資料無效";
constexpr char kSymbolCannotLoad[] = "[Kavi] 無法載入符號插件資料";
constexpr char kSymbolInvalid[] = "[Kavi] 符號插件資料無效";
constexpr char kComponentCannotLoad[] = "[Kavi] 無法載入部件插件資料";
constexpr char kComponentInvalid[] = "[Kavi] 部件插件資料無效";
constexpr char kPinyinCannotLoad[] = "[Kavi] 無法載入拼音反查資料";
constexpr char kLunarCannotLoad[] = "[Kavi] 無法載入農曆插件資料";
constexpr char kLunarBadRecord[] = "[Kavi] 農曆插件資料解析失敗";
constexpr char kLunarWrongCount[] = "[Kavi] 農曆插件資料筆數無效";

constexpr char kNeedsOperator[] = "輸入運算符";
constexpr char kUuidComment[] = "UUID";
constexpr char kComponentHint[] = "輸入部件拼音查字";
constexpr char kComponentHintComment[] = "如：`uunv 查含「女」的字";

constexpr char kTranslateText[] = "🌐 剪貼板翻譯";
constexpr char kTranslateCommentPrefix[] = "translate:";

constexpr char kNotPairedText[] = "🔐 未登錄或登錄過期";
constexpr char kNotPairedComment[] = "請先在設置中配對";
constexpr char kLoadingText[] = "⏳ 載入中...";
constexpr char kLoadingComment[] = "正在獲取 2FA 列表";
constexpr char kLockedPrefix[] = "🔒 ";
constexpr char kUnlockedPrefix[] = "🔐 ";
constexpr char kLockedComment[] = "仍可請求驗證碼";
constexpr char kNoMatchText[] = "🔐 無匹配的 2FA 條目";
constexpr char kNoMatchComment[] = "請調整篩選字元";
constexpr char kNoEntriesText[] = "🔐 無 2FA 條目";
constexpr char kNoEntriesComment[] = "請在手機端添加";

PluginItem MakeItem(std::string text, std::string comment, PluginItemKind kind,
                    std::string payload = {}) {
  return PluginItem{std::move(text), std::move(comment), static_cast<uint32_t>(kind),
                    std::move(payload)};
}

bool IsDigitsOnly(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
  }
  return true;
}

// The numerals, dates and lunar dates are written in Traditional Chinese (萬, 點, 臘月, 閏,
// 禮拜); a user whose output is simplified gets them converted like the engine's own output.
PluginPage InOutputScript(PluginPage page, const PluginContext& context) {
  if (!context.to_simplified) return page;
  for (PluginItem& item : page.items) {
    item.text = context.to_simplified(item.text);
    if (!item.comment.empty()) item.comment = context.to_simplified(item.comment);
  }
  return page;
}

}  // namespace

std::string TranslationTarget(std::string_view query, bool prefer_traditional) {
  static const std::set<std::string, std::less<>> kCodes = {
      "dict", "tw", "cn", "hk", "wyw", "bhw", "en", "jp", "kr", "vn", "th", "id",
      "my",   "in", "de", "fr", "es",  "pt",  "it", "nl", "pl", "ru", "ua", "tr",
      "se",   "dk", "no", "fi", "cz",  "gr",  "ro", "hu", "sa", "il"};
  if (query == "zh") return prefer_traditional ? "tw" : "cn";
  if (query == "zt") return "tw";
  if (query == "jt") return "cn";
  if (query == "fy") return "en";
  if (query == "cd") return "dict";
  return kCodes.contains(query) ? std::string(query) : std::string();
}

PluginPage TwoFactorPage(std::string_view filter, const PluginContext& context) {
  PluginPage page;
  page.two_factor_page = true;
  if (!context.gk_paired) {
    page.items.push_back(MakeItem(kNotPairedText, kNotPairedComment, PluginItemKind::Info));
    return page;
  }
  if (!context.gk_list_ready) {
    page.items.push_back(MakeItem(kLoadingText, kLoadingComment, PluginItemKind::LoadTwoFactor));
    page.auto_action = true;
    return page;
  }
  for (const TwoFactorEntry& entry : context.two_factor_entries) {
    std::string key = AsciiLower(entry.name + " " + entry.account);
    bool listed = true;
    for (char c : filter) listed = listed && key.find(c) != std::string::npos;
    if (!listed) continue;
    std::string text = (entry.locked ? kLockedPrefix : kUnlockedPrefix) + entry.name;
    if (!entry.account.empty()) text += " (" + entry.account + ")";
    page.items.push_back(MakeItem(std::move(text), entry.locked ? kLockedComment : "",
                                  PluginItemKind::RequestCode, entry.id));
  }
  if (page.items.empty()) {
    page.items.push_back(filter.empty()
                             ? MakeItem(kNoEntriesText, kNoEntriesComment, PluginItemKind::Info)
                             : MakeItem(kNoMatchText, kNoMatchComment, PluginItemKind::Info));
  }
  return page;
}

PluginEngine::PluginEngine(std::filesystem::path plugin_dir, LogSink log)
    : plugin_dir_(std::move(plugin_dir)), log_(std::move(log)) {}

PluginPage PluginEngine::HelpPage() {
  PluginPage page;
  for (const char* line : {"`rq 日期  `sj 時間  `xq 星期", "`1+2 計算器  `dx 數字大寫",
                           "`fh 符號  `uu 部件拆字", "`en/jp/kr 翻譯  `joy Emoji"}) {
    page.items.push_back(CommitItem(line));
  }
  page.digits_as_input = true;
  return page;
}

PluginPage PluginEngine::Query(std::string_view query, const PluginContext& context) {
  std::lock_guard lock(mutex_);
  return Dispatch(query, context);
}

PluginPage PluginEngine::Dispatch(std::string_view query, const PluginContext& context) {
  if (query.empty()) return HelpPage();
  const std::string lower = AsciiLower(query);

  PluginPage page = DateTimePage(lower, context.now);
  if (!page.items.empty()) return InOutputScript(std::move(page), context);

  if (lower.starts_with("uuid") && !context.uuid.empty()) {
    page.items.push_back(CommitItem(context.uuid, kUuidComment));
    return page;
  }
  if (query.starts_with('U')) {
    return query.size() >= 2 ? CodePointPage(query.substr(1)) : HelpPage();
  }
  if (lower.starts_with("dx")) {
    return lower.size() >= 3
               ? InOutputScript(ChineseNumeralPage(std::string_view(lower).substr(2)), context)
               : HelpPage();
  }
  if (lower.starts_with("2fa")) return TwoFactorPage(std::string_view(lower).substr(3), context);

  // "+1" and "-1" are emoji keywords, not unfinished sums: they fall through to the emoji search.
  char first = lower[0];
  if (IsAsciiDigit(first) || first == '(' || first == '-' || first == '+') {
    page = CalculatorPage(lower);
    if (!page.items.empty()) return page;
    if (!((first == '+' || first == '-') && IsDigitsOnly(lower.substr(1)))) {
      page.items.push_back(CommitItem(lower, kNeedsOperator));
      page.digits_as_input = true;
      return page;
    }
  }
  if (lower.starts_with("hl")) return InOutputScript(LunarPage(lower, context.now), context);
  if (lower.starts_with("uu")) {
    return ComponentPage(std::string_view(lower).substr(2), context.full_components);
  }
  if (lower.starts_with("fh")) return SymbolPage(std::string_view(lower).substr(2));

  std::string target = TranslationTarget(lower, context.prefer_traditional);
  if (!target.empty()) {
    page.items.push_back(MakeItem(kTranslateText, kTranslateCommentPrefix + target,
                                  PluginItemKind::TranslateClipboard, target));
    return page;
  }
  if ((first >= 'a' && first <= 'z') || first == '_' || first == '+' || first == '-') {
    return EmojiPage(lower);
  }
  return HelpPage();
}

PluginPage PluginEngine::EmojiPage(std::string_view query) {
  if (!emoji_) {
    std::string text;
    if (!ReadFile(kEmojiFile, kEmojiCannotLoad, kEmojiInvalid, &text)) return {};
    EmojiTable table;
    if (!table.Parse(text)) {
      Log(kEmojiInvalid);
      return {};
    }
    emoji_ = std::move(table);
  }
  return emoji_->Search(query);
}

PluginPage PluginEngine::SymbolPage(std::string_view argument) {
  if (!symbols_) {
    std::string text;
    if (!ReadFile(kSymbolFile, kSymbolCannotLoad, kSymbolInvalid, &text)) return {};
    SymbolTable table;
    if (!table.Parse(text)) {
      Log(kSymbolInvalid);
      return {};
    }
    symbols_ = std::move(table);
  }
  return symbols_->Page(argument);
}

PluginPage PluginEngine::ComponentPage(std::string_view argument, bool full) {
  if (!components_ || components_full_ != full) {
    components_.reset();
    std::string text;
    if (!ReadFile(full ? kComponentFullFile : kComponentFile, kComponentCannotLoad,
                  kComponentInvalid, &text)) {
      return {};
    }
    ComponentTable table;
    if (!table.Parse(text)) {
      Log(kComponentInvalid);
      return {};
    }
    components_ = std::move(table);
    components_full_ = full;
  }
  if (!pinyin_) {
    std::string text;
    PinyinLookup lookup;
    if (ReadFile(kPinyinFile, kPinyinCannotLoad, {}, &text) && lookup.Parse(text)) {
      pinyin_ = std::move(lookup);
    }
  }

  PluginPage page;
  if (argument.empty()) {
    page.items.push_back(CommitItem(kComponentHint, kComponentHintComment));
    return page;
  }
  for (std::string& character : components_->Lookup(argument)) {
    std::string reading(pinyin_ ? pinyin_->Reading(character) : std::string_view());
    page.items.push_back(CommitItem(std::move(character), std::move(reading)));
  }
  return page;
}

PluginPage PluginEngine::LunarPage(std::string_view query, int64_t now) {
  if (!lunar_) {
    std::string text;
    if (!ReadFile(kLunarFile, kLunarCannotLoad, kLunarBadRecord, &text)) return {};
    LunarTable table;
    LunarTable::ParseError error;
    if (!table.Parse(text, &error)) {
      Log(error == LunarTable::ParseError::WrongCount ? kLunarWrongCount : kLunarBadRecord);
      return {};
    }
    lunar_ = std::move(table);
  }
  return lunar_->Page(query, now);
}

bool PluginEngine::ReadFile(const char* name, std::string_view cannot_open,
                            std::string_view invalid, std::string* text) {
  std::ifstream file(plugin_dir_ / name, std::ios::binary);
  if (!file.is_open()) {
    Log(cannot_open);
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    if (!invalid.empty()) Log(invalid);
    return false;
  }
  *text = std::move(content).str();
  return true;
}

void PluginEngine::Log(std::string_view line) {
  if (log_) {
    log_(line);
    return;
  }
  std::string text(line);
  text += '\n';
  std::fputs(text.c_str(), stderr);
}

}  // namespace kavi::win
