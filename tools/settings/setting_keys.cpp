// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/setting_keys.h"

#include <algorithm>
#include <array>

#include "config/json.h"
#include "config/language_tables.h"
#include "text/utf8.h"

namespace kavi::win {

namespace {

constexpr SettingFile kConfig = SettingFile::kConfig;
constexpr SettingFile kApp = SettingFile::kAppOptions;
constexpr auto kEngine = &ConfigRecord::engine;
constexpr auto kOptions = &ConfigRecord::app;
// The toggle writes these two; the server treats anything but "zhs" as traditional.
constexpr std::string_view kCharsets[] = {"zhs", "zht"};

template <size_t N>
std::string JoinChoices(const std::string_view (&choices)[N]) {
  std::string text;
  for (std::string_view choice : choices) {
    if (!text.empty()) text += " | ";
    text += choice;
  }
  return text;
}

std::string JoinLanguages(std::span<const LanguageEntry> table) {
  std::string text;
  for (const LanguageEntry& entry : table) {
    if (!text.empty()) text += " | ";
    text += std::string(entry.code) + " " + std::string(entry.display_name);
  }
  return text;
}

template <const auto& Choices>
std::vector<std::string_view> ChoicesOf() {
  return {std::begin(Choices), std::end(Choices)};
}

template <std::span<const LanguageEntry> (*Table)()>
std::vector<std::string_view> LanguageCodes() {
  std::vector<std::string_view> codes;
  for (const LanguageEntry& entry : Table()) codes.push_back(entry.code);
  return codes;
}

template <size_t N>
bool OneOf(std::string_view text, const std::string_view (&choices)[N]) {
  return std::find(std::begin(choices), std::end(choices), text) != std::end(choices);
}

// ---- What each key accepts.

std::string AllowedBool() {
  return "true | false";
}
std::string AllowedName() {
  return "a non-empty name";
}
std::string AllowedPath() {
  return "a file path, or empty";
}
std::string AllowedColour() {
  return "0xBBGGRR or 0xAABBGGRR (hex digits)";
}
std::string AllowedCharset() {
  return JoinChoices(kCharsets);
}
std::string AllowedKeySoundType() {
  return JoinChoices(AppOptions::kKeySoundTypes);
}
std::string AllowedVoiceEngine() {
  return JoinChoices(AppOptions::kVoiceEngines);
}
std::string AllowedCapsLockMode() {
  return JoinChoices(AppOptions::kCapsLockModes);
}
std::string AllowedVoiceLanguage() {
  return JoinLanguages(server::VoiceOutputLanguages());
}
std::string AllowedTranslateTarget() {
  return JoinLanguages(server::TranslateTargetLanguages());
}
std::string AllowedStrokeKeys() {
  return "five different letters (folded to lower case)";
}
std::string AllowedVersion() {
  return "read only";
}

bool AnyName(std::string_view) {
  return true;
}
bool IsCharset(std::string_view text) {
  return OneOf(text, kCharsets);
}
bool IsKeySoundType(std::string_view text) {
  return OneOf(text, AppOptions::kKeySoundTypes);
}
bool IsVoiceEngine(std::string_view text) {
  return OneOf(text, AppOptions::kVoiceEngines);
}
bool IsCapsLockMode(std::string_view text) {
  return OneOf(text, AppOptions::kCapsLockModes);
}

bool IsColour(std::string_view text) {
  if (text.size() != 8 && text.size() != 10) return false;
  if (text.substr(0, 2) != "0x") return false;
  return std::all_of(text.begin() + 2, text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

// ---- Readers and writers of one field; Part is &ConfigRecord::engine or ::app.

template <auto Part, auto Field>
std::string GetBool(const ConfigRecord& record) {
  return (record.*Part).*Field ? "true" : "false";
}

template <auto Part, auto Field>
bool SetBool(std::string_view text, ConfigRecord* record, std::string* reason) {
  if (text != "true" && text != "false") {
    *reason = "must be true or false";
    return false;
  }
  (record->*Part).*Field = text == "true";
  return true;
}

template <auto Part, auto Field>
std::string GetInt(const ConfigRecord& record) {
  return std::to_string((record.*Part).*Field);
}

template <int32_t Min, int32_t Max>
std::string AllowedInt() {
  return "an integer from " + std::to_string(Min) + " to " + std::to_string(Max);
}

template <auto Part, auto Field, int32_t Min, int32_t Max>
bool SetInt(std::string_view text, ConfigRecord* record, std::string* reason) {
  std::string_view digits = text;
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.remove_prefix(1);
  int64_t value = 0;
  bool ok = !digits.empty() && digits.size() <= 10;
  for (char c : digits) {
    ok = ok && c >= '0' && c <= '9';
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (!ok || value < Min || value > Max) {
    *reason = "must be " + AllowedInt<Min, Max>();
    return false;
  }
  (record->*Part).*Field = static_cast<int32_t>(value);
  return true;
}

template <auto Part, auto Field>
std::string GetText(const ConfigRecord& record) {
  return (record.*Part).*Field;
}

// Printable UTF-8 that passes `Check`: the files hold one value per line.
template <auto Part, auto Field, bool (*Check)(std::string_view), std::string (*Allowed)(),
          bool AllowEmpty>
bool SetText(std::string_view text, ConfigRecord* record, std::string* reason) {
  if (!AllowEmpty && text.empty()) {
    *reason = "must not be empty";
  } else if (!IsValidUtf8(text)) {
    *reason = "must be valid UTF-8";
  } else if (std::any_of(text.begin(), text.end(),
                         [](char c) { return static_cast<uint8_t>(c) < 0x20; })) {
    *reason = "must not contain control characters";
  } else if (!Check(text)) {
    *reason = "must be " + Allowed();
  } else {
    (record->*Part).*Field = std::string(text);
    return true;
  }
  return false;
}

template <auto Part, auto Field>
constexpr SettingKey BoolKey(std::string_view name, SettingFile file, std::string_view page) {
  return {name,
          file,
          page,
          GetBool<Part, Field>,
          SetBool<Part, Field>,
          AllowedBool,
          SettingType::kSwitch};
}

template <auto Part, auto Field, int32_t Min, int32_t Max>
constexpr SettingKey IntKey(std::string_view name, SettingFile file, std::string_view page) {
  return {name,
          file,
          page,
          GetInt<Part, Field>,
          SetInt<Part, Field, Min, Max>,
          AllowedInt<Min, Max>,
          SettingType::kNumber,
          Min,
          Max};
}

template <auto Part, auto Field, bool (*Check)(std::string_view), std::string (*Allowed)(),
          bool AllowEmpty = false>
constexpr SettingKey TextKey(std::string_view name, SettingFile file, std::string_view page) {
  return {
      name,   file, page, GetText<Part, Field>, SetText<Part, Field, Check, Allowed, AllowEmpty>,
      Allowed};
}

// A text key whose values are exactly `Choices()`.
template <auto Part, auto Field, bool (*Check)(std::string_view), std::string (*Allowed)(),
          std::vector<std::string_view> (*Choices)()>
constexpr SettingKey ChoiceKey(std::string_view name, SettingFile file, std::string_view page) {
  SettingKey key = TextKey<Part, Field, Check, Allowed>(name, file, page);
  key.type = SettingType::kChoice;
  key.choices = Choices;
  return key;
}

// ---- Keys with rules of their own.

std::string GetVersion(const ConfigRecord& record) {
  return std::to_string(record.engine.config_version);
}

bool RefuseVersion(std::string_view, ConfigRecord*, std::string* reason) {
  *reason = "is managed by KaviSettings: it goes up by one with every save";
  return false;
}

bool SetStrokeKeys(std::string_view text, ConfigRecord* record, std::string* reason) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  bool ok = folded.size() == 5;
  for (size_t i = 0; ok && i < folded.size(); ++i) {
    ok = folded[i] >= 'a' && folded[i] <= 'z' && folded.find(folded[i], i + 1) == std::string::npos;
  }
  if (!ok) {
    *reason = "must be " + AllowedStrokeKeys();
    return false;
  }
  record->engine.stroke_keys = folded;
  return true;
}

using E = EngineSettings;
using A = AppOptions;

constexpr std::array<SettingKey, 34> kKeys = {
    SettingKey{"config_version", kConfig, "about", GetVersion, RefuseVersion, AllowedVersion,
               SettingType::kReadOnly},
    TextKey<kEngine, &E::schema, AnyName, AllowedName>("schema", kConfig, "input"),
    ChoiceKey<kEngine, &E::charset, IsCharset, AllowedCharset, ChoicesOf<kCharsets>>(
        "charset", kConfig, "input"),
    SettingKey{"stroke_keys", kConfig, "input", GetText<kEngine, &E::stroke_keys>, SetStrokeKeys,
               AllowedStrokeKeys},
    IntKey<kEngine, &E::page_size, E::kMinPageSize, E::kMaxPageSize>("page_size", kConfig, "input"),
    BoolKey<kEngine, &E::horizontal>("horizontal", kConfig, "appearance"),
    BoolKey<kEngine, &E::shift_toggle>("shift_toggle", kConfig, "input"),
    BoolKey<kEngine, &E::melt_english>("melt_english", kConfig, "input"),
    BoolKey<kEngine, &E::ext_cjk>("ext_cjk", kConfig, "input"),
    BoolKey<kEngine, &E::prediction>("prediction", kConfig, "input"),
    BoolKey<kEngine, &E::full_width>("full_width", kConfig, "input"),
    BoolKey<kEngine, &E::inline_preedit>("inline_preedit", kConfig, "input"),
    TextKey<kOptions, &A::theme, AnyName, AllowedName>("theme", kApp, "appearance"),
    BoolKey<kOptions, &A::autostart>("autostart", kApp, "general"),
    BoolKey<kOptions, &A::cloud_input>("cloud_input", kApp, "general"),
    BoolKey<kOptions, &A::key_sound>("key_sound", kApp, "sound"),
    ChoiceKey<kOptions, &A::key_sound_type, IsKeySoundType, AllowedKeySoundType,
              ChoicesOf<A::kKeySoundTypes>>("key_sound_type", kApp, "sound"),
    IntKey<kOptions, &A::key_sound_volume, A::kMinKeySoundVolume, A::kMaxKeySoundVolume>(
        "key_sound_volume", kApp, "sound"),
    ChoiceKey<kOptions, &A::voice_engine, IsVoiceEngine, AllowedVoiceEngine,
              ChoicesOf<A::kVoiceEngines>>("voice_engine", kApp, "voice"),
    BoolKey<kOptions, &A::voice_polish>("voice_polish", kApp, "voice"),
    ChoiceKey<kOptions, &A::voice_output_language, server::IsVoiceOutputLanguage,
              AllowedVoiceLanguage, LanguageCodes<server::VoiceOutputLanguages>>(
        "voice_output_language", kApp, "voice"),
    BoolKey<kOptions, &A::voice_bilingual>("voice_bilingual", kApp, "voice"),
    ChoiceKey<kOptions, &A::caps_lock_mode, IsCapsLockMode, AllowedCapsLockMode,
              ChoicesOf<A::kCapsLockModes>>("caps_lock_mode", kApp, "input"),
    BoolKey<kOptions, &A::disable_auto_update_check>("disable_auto_update_check", kApp, "general"),
    ChoiceKey<kOptions, &A::translate_target_lang, server::IsTranslateTargetLanguage,
              AllowedTranslateTarget, LanguageCodes<server::TranslateTargetLanguages>>(
        "translate_target_lang", kApp, "translate"),
    BoolKey<kOptions, &A::status_bar_follow_theme>("status_bar_follow_theme", kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_back_color, IsColour, AllowedColour>("status_bar_back_color",
                                                                          kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_border_color, IsColour, AllowedColour>(
        "status_bar_border_color", kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_text_color, IsColour, AllowedColour>("status_bar_text_color",
                                                                          kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_hilited_back_color, IsColour, AllowedColour>(
        "status_bar_hilited_back_color", kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_hilited_text_color, IsColour, AllowedColour>(
        "status_bar_hilited_text_color", kApp, "appearance"),
    IntKey<kOptions, &A::status_bar_corner_radius, A::kMinStatusBarCornerRadius,
           A::kMaxStatusBarCornerRadius>("status_bar_corner_radius", kApp, "appearance"),
    TextKey<kOptions, &A::status_bar_bg_image_path, AnyName, AllowedPath, true>(
        "status_bar_bg_image_path", kApp, "appearance"),
    TextKey<kOptions, &A::candidate_bg_image_path, AnyName, AllowedPath, true>(
        "candidate_bg_image_path", kApp, "appearance"),
};

constexpr SettingsPage kPages[] = {
    {"input", "輸入"}, {"appearance", "外觀"}, {"sound", "按鍵音"},
    {"voice", "語音"}, {"translate", "翻譯"},  {"general", "一般"},
};

}  // namespace

std::span<const SettingKey> SettingKeys() {
  return kKeys;
}

const SettingKey* FindSettingKey(std::string_view name) {
  for (const SettingKey& key : kKeys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

std::span<const SettingsPage> SettingsPages() {
  return kPages;
}

}  // namespace kavi::win
