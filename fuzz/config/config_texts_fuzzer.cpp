// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a pair of configuration files (split at the snapshot separator, else at the
// middle). A pair that loads must write out and load back to the same record, unless one of its
// strings holds a double quote or is itself a key name: the scanner takes the first quoted key
// it meets, and such a value written before its key is such a place by design.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "config/config_files.h"

namespace server = kavi::win::server;

namespace {

constexpr std::string_view kKeyNames[] = {"config_version",
                                          "schema",
                                          "charset",
                                          "stroke_keys",
                                          "page_size",
                                          "horizontal",
                                          "shift_toggle",
                                          "melt_english",
                                          "ext_cjk",
                                          "prediction",
                                          "full_width",
                                          "inline_preedit",
                                          "theme",
                                          "autostart",
                                          "cloud_input",
                                          "key_sound",
                                          "key_sound_type",
                                          "key_sound_volume",
                                          "voice_engine",
                                          "voice_polish",
                                          "voice_output_language",
                                          "voice_bilingual",
                                          "caps_lock_mode",
                                          "disable_auto_update_check",
                                          "translate_target_lang",
                                          "status_bar_follow_theme",
                                          "status_bar_back_color",
                                          "status_bar_border_color",
                                          "status_bar_text_color",
                                          "status_bar_hilited_back_color",
                                          "status_bar_hilited_text_color",
                                          "status_bar_corner_radius",
                                          "status_bar_bg_image_path",
                                          "candidate_bg_image_path"};

bool ShadowsAKey(const kavi::win::ConfigRecord& r) {
  for (const std::string* text :
       {&r.engine.schema, &r.engine.charset, &r.engine.stroke_keys, &r.app.theme,
        &r.app.key_sound_type, &r.app.voice_engine, &r.app.voice_output_language,
        &r.app.caps_lock_mode, &r.app.translate_target_lang, &r.app.status_bar_back_color,
        &r.app.status_bar_border_color, &r.app.status_bar_text_color,
        &r.app.status_bar_hilited_back_color, &r.app.status_bar_hilited_text_color,
        &r.app.status_bar_bg_image_path, &r.app.candidate_bg_image_path}) {
    if (text->find('"') != std::string::npos) return true;
    for (std::string_view key : kKeyNames) {
      if (*text == key) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> input(new char[size]);
  if (size > 0) std::memcpy(input.get(), data, size);
  const std::string_view text(input.get(), size);
  const size_t separator = text.find(kavi::win::kSnapshotSeparator);
  const size_t split = separator == std::string_view::npos ? size / 2 : separator;
  const std::string_view config = text.substr(0, split);
  const std::string_view options = separator == std::string_view::npos
                                       ? text.substr(split)
                                       : text.substr(split + kavi::win::kSnapshotSeparator.size());

  std::string value;
  server::FindConfigValue(text, "theme", &value);

  kavi::win::ConfigRecord record;
  std::string message;
  if (!server::ParseConfigTexts(config, options, &record, &message)) {
    if (message.empty()) std::abort();
    return 0;
  }
  if (ShadowsAKey(record)) return 0;
  kavi::win::ConfigRecord again;
  if (!server::ParseConfigTexts(server::FormatConfigFile(record.engine),
                                server::FormatAppOptionsFile(record.app), &again, &message)) {
    std::abort();
  }
  if (!(again == record)) std::abort();
  return 0;
}
