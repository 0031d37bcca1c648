// SPDX-License-Identifier: Apache-2.0
#include "candidate/text_language.h"

namespace kavi::win {

std::string TextLanguageFor(bool simplified, std::string_view locale) {
  if (simplified) return kSimplifiedTextLanguage;
  // "zh_HK.UTF-8", "zh_MO", "zh-HK".
  if (locale.size() >= 5 && locale.substr(0, 2) == "zh" && (locale[2] == '_' || locale[2] == '-')) {
    const std::string_view region = locale.substr(3, 2);
    if (region == "HK" || region == "MO") return kHongKongTextLanguage;
  }
  return kTraditionalTextLanguage;
}

}  // namespace kavi::win
