// SPDX-License-Identifier: Apache-2.0
#include "config/language_tables.h"

#include <algorithm>
#include <array>

namespace kavi::win::server {

namespace {

constexpr std::array<LanguageEntry, 33> kVoiceOutputLanguages = {{
    {"follow", "跟隨設定"}, {"cn", "簡體中文"},   {"tw", "正體中文"},   {"hk", "粵語"},
    {"wyw", "文言文"},      {"en", "English"},    {"jp", "日本語"},     {"kr", "한국어"},
    {"vn", "Tiếng Việt"},   {"th", "ไทย"},        {"id", "Indonesia"},  {"my", "Melayu"},
    {"in", "हिन्दी"},        {"de", "Deutsch"},    {"fr", "Français"},   {"es", "Español"},
    {"pt", "Português"},    {"it", "Italiano"},   {"nl", "Nederlands"}, {"pl", "Polski"},
    {"ru", "Русский"},      {"ua", "Українська"}, {"tr", "Türkçe"},     {"se", "Svenska"},
    {"dk", "Dansk"},        {"no", "Norsk"},      {"fi", "Suomi"},      {"cz", "Čeština"},
    {"gr", "Ελληνικά"},     {"ro", "Română"},     {"hu", "Magyar"},     {"sa", "العربية"},
    {"il", "עברית"},
}};

// From "en" on, the rows repeat the voice table's names.
constexpr size_t kSharedFromVoiceRow = 5;

constexpr std::array<LanguageEntry, 32> MakeTranslateTargets() {
  std::array<LanguageEntry, 32> table{};
  table[0] = {"dict", "📖 詞典"};
  table[1] = {"wyw", "文言文"};
  table[2] = {"bhw", "白話文"};
  constexpr std::string_view kOrder[] = {"en", "jp", "kr", "hk", "vn", "th", "id", "my", "in", "de",
                                         "fr", "es", "pt", "it", "nl", "pl", "ru", "ua", "tr", "se",
                                         "dk", "no", "fi", "cz", "gr", "ro", "hu", "sa", "il"};
  size_t row = 3;
  for (std::string_view code : kOrder) {
    for (const LanguageEntry& entry : kVoiceOutputLanguages) {
      if (entry.code == code) table[row] = entry;
    }
    ++row;
  }
  return table;
}

constexpr std::array<LanguageEntry, 32> kTranslateTargets = MakeTranslateTargets();

static_assert(kVoiceOutputLanguages[kSharedFromVoiceRow].code == "en");
static_assert(kTranslateTargets[3].display_name == "English");
static_assert(kTranslateTargets[31].display_name == "עברית");

bool Contains(std::span<const LanguageEntry> table, std::string_view code) {
  return std::any_of(table.begin(), table.end(),
                     [code](const LanguageEntry& entry) { return entry.code == code; });
}

}  // namespace

std::span<const LanguageEntry> VoiceOutputLanguages() {
  return kVoiceOutputLanguages;
}
std::span<const LanguageEntry> TranslateTargetLanguages() {
  return kTranslateTargets;
}

bool IsVoiceOutputLanguage(std::string_view code) {
  return Contains(kVoiceOutputLanguages, code);
}
bool IsTranslateTargetLanguage(std::string_view code) {
  return Contains(kTranslateTargets, code);
}

}  // namespace kavi::win::server
