// SPDX-License-Identifier: Apache-2.0
#include "config/config_files.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <span>
#include <thread>

#include "config/atomic_file.h"
#include "config/json.h"
#include "config/language_tables.h"
#include "platform/file_read.h"
#include "platform/log.h"

namespace kavi::win::server {

namespace {

constexpr char kInvalidVersion[] = "配置版本無效";
constexpr char kInvalidString[] = "配置字串欄位無效";
constexpr char kMissingFile[] = "配置文件缺失";
constexpr char kVersionMismatch[] = "配置版本不一致";
constexpr char kRestoredLog[] = "[Kavi] 已從最後一致快照恢復配置\n";

constexpr int kLoadAttempts = 3;
// Both files are a few hundred bytes; anything past this is not a configuration file.
constexpr uintmax_t kMaxConfigFileBytes = 1u << 20;
constexpr std::chrono::milliseconds kRetryDelay(20);

// `pos` stands after the opening quote.
bool ScanQuotedValue(std::string_view text, size_t pos, std::string* value) {
  std::string result;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == '"') {
      *value = std::move(result);
      return true;
    }
    if (static_cast<uint8_t>(c) < 0x20) return false;
    if (c != '\\') {
      result.push_back(c);
      continue;
    }
    if (pos >= text.size()) return false;
    switch (text[pos++]) {
      case '"':
        result.push_back('"');
        break;
      case '\\':
        result.push_back('\\');
        break;
      case '/':
        result.push_back('/');
        break;
      case 'b':
        result.push_back('\b');
        break;
      case 'f':
        result.push_back('\f');
        break;
      case 'n':
        result.push_back('\n');
        break;
      case 'r':
        result.push_back('\r');
        break;
      case 't':
        result.push_back('\t');
        break;
      case 'u':
        if (ReadUnicodeEscape(text, &pos, &result) != UnicodeEscape::kDecoded) return false;
        break;
      default:
        return false;
    }
  }
  return false;
}

std::string QuotedKey(std::string_view key) {
  std::string quoted;
  quoted.reserve(key.size() + 2);
  quoted.push_back('"');
  quoted.append(key);
  quoted.push_back('"');
  return quoted;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading whitespace, then decimal digits up to the first non-digit.
bool ParseUnsigned64(std::string_view text, uint64_t* out) {
  size_t pos = 0;
  while (pos < text.size() && IsCSpace(text[pos])) ++pos;
  if (pos == text.size() || !IsDigit(text[pos])) return false;
  uint64_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

// Leading whitespace, an optional sign, then decimal digits up to the first non-digit ("12px"
// gives 12).
bool ParseSigned32(std::string_view text, int32_t* out) {
  size_t pos = 0;
  while (pos < text.size() && IsCSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size() || !IsDigit(text[pos])) return false;
  int64_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

// Reads one file's fields; the first failure's message stays.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  bool Version(uint64_t* field, std::string* message) {
    std::string value;
    if (FindConfigValue(text_, "config_version", &value) && ParseUnsigned64(value, field)) {
      return true;
    }
    *message = kInvalidVersion;
    return false;
  }

  // An absent key keeps the default; a present key without a usable value rejects the pair.
  bool String(std::string_view key, std::string* field, std::string* message) {
    if (text_.find(QuotedKey(key)) == std::string_view::npos) return true;
    if (FindConfigValue(text_, key, field)) return true;
    *message = kInvalidString;
    return false;
  }

  void Bool(std::string_view key, bool* field) {
    std::string value;
    if (!FindConfigValue(text_, key, &value)) return;
    if (value == "true") {
      *field = true;
    } else if (value == "false") {
      *field = false;
    }
  }

  void Int32(std::string_view key, int32_t* field) {
    std::string value;
    if (FindConfigValue(text_, key, &value)) ParseSigned32(value, field);
  }

 private:
  std::string_view text_;
};

bool ValidStrokeKeys(std::string_view keys) {
  if (keys.size() != 5) return false;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] < 'a' || keys[i] > 'z') return false;
    if (keys.find(keys[i], i + 1) != std::string_view::npos) return false;
  }
  return true;
}

std::string FoldAsciiUpper(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

template <size_t N>
bool OneOf(std::string_view value, const std::string_view (&allowed)[N]) {
  return std::find(std::begin(allowed), std::end(allowed), value) != std::end(allowed);
}

void ApplyRules(ConfigRecord* record) {
  EngineSettings& engine = record->engine;
  AppOptions& app = record->app;
  const std::string folded = FoldAsciiUpper(engine.stroke_keys);
  engine.stroke_keys = ValidStrokeKeys(folded) ? folded : EngineSettings::kDefaultStrokeKeys;
  engine.page_size =
      std::clamp(engine.page_size, EngineSettings::kMinPageSize, EngineSettings::kMaxPageSize);
  if (!OneOf(app.key_sound_type, AppOptions::kKeySoundTypes)) {
    app.key_sound_type = AppOptions::kDefaultKeySoundType;
  }
  app.key_sound_volume = std::clamp(app.key_sound_volume, AppOptions::kMinKeySoundVolume,
                                    AppOptions::kMaxKeySoundVolume);
  if (!OneOf(app.voice_engine, AppOptions::kVoiceEngines)) {
    app.voice_engine = AppOptions::kDefaultVoiceEngine;
  }
  if (!IsVoiceOutputLanguage(app.voice_output_language)) {
    app.voice_output_language = AppOptions::kDefaultVoiceOutputLanguage;
  }
  if (!OneOf(app.caps_lock_mode, AppOptions::kCapsLockModes)) {
    app.caps_lock_mode = AppOptions::kCapsLockLock;
  }
  if (!IsTranslateTargetLanguage(app.translate_target_lang)) {
    app.translate_target_lang = AppOptions::kDefaultTranslateTargetLang;
  }
  app.status_bar_corner_radius =
      std::clamp(app.status_bar_corner_radius, AppOptions::kMinStatusBarCornerRadius,
                 AppOptions::kMaxStatusBarCornerRadius);
}

// A missing or unreadable file (a directory, a FIFO, an I/O error, one too large to be ours)
// reads as empty, through the bounded reader that reports errors instead of throwing.
std::string ReadWholeFile(const std::filesystem::path& path) {
  std::string bytes;
  if (ReadRegularFile(path, kMaxConfigFileBytes, &bytes) != ReadFileResult::kRead) return {};
  return bytes;
}

struct ConfigTexts {
  std::string config;
  std::string app_options;
};

ConfigTexts ReadConfigTexts(const std::filesystem::path& directory) {
  return {ReadWholeFile(directory / kConfigFileName),
          ReadWholeFile(directory / kAppOptionsFileName)};
}

bool ParseConfigPair(const ConfigTexts& texts, ConfigRecord* out, std::string* message) {
  if (texts.config.empty() && texts.app_options.empty()) {
    *out = ConfigRecord();
    return true;
  }
  if (texts.config.empty() || texts.app_options.empty()) {
    *message = kMissingFile;
    return false;
  }
  return ParseConfigTexts(texts.config, texts.app_options, out, message);
}

// The snapshot file, or the last-good directory when the file has no separator. A last-good
// directory holding neither file is no snapshot at all: its defaults must not overwrite the
// live files.
bool ReadSnapshot(const std::filesystem::path& directory, ConfigRecord* out) {
  std::string ignored;
  const std::string snapshot = ReadWholeFile(directory / kLastGoodSnapshotFileName);
  const size_t separator = snapshot.find(kSnapshotSeparator);
  if (separator != std::string::npos) {
    return ParseConfigTexts(
        std::string_view(snapshot).substr(0, separator),
        std::string_view(snapshot).substr(separator + kSnapshotSeparator.size()), out, &ignored);
  }
  const ConfigTexts texts = ReadConfigTexts(directory / kLastGoodDirectoryName);
  if (texts.config.empty() && texts.app_options.empty()) return false;
  return ParseConfigPair(texts, out, &ignored);
}

void AppendLine(std::string* text, std::string_view key, std::string_view value, bool last) {
  text->append("  \"");
  text->append(key);
  text->append("\": ");
  text->append(value);
  text->append(last ? "\n" : ",\n");
}

std::string Quoted(std::string_view value) {
  std::string quoted;
  AppendJsonString(value, &quoted);
  return quoted;
}

std::string_view BoolText(bool value) {
  return value ? "true" : "false";
}

}  // namespace

std::filesystem::path ConfigDirectoryIn(const std::filesystem::path& roaming_folder) {
  return roaming_folder.empty() ? std::filesystem::path(".")
                                : roaming_folder / kConfigDirectoryName;
}

bool FindConfigValue(std::string_view text, std::string_view key, std::string* value) {
  const size_t match = text.find(QuotedKey(key));
  if (match == std::string_view::npos) return false;
  size_t pos = text.find(':', match + key.size() + 2);
  if (pos == std::string_view::npos) return false;
  ++pos;
  while (pos < text.size() &&
         (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n')) {
    ++pos;
  }
  if (pos >= text.size()) return false;
  if (text[pos] == '"') return ScanQuotedValue(text, pos + 1, value);
  size_t end = text.find_first_of(",}\r\n", pos);
  if (end == std::string_view::npos) end = text.size();
  while (end > pos && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (end == pos) return false;
  value->assign(text.substr(pos, end - pos));
  return true;
}

bool ParseConfigTexts(std::string_view config_text, std::string_view app_options_text,
                      ConfigRecord* out, std::string* message) {
  std::string local_message;
  if (message == nullptr) message = &local_message;
  message->clear();
  ConfigRecord record;
  EngineSettings& engine = record.engine;
  AppOptions& app = record.app;
  FieldReader config(config_text);
  FieldReader options(app_options_text);
  // The order decides which message a file with several faults reports.
  const bool ok = config.Version(&engine.config_version, message) &&
                  options.Version(&app.config_version, message) &&
                  config.String("schema", &engine.schema, message) &&
                  config.String("charset", &engine.charset, message) &&
                  config.String("stroke_keys", &engine.stroke_keys, message) &&
                  options.String("theme", &app.theme, message) &&
                  options.String("key_sound_type", &app.key_sound_type, message) &&
                  options.String("voice_engine", &app.voice_engine, message) &&
                  options.String("voice_output_language", &app.voice_output_language, message);
  if (!ok) return false;
  config.Int32("page_size", &engine.page_size);
  config.Bool("horizontal", &engine.horizontal);
  config.Bool("shift_toggle", &engine.shift_toggle);
  config.Bool("melt_english", &engine.melt_english);
  config.Bool("ext_cjk", &engine.ext_cjk);
  config.Bool("prediction", &engine.prediction);
  config.Bool("full_width", &engine.full_width);
  config.Bool("inline_preedit", &engine.inline_preedit);
  options.Bool("autostart", &app.autostart);
  options.Bool("cloud_input", &app.cloud_input);
  options.Bool("key_sound", &app.key_sound);
  options.Int32("key_sound_volume", &app.key_sound_volume);
  options.Bool("voice_polish", &app.voice_polish);
  options.Bool("voice_bilingual", &app.voice_bilingual);
  const bool strings_ok =
      options.String("caps_lock_mode", &app.caps_lock_mode, message) &&
      options.String("translate_target_lang", &app.translate_target_lang, message) &&
      options.String("status_bar_back_color", &app.status_bar_back_color, message) &&
      options.String("status_bar_border_color", &app.status_bar_border_color, message) &&
      options.String("status_bar_text_color", &app.status_bar_text_color, message) &&
      options.String("status_bar_hilited_back_color", &app.status_bar_hilited_back_color,
                     message) &&
      options.String("status_bar_hilited_text_color", &app.status_bar_hilited_text_color,
                     message) &&
      options.String("status_bar_bg_image_path", &app.status_bar_bg_image_path, message) &&
      options.String("candidate_bg_image_path", &app.candidate_bg_image_path, message);
  if (!strings_ok) return false;
  options.Bool("disable_auto_update_check", &app.disable_auto_update_check);
  options.Bool("status_bar_follow_theme", &app.status_bar_follow_theme);
  options.Int32("status_bar_corner_radius", &app.status_bar_corner_radius);
  ApplyRules(&record);
  if (out != nullptr) *out = std::move(record);
  return true;
}

bool ReadConfigFiles(const std::filesystem::path& directory, ConfigRecord* out,
                     std::string* message) {
  std::string local_message;
  if (message == nullptr) message = &local_message;
  message->clear();
  ConfigRecord record;
  if (!ParseConfigPair(ReadConfigTexts(directory), &record, message)) return false;
  if (out != nullptr) *out = std::move(record);
  return true;
}

bool LoadConfig(const std::filesystem::path& directory, ConfigRecord* out, std::string* message) {
  return LoadConfig(directory, out, message, [] { std::this_thread::sleep_for(kRetryDelay); });
}

bool LoadConfig(const std::filesystem::path& directory, ConfigRecord* out, std::string* message,
                const std::function<void()>& between_attempts) {
  std::string local_message;
  if (message == nullptr) message = &local_message;
  message->clear();
  if (out == nullptr) return false;
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    ConfigRecord record;
    std::string read_message;
    if (ReadConfigFiles(directory, &record, &read_message)) {
      if (record.engine.config_version == record.app.config_version) {
        *out = std::move(record);
        message->clear();
        return true;
      }
    } else {
      *message = read_message;
    }
    between_attempts();
  }
  // A save may have completed since the last attempt: a consistent pair on disk now is newer
  // than any snapshot and is never overwritten by one.
  ConfigRecord live;
  std::string ignored_read;
  if (ReadConfigFiles(directory, &live, &ignored_read) &&
      live.engine.config_version == live.app.config_version) {
    *out = std::move(live);
    message->clear();
    return true;
  }
  ConfigRecord restored;
  if (ReadSnapshot(directory, &restored) &&
      restored.engine.config_version == restored.app.config_version) {
    std::string ignored;
    if (WriteFileAtomically(directory / kConfigFileName, FormatConfigFile(restored.engine),
                            &ignored) &&
        WriteFileAtomically(directory / kAppOptionsFileName, FormatAppOptionsFile(restored.app),
                            &ignored)) {
      *out = std::move(restored);
      message->clear();
      LogLine(kRestoredLog);
      return true;
    }
  }
  if (message->empty()) *message = kVersionMismatch;
  return false;
}

std::string FormatConfigFile(const EngineSettings& s) {
  std::string text = "{\n";
  AppendLine(&text, "config_version", std::to_string(s.config_version), false);
  AppendLine(&text, "schema", Quoted(s.schema), false);
  AppendLine(&text, "charset", Quoted(s.charset), false);
  AppendLine(&text, "stroke_keys", Quoted(s.stroke_keys), false);
  AppendLine(&text, "page_size", std::to_string(s.page_size), false);
  AppendLine(&text, "horizontal", BoolText(s.horizontal), false);
  AppendLine(&text, "shift_toggle", BoolText(s.shift_toggle), false);
  AppendLine(&text, "melt_english", BoolText(s.melt_english), false);
  AppendLine(&text, "ext_cjk", BoolText(s.ext_cjk), false);
  AppendLine(&text, "prediction", BoolText(s.prediction), false);
  AppendLine(&text, "full_width", BoolText(s.full_width), false);
  AppendLine(&text, "inline_preedit", BoolText(s.inline_preedit), true);
  text.append("}\n");
  return text;
}

std::string FormatAppOptionsFile(const AppOptions& o) {
  std::string text = "{\n";
  AppendLine(&text, "config_version", std::to_string(o.config_version), false);
  AppendLine(&text, "theme", Quoted(o.theme), false);
  AppendLine(&text, "autostart", BoolText(o.autostart), false);
  AppendLine(&text, "cloud_input", BoolText(o.cloud_input), false);
  AppendLine(&text, "key_sound", BoolText(o.key_sound), false);
  AppendLine(&text, "key_sound_type", Quoted(o.key_sound_type), false);
  AppendLine(&text, "key_sound_volume", std::to_string(o.key_sound_volume), false);
  AppendLine(&text, "voice_engine", Quoted(o.voice_engine), false);
  AppendLine(&text, "voice_polish", BoolText(o.voice_polish), false);
  AppendLine(&text, "voice_output_language", Quoted(o.voice_output_language), false);
  AppendLine(&text, "voice_bilingual", BoolText(o.voice_bilingual), false);
  AppendLine(&text, "caps_lock_mode", Quoted(o.caps_lock_mode), false);
  AppendLine(&text, "disable_auto_update_check", BoolText(o.disable_auto_update_check), false);
  AppendLine(&text, "translate_target_lang", Quoted(o.translate_target_lang), false);
  AppendLine(&text, "status_bar_follow_theme", BoolText(o.status_bar_follow_theme), false);
  AppendLine(&text, "status_bar_back_color", Quoted(o.status_bar_back_color), false);
  AppendLine(&text, "status_bar_border_color", Quoted(o.status_bar_border_color), false);
  AppendLine(&text, "status_bar_text_color", Quoted(o.status_bar_text_color), false);
  AppendLine(&text, "status_bar_hilited_back_color", Quoted(o.status_bar_hilited_back_color),
             false);
  AppendLine(&text, "status_bar_hilited_text_color", Quoted(o.status_bar_hilited_text_color),
             false);
  AppendLine(&text, "status_bar_corner_radius", std::to_string(o.status_bar_corner_radius), false);
  AppendLine(&text, "status_bar_bg_image_path", Quoted(o.status_bar_bg_image_path), false);
  AppendLine(&text, "candidate_bg_image_path", Quoted(o.candidate_bg_image_path), true);
  text.append("}\n");
  return text;
}

}  // namespace kavi::win::server
