// SPDX-License-Identifier: Apache-2.0
// The user's settings: config.json (what the conversion engine needs) and app_options.json
// (everything else), read into one record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavi::win {

// config.json
struct EngineSettings {
  static constexpr char kDefaultSchema[] = "base_pinyin";
  static constexpr char kSimplifiedCharset[] = "zhs";
  static constexpr char kDefaultStrokeKeys[] = "hspnz";
  static constexpr int32_t kDefaultPageSize = 10;
  static constexpr int32_t kMinPageSize = 5;
  static constexpr int32_t kMaxPageSize = 16;

  uint64_t config_version = 0;
  std::string schema = kDefaultSchema;
  // "zhs" means simplified output; anything else traditional.
  std::string charset = kSimplifiedCharset;
  // Five different letters, folded to lower case.
  std::string stroke_keys = kDefaultStrokeKeys;
  int32_t page_size = kDefaultPageSize;
  bool horizontal = true;
  bool shift_toggle = true;
  bool melt_english = true;
  bool ext_cjk = false;
  bool prediction = false;
  bool full_width = false;
  bool inline_preedit = true;

  bool operator==(const EngineSettings&) const = default;
};

// app_options.json
struct AppOptions {
  static constexpr char kDefaultTheme[] = "native";
  static constexpr char kDefaultKeySoundType[] = "key14";
  // The click sounds that exist; any other name falls back to the default.
  static constexpr std::string_view kKeySoundTypes[] = {"key14", "key28", "key30", "key31",
                                                        "key32", "key33", "key34", "key35",
                                                        "key36", "key37", "key38"};
  static constexpr int32_t kDefaultKeySoundVolume = 60;
  static constexpr int32_t kMinKeySoundVolume = 0;
  static constexpr int32_t kMaxKeySoundVolume = 100;
  static constexpr char kDefaultVoiceEngine[] = "senseVoice";
  static constexpr std::string_view kVoiceEngines[] = {"senseVoice", "qwen3"};
  static constexpr char kDefaultVoiceOutputLanguage[] = "follow";
  static constexpr char kCapsLockSwitch[] = "switch";
  static constexpr char kCapsLockLock[] = "lock";
  static constexpr std::string_view kCapsLockModes[] = {kCapsLockSwitch, kCapsLockLock};
  static constexpr char kDefaultTranslateTargetLang[] = "en";
  static constexpr int32_t kDefaultStatusBarCornerRadius = 6;
  static constexpr int32_t kMinStatusBarCornerRadius = 0;
  static constexpr int32_t kMaxStatusBarCornerRadius = 20;

  uint64_t config_version = 0;
  std::string theme = kDefaultTheme;
  bool autostart = true;
  bool cloud_input = true;
  bool key_sound = false;
  std::string key_sound_type = kDefaultKeySoundType;
  int32_t key_sound_volume = kDefaultKeySoundVolume;
  std::string voice_engine = kDefaultVoiceEngine;
  bool voice_polish = false;
  std::string voice_output_language = kDefaultVoiceOutputLanguage;
  bool voice_bilingual = false;
  // "switch" or "lock".
  std::string caps_lock_mode = kCapsLockLock;
  bool disable_auto_update_check = false;
  std::string translate_target_lang = kDefaultTranslateTargetLang;
  bool status_bar_follow_theme = true;
  // Colours as "0x" strings in 0xBBGGRR or 0xAABBGGRR order.
  std::string status_bar_back_color = "0xFFFFFF";
  std::string status_bar_border_color = "0xCCCCCC";
  std::string status_bar_text_color = "0x333333";
  std::string status_bar_hilited_back_color = "0xE0A030";
  std::string status_bar_hilited_text_color = "0xFFFFFF";
  int32_t status_bar_corner_radius = kDefaultStatusBarCornerRadius;
  std::string status_bar_bg_image_path;
  std::string candidate_bg_image_path;

  bool operator==(const AppOptions&) const = default;
};

struct ConfigRecord {
  EngineSettings engine;
  AppOptions app;

  bool operator==(const ConfigRecord&) const = default;
};

}  // namespace kavi::win
