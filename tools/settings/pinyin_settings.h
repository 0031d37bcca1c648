// SPDX-License-Identifier: Apache-2.0
// The fuzzy sounds as a setting of the input page: the key "fuzzy", a comma-separated list of
// fuzzy sound names ("zh_z,an_ang"; empty for none). They live in the user's pinyin options
// file beside the configuration, which the server adds to every pinyin scheme and follows while
// it runs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "ovra/pinyin_options.h"

namespace kavi::win {

inline constexpr std::string_view kFuzzyKey = "fuzzy";
inline constexpr std::string_view kFuzzyPage = "input";

// What the key accepts, for the pages and for error messages.
std::string AllowedFuzzy();
// Checks a value and gives the options it stands for; false with the reason as it follows the
// key's name.
bool ParseFuzzy(std::string_view text, UserPinyinOptions* options, std::string* reason);
// The value as the command line and --list show it.
std::string FuzzyText(const UserPinyinOptions& options);

// The user's options in a configuration directory: none when the file is missing or not usable
// (the server then uses none either); `problem` says why a file present was not usable.
UserPinyinOptions ReadPinyinSettings(const std::filesystem::path& config_directory,
                                     std::string* problem);
// Replaces the user's options file atomically; false with a message when it cannot be written.
bool WritePinyinSettings(const std::filesystem::path& config_directory,
                         const UserPinyinOptions& options, std::string* message);

}  // namespace kavi::win
