// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window_pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "config/language_tables.h"
#include "net/service_endpoints.h"
#include "tools/settings/pinyin_settings.h"

namespace kavi::win {

namespace {

constexpr WindowPageInfo kPages[] = {
    {WindowPage::kInput, "input", "輸入", "input-keyboard-symbolic"},
    {WindowPage::kAppearance, "appearance", "外觀", "preferences-desktop-appearance-symbolic"},
    {WindowPage::kVoice, "voice", "語音", "audio-input-microphone-symbolic"},
    {WindowPage::kAccount, "account", "帳號", "avatar-default-symbolic"},
    {WindowPage::kDictionary, "dictionary", "詞庫", "accessories-dictionary-symbolic"},
    {WindowPage::kPacks, "packs", "方案包", "package-x-generic-symbolic"},
    {WindowPage::kNetwork, "network", "網路", "preferences-system-network-symbolic"},
    {WindowPage::kAbout, "about", "關於", "help-about-symbolic"},
};

// The key the window shows only as a fact (on the about page), never as a control.
constexpr std::string_view kVersionKey = "config_version";

SettingRow Colour(std::string_view key, std::string_view title) {
  return {key, title, "", false, {}, {}, RowControl::kColour};
}

SettingRow Picture(std::string_view key, std::string_view title, std::string_view subtitle) {
  return {key, title, subtitle, false, {}, {}, RowControl::kImageFile};
}

std::vector<PageSection> PlacedSections(WindowPage page) {
  using K = SectionKind;
  switch (page) {
    case WindowPage::kInput:
      return {
          {K::kScheme, "方案", "", {{"schema", "輸入方案", "切換後立即生效"}}},
          {K::kSettings,
           "候選詞",
           "",
           {{"page_size", "每頁候選數", "5 到 16 個"},
            {"horizontal", "排列方式", "", false, "橫排", "直排"},
            {"inline_preedit", "在文字中顯示輸入碼", "輸入碼顯示在游標處，而不是候選窗上方"}}},
          {K::kSettings,
           "輸出",
           "",
           {{"charset", "輸出字形", ""},
            {"full_width", "全形字元", "字母、數字與標點以全形輸出"},
            {"ext_cjk", "擴充字集", "候選包含 CJK 擴充區的罕用字"}}},
          {K::kSettings,
           "中英文切換",
           "",
           {{"shift_toggle", "以 Shift 切換中英文", ""},
            {"caps_lock_mode", "Caps Lock 鍵", ""},
            {"melt_english", "中英混輸", "中文模式下也能直接輸入英文單字"}}},
          {K::kFuzzySounds,
           "模糊音",
           "分不清的音可以任打一個，例如 z 也找得到 zh 的字",
           {{kFuzzyKey, "模糊音", "用於所有拼音方案（全拼與雙拼）"}}},
          {K::kSettings,
           "輸入輔助",
           "",
           {{"prediction", "聯想詞", "送出文字後提示可能接著輸入的詞"},
            {"stroke_keys", "筆畫鍵", "橫、豎、撇、點、折依序對應的五個字母"}}},
          {K::kSettings,
           "按鍵音",
           "",
           {{"key_sound", "按鍵音", ""},
            {"key_sound_type", "聲音", ""},
            {"key_sound_volume", "音量", "0 到 100"}}},
          {K::kSettings,
           "翻譯",
           "",
           {{"translate_target_lang", "翻譯成", "工具列的翻譯按鈕與翻譯命令都譯成這個語言"}}},
          {K::kSettings, "啟動", "", {{"autostart", "登入時啟動輸入服務", ""}}},
      };
    case WindowPage::kAppearance:
      return {
          {K::kThemeGallery,
           "主題",
           "點選主題即套用；候選窗會在主題旁顯示範例",
           {{"theme", "主題", ""}}},
          {K::kDarkMode, "深色模式", "", {}},
          {K::kSettings,
           "候選窗",
           "",
           {Picture("candidate_bg_image_path", "背景圖片", "PNG 或 JPEG；不設定則用主題的背景色")}},
          {K::kSettings,
           "狀態列",
           "",
           {{"status_bar_follow_theme", "跟隨主題配色", "主題有狀態列配色時，使用主題的顏色"},
            Colour("status_bar_back_color", "背景色"),
            Colour("status_bar_border_color", "邊框色"),
            Colour("status_bar_text_color", "文字色"),
            Colour("status_bar_hilited_back_color", "醒目背景色"),
            Colour("status_bar_hilited_text_color", "醒目文字色"),
            {"status_bar_corner_radius", "圓角半徑", "0 到 20 像素"},
            Picture("status_bar_bg_image_path", "背景圖片", "不設定則不用圖片")}},
      };
    case WindowPage::kVoice:
      return {
          {K::kSettings,
           "語音輸入",
           "",
           {{"voice_engine", "辨識引擎", ""},
            {"voice_output_language", "輸出語言", "辨識結果轉換成的語言或字形"},
            {"voice_polish", "潤飾文字", "由 Kavi 服務整理標點與贅字"},
            {"voice_bilingual", "雙語輸出", "同時輸出原文與譯文"}}},
          {K::kVoiceModels, "語音模型", "辨識在本機進行，需要先下載所選引擎的模型", {}},
      };
    case WindowPage::kAccount:
      return {{K::kCompanion, "GateKite", "與 GateKite 配對後，可以在輸入時取得二步驗證碼", {}}};
    case WindowPage::kDictionary:
      return {
          {K::kMaintenance, "維護", "", {}},
          {K::kBackups, "備份", "每次同步都會把使用者詞庫備份到以時間命名的資料夾", {}},
      };
    case WindowPage::kPacks:
      return {
          {K::kSchemeCatalogue, "已有的方案", "", {}},
          {K::kSchemePacks, "可下載的方案包", "", {}},
      };
    case WindowPage::kNetwork:
      return {
          {K::kEndpoints,
           "服務地址",
           "留空則恢復預設值",
           {{kServiceBaseUrlKey, "Kavi 服務", "雲端詞、翻譯、語音潤飾、模型與更新"},
            {kCompanionBaseUrlKey, "GateKite 服務", "配對與二步驗證碼"},
            {kExtraCaBundleKey,
             "額外的 CA 憑證",
             "自架服務的憑證機構（PEM 檔案）",
             false,
             {},
             {},
             RowControl::kFile}}},
          {K::kCloudWords, "雲端詞", "", {{"cloud_input", "使用雲端詞", ""}}},
      };
    case WindowPage::kAbout:
      return {
          {K::kVersion, "", "", {}},
          {K::kProgramState, "", "", {}},
          {K::kPendingUpdate,
           "更新",
           "",
           {{"disable_auto_update_check", "每天自動檢查更新", "", true}}},
          {K::kLicences, "授權", "", {}},
      };
  }
  return {};
}

// The window page of a command-line page: the window page of the same name, else input.
WindowPage PageOfCommandLinePage(std::string_view name) {
  for (const WindowPageInfo& info : kPages) {
    if (info.name == name) return info.page;
  }
  return WindowPage::kInput;
}

std::set<std::string_view> PlacedKeys() {
  std::set<std::string_view> keys = {kVersionKey};
  for (const WindowPageInfo& info : kPages) {
    for (const PageSection& section : PlacedSections(info.page)) {
      for (const SettingRow& row : section.rows) keys.insert(row.key);
    }
  }
  return keys;
}

}  // namespace

std::span<const WindowPageInfo> WindowPages() {
  return kPages;
}

const WindowPageInfo& PageInfo(WindowPage page) {
  for (const WindowPageInfo& info : kPages) {
    if (info.page == page) return info;
  }
  return kPages[0];
}

std::optional<WindowPage> WindowPageNamed(std::string_view name) {
  for (const WindowPageInfo& info : kPages) {
    if (info.name == name) return info.page;
  }
  for (const SettingsPage& page : SettingsPages()) {
    if (page.name != name) continue;
    for (const SettingKey& key : SettingKeys()) {
      if (key.page != name) continue;
      if (std::optional<RowPlace> place = FindRow(key.name)) return place->page;
    }
    return PageOfCommandLinePage(name);
  }
  return std::nullopt;
}

std::vector<PageSection> PageSections(WindowPage page) {
  std::vector<PageSection> sections = PlacedSections(page);
  const std::set<std::string_view> placed = PlacedKeys();
  PageSection others{SectionKind::kSettings, "其他", "", {}};
  for (const SettingKey& key : SettingKeys()) {
    if (placed.count(key.name) || PageOfCommandLinePage(key.page) != page) continue;
    others.rows.push_back({key.name, key.name, ""});
  }
  if (!others.rows.empty()) sections.push_back(std::move(others));
  return sections;
}

std::optional<RowPlace> FindRow(std::string_view key) {
  for (const WindowPageInfo& info : kPages) {
    for (const PageSection& section : PageSections(info.page)) {
      for (const SettingRow& row : section.rows) {
        if (row.key == key) return RowPlace{info.page, row};
      }
    }
  }
  return std::nullopt;
}

std::vector<ChoiceItem> ChoiceItems(const SettingKey& key) {
  static const std::pair<std::string_view, std::string_view> kLabels[] = {
      {"zhs", "简体中文"},
      {"zht", "繁體中文"},
      {"switch", "切換中英文"},
      {"lock", "鎖定大寫"},
      {"senseVoice", "SenseVoice"},
      {"qwen3", "Qwen3"},
      {"key14", "輕觸"},
      {"key28", "打字機"},
      {"key30", "機械鍵盤"},
      {"key31", "氣泡"},
      {"key32", "木琴"},
      {"key33", "玻璃"},
      {"key34", "筆電鍵盤"},
      {"key35", "木魚"},
      {"key36", "水滴"},
      {"key37", "拇指琴"},
      {"key38", "復古電玩"},
  };
  std::vector<ChoiceItem> items;
  if (key.choices == nullptr) return items;
  std::span<const LanguageEntry> languages;
  if (key.name == "voice_output_language") languages = server::VoiceOutputLanguages();
  if (key.name == "translate_target_lang") languages = server::TranslateTargetLanguages();
  for (std::string_view value : key.choices()) {
    std::string label(value);
    for (const LanguageEntry& entry : languages) {
      if (entry.code == value) label = entry.display_name;
    }
    for (const auto& [known, words] : kLabels) {
      if (languages.empty() && known == value) label = words;
    }
    items.push_back({std::string(value), label});
  }
  return items;
}

std::string FormatSettingColour(const StyleColor& colour) {
  auto byte = [](float component) {
    return static_cast<unsigned>(std::lround(std::clamp(component, 0.0f, 1.0f) * 255));
  };
  char text[16];
  if (byte(colour.a) == 255) {
    std::snprintf(text, sizeof text, "0x%02X%02X%02X", byte(colour.b), byte(colour.g),
                  byte(colour.r));
  } else {
    std::snprintf(text, sizeof text, "0x%02X%02X%02X%02X", byte(colour.a), byte(colour.b),
                  byte(colour.g), byte(colour.r));
  }
  return text;
}

}  // namespace kavi::win
