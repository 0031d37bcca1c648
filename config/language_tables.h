// SPDX-License-Identifier: Apache-2.0
// The languages that voice output and translation offer, with the names the user sees. The
// configuration validates codes against them; the tray menu, the translation command and the
// voice controller show the display names.
#pragma once

#include <span>
#include <string_view>

namespace kavi::win {

struct LanguageEntry {
  std::string_view code;
  std::string_view display_name;
};

namespace server {

// 33 rows, "follow" first; the tray menu indexes this table.
std::span<const LanguageEntry> VoiceOutputLanguages();
// 32 rows, "dict" first.
std::span<const LanguageEntry> TranslateTargetLanguages();

bool IsVoiceOutputLanguage(std::string_view code);
bool IsTranslateTargetLanguage(std::string_view code);

}  // namespace server
}  // namespace kavi::win
