// SPDX-License-Identifier: Apache-2.0
// What dictated text becomes before it is typed: the output language (the script of the
// configuration, or a translation by the service) and, when asked for, the original and the
// converted text together.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kFollowLanguage[] = "follow";
inline constexpr char kBilingualSeparator[] = "\n----\n";

// Converts text to a script: target "follow" (the configured one), "cn" (simplified) or "tw"
// (traditional).
using ScriptConverter =
    std::function<std::string(const std::string& text, const std::string& target)>;
// Translates text to a language code; false when the service fails.
using TextTranslator = std::function<bool(const std::string& text, const std::string& target,
                                          std::string* translation, std::string* error)>;

// The text without spaces, tabs, carriage returns and line feeds at either end.
std::string TrimVoiceText(std::string_view text);

// `converter` and `translator` may be empty (no converter, no service): the text then stays as
// it is. A failed translation is logged and leaves the text as it is too.
std::string ApplyOutputLanguage(const std::string& text, const std::string& target,
                                bool bilingual, const ScriptConverter& converter,
                                const TextTranslator& translator);

}  // namespace kavi::win
