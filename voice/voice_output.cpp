// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_output.h"

#include "platform/log.h"

namespace kavi::win {
namespace {

constexpr char kWhitespace[] = " \t\r\n";

}  // namespace

std::string TrimVoiceText(std::string_view text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kWhitespace) - first + 1));
}

std::string ApplyOutputLanguage(const std::string& text, const std::string& target,
                                bool bilingual, const ScriptConverter& converter,
                                const TextTranslator& translator) {
  std::string converted;
  if (target == kFollowLanguage) {
    converted = converter ? converter(text, kFollowLanguage) : text;
  } else if (!translator) {
    converted = text;
  } else {
    std::string error;
    if (!translator(text, target, &converted, &error)) {
      LogLine("[Kavi] 語音輸出語言轉換失敗，降級使用原文\n");
      converted = text;
    }
  }
  converted = TrimVoiceText(converted);
  if (bilingual && !converted.empty() && converted != text) {
    std::string original = text;
    if (converter && target == "cn")
      original = converter(text, "cn");
    else if (converter && (target == "tw" || target == "hk" || target == "wyw"))
      original = converter(text, "tw");
    return TrimVoiceText(original) + kBilingualSeparator + converted;
  }
  return converted.empty() ? text : converted;
}

}  // namespace kavi::win
