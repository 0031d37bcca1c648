#include "tools/settings/setting_keys.h"

#include <algorithm>
#include <array>

#include "config/json.h"
#include "config/language_tables.h"

namespace kavi::win {

namespace {

constexpr char kReadOnlyVersion[] =
    "config_version is managed by KaviSettings: it goes up by one with every save";

// Printable UTF-8 without control bytes: the files hold one value per line.
bool CheckText(std::string_view name, std::string_view text, bool allow_empty,
               std::string* message) {
  if (!allow_empty && text.empty()) {
    *message = std::string(name) + " must not be empty";
    return false;
  }
  if (!server::IsValidUtf8(text)) {
    *message = std::string(name) + " must be valid UTF-8";
    return false;
  }
  if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20; })) {
    *message = std::string(name) + " must not contain control characters";
    return false;
  }
  return true;
}

bool ParseBool(std::string_view name, std::string_view text, bool* value, std::string* message) {
  if (text == "true" || text == "false") {
    *value = text == "true";
    return true;
  }
  *message = std::string(name) + " must be true or false, not \"" + std::string(text) + "\"";
  return false;
}

bool ParseInt(std::string_view name, std::string_view text, int32_t min, int32_t max,
              int32_t* value, std::string* message) {
  int64_t result = 0;
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;
  bool ok = pos < text.size() && text.size() - pos <= 10;
  for (; ok && pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') ok = false;
    result = result * 10 + (text[pos] - '0');
  }
  if (negative) result = -result;
  if (!ok || result < min || result > max) {
    *message = std::string(name) + " must be an integer from " + std::to_string(min) + " to " +
               std::to_string(max) + ", not \"" + std::string(text) + "\"";
    return false;
  }
  *value = static_cast<int32_t>(result);
  return true;
}

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

bool IsColour(std::string_view text) {
  if (text.size() != 8 && text.size() != 10) return false;
  if (text.substr(0, 2) != "0x") return false;
  return std::all_of(text.begin() + 2, text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

bool IsStrokeKeys(std::string_view folded) {
  if (folded.size() != 5) return false;
  for (size_t i = 0; i < folded.size(); ++i) {
    if (folded[i] < 'a' || folded[i] > 'z') return false;
    if (folded.find(folded[i], i + 1) != std::string_view::npos) return false;
  }
  return true;
}

std::string BoolText(bool value) { return value ? "true" : "false"; }
std::string AllowedBool() { return "true | false"; }
std::string AllowedName() { return "a non-empty name"; }
std::string AllowedPath() { return "a file path, or empty"; }
std::string AllowedColour() { return "0xBBGGRR or 0xAABBGGRR (hex digits)"; }

}  // namespace

#define KAVI_BOOL(part, field, file, page)                                                     \
  SettingKey {                                                                                 \
    #field, file, page,                                                                        \
        [](const ConfigRecord& r) { return BoolText(r.part.field); },                          \
        [](std::string_view text, ConfigRecord* r, std::string* message) {                    \
          return ParseBool(#field, text, &r->part.field, message);                             \
        },                                                                                     \
        AllowedBool                                                                            \
  }

#define KAVI_INT(part, field, file, page, min, max)                                            \
  SettingKey {                                                                                 \
    #field, file, page, [](const ConfigRecord& r) { return std::to_string(r.part.field); },    \
        [](std::string_view text, ConfigRecord* r, std::string* message) {                    \
          return ParseInt(#field, text, min, max, &r->part.field, message);                    \
        },                                                                                     \
        [] { return "an integer from " + std::to_string(min) + " to " + std::to_string(max); } \
  }

// `check` is an expression over `text` that tells whether the value is acceptable.
#define KAVI_TEXT(part, field, file, page, allow_empty, check, allowed_text)                   \
  SettingKey {                                                                                 \
    #field, file, page, [](const ConfigRecord& r) { return r.part.field; },                    \
        [](std::string_view text, ConfigRecord* r, std::string* message) {                    \
          if (!CheckText(#field, text, allow_empty, message)) return false;                    \
          if (!(check)) {                                                                      \
            *message = std::string(#field " must be ") + allowed_text() + ", not \"" +         \
                       std::string(text) + "\"";                                               \
            return false;                                                                      \
          }                                                                                    \
          r->part.field = std::string(text);                                                   \
          return true;                                                                         \
        },                                                                                     \
        allowed_text                                                                           \
  }

namespace {

constexpr SettingFile kConfig = SettingFile::kConfig;
constexpr SettingFile kApp = SettingFile::kAppOptions;
constexpr std::string_view kCharsets[] = {"zhs", "zht"};

std::string AllowedCharset() { return JoinChoices(kCharsets); }
std::string AllowedKeySoundType() { return JoinChoices(AppOptions::kKeySoundTypes); }
std::string AllowedVoiceEngine() { return JoinChoices(AppOptions::kVoiceEngines); }
std::string AllowedCapsLockMode() { return JoinChoices(AppOptions::kCapsLockModes); }
std::string AllowedVoiceLanguage() { return JoinLanguages(server::VoiceOutputLanguages()); }
std::string AllowedTranslateTarget() { return JoinLanguages(server::TranslateTargetLanguages()); }
std::string AllowedStrokeKeys() { return "five different letters (folded to lower case)"; }

template <size_t N>
bool OneOf(std::string_view text, const std::string_view (&choices)[N]) {
  return std::find(std::begin(choices), std::end(choices), text) != std::end(choices);
}

std::string VersionText(const ConfigRecord& r) { return std::to_string(r.engine.config_version); }
bool RefuseVersion(std::string_view, ConfigRecord*, std::string* message) {
  *message = kReadOnlyVersion;
  return false;
}
std::string AllowedVersion() { return "read only"; }

bool SetStrokeKeys(std::string_view text, ConfigRecord* r, std::string* message) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (!IsStrokeKeys(folded)) {
    *message = "stroke_keys must be " + AllowedStrokeKeys() + ", not \"" + std::string(text) + "\"";
    return false;
  }
  r->engine.stroke_keys = folded;
  return true;
}

const std::array<SettingKey, 34>& Keys() {
  static const std::array<SettingKey, 34> keys = {
      SettingKey{"config_version", kConfig, "about", VersionText, RefuseVersion, AllowedVersion},
      KAVI_TEXT(engine, schema, kConfig, "input", false, true, AllowedName),
      KAVI_TEXT(engine, charset, kConfig, "input", false, OneOf(text, kCharsets), AllowedCharset),
      SettingKey{"stroke_keys", kConfig, "input",
                 [](const ConfigRecord& r) { return r.engine.stroke_keys; }, SetStrokeKeys,
                 AllowedStrokeKeys},
      KAVI_INT(engine, page_size, kConfig, "input", EngineSettings::kMinPageSize,
               EngineSettings::kMaxPageSize),
      KAVI_BOOL(engine, horizontal, kConfig, "appearance"),
      KAVI_BOOL(engine, shift_toggle, kConfig, "input"),
      KAVI_BOOL(engine, melt_english, kConfig, "input"),
      KAVI_BOOL(engine, ext_cjk, kConfig, "input"),
      KAVI_BOOL(engine, prediction, kConfig, "input"),
      KAVI_BOOL(engine, full_width, kConfig, "input"),
      KAVI_BOOL(engine, inline_preedit, kConfig, "input"),
      KAVI_TEXT(app, theme, kApp, "appearance", false, true, AllowedName),
      KAVI_BOOL(app, autostart, kApp, "general"),
      KAVI_BOOL(app, cloud_input, kApp, "general"),
      KAVI_BOOL(app, key_sound, kApp, "sound"),
      KAVI_TEXT(app, key_sound_type, kApp, "sound", false, OneOf(text, AppOptions::kKeySoundTypes),
                AllowedKeySoundType),
      KAVI_INT(app, key_sound_volume, kApp, "sound", AppOptions::kMinKeySoundVolume,
               AppOptions::kMaxKeySoundVolume),
      KAVI_TEXT(app, voice_engine, kApp, "voice", false, OneOf(text, AppOptions::kVoiceEngines),
                AllowedVoiceEngine),
      KAVI_BOOL(app, voice_polish, kApp, "voice"),
      KAVI_TEXT(app, voice_output_language, kApp, "voice", false,
                server::IsVoiceOutputLanguage(text), AllowedVoiceLanguage),
      KAVI_BOOL(app, voice_bilingual, kApp, "voice"),
      KAVI_TEXT(app, caps_lock_mode, kApp, "input", false,
                OneOf(text, AppOptions::kCapsLockModes), AllowedCapsLockMode),
      KAVI_BOOL(app, disable_auto_update_check, kApp, "general"),
      KAVI_TEXT(app, translate_target_lang, kApp, "translate", false,
                server::IsTranslateTargetLanguage(text), AllowedTranslateTarget),
      KAVI_BOOL(app, status_bar_follow_theme, kApp, "appearance"),
      KAVI_TEXT(app, status_bar_back_color, kApp, "appearance", false, IsColour(text),
                AllowedColour),
      KAVI_TEXT(app, status_bar_border_color, kApp, "appearance", false, IsColour(text),
                AllowedColour),
      KAVI_TEXT(app, status_bar_text_color, kApp, "appearance", false, IsColour(text),
                AllowedColour),
      KAVI_TEXT(app, status_bar_hilited_back_color, kApp, "appearance", false, IsColour(text),
                AllowedColour),
      KAVI_TEXT(app, status_bar_hilited_text_color, kApp, "appearance", false, IsColour(text),
                AllowedColour),
      KAVI_INT(app, status_bar_corner_radius, kApp, "appearance",
               AppOptions::kMinStatusBarCornerRadius, AppOptions::kMaxStatusBarCornerRadius),
      KAVI_TEXT(app, status_bar_bg_image_path, kApp, "appearance", true, true, AllowedPath),
      KAVI_TEXT(app, candidate_bg_image_path, kApp, "appearance", true, true, AllowedPath),
  };
  return keys;
}

constexpr SettingsPage kPages[] = {
    {"input", "輸入"},       {"appearance", "外觀"}, {"sound", "按鍵音"},
    {"voice", "語音"},       {"translate", "翻譯"},  {"general", "一般"},
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return Keys(); }

const SettingKey* FindSettingKey(std::string_view name) {
  for (const SettingKey& key : Keys()) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

std::span<const SettingsPage> SettingsPages() { return kPages; }

}  // namespace kavi::win
