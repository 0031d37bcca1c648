// SPDX-License-Identifier: Apache-2.0
// Tidying dictated text by rules: punctuation in Chinese context becomes full-width, full-width
// letters and digits become half-width, Chinese and Latin text are spaced apart, filler
// syllables and repeated punctuation are dropped, and a sentence gets its closing stop.
#pragma once

#include <string>
#include <string_view>

namespace kavi::service {

struct PolishOptions {
  bool full_width_punctuation = true;    // "，" rather than "," next to Chinese
  bool half_width_alphanumerics = true;  // "Ａ１" -> "A1"
  bool space_chinese_latin = true;       // "用Kavi輸入" -> "用 Kavi 輸入"
  bool drop_fillers = true;              // "嗯", "呃" and the like between phrases
  bool closing_stop = true;              // a Chinese sentence ends with "。"
};

// Reads {"text": ..., "options": {"punctuation": bool, "width": bool, "spacing": bool,
// "fillers": bool, "closing_stop": bool}} (each option optional). False with a message.
bool ParsePolishRequest(std::string_view body, std::string* text, PolishOptions* options,
                        std::string* error);

std::string PolishText(std::string_view text, const PolishOptions& options);

}  // namespace kavi::service
