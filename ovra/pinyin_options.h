// SPDX-License-Identifier: Apache-2.0
// The user's own pinyin options: a scheme-file section kept in the user-data root and merged
// over every pinyin scheme (full pinyin and shuangpin), so that the shipped scheme files stay as
// they are. KaviSettings writes it ("--set fuzzy=zh_z,an_ang"); people may edit it by hand.
//
//   pinyin:
//     fuzzy: [zh_z, an_ang]   # fuzzy sounds, added to the scheme's own spelling corrections
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ovra/engine_api.h"

namespace kavi::win {

inline constexpr std::string_view kUserPinyinOptionsFile = KAVI_USER_PINYIN_OPTIONS_FILE;

// A pair of sounds that a fuzzy sound lets stand for each other.
struct FuzzySound {
  std::string_view name;   // as the files and the command line write it
  std::string_view label;  // what the settings show
};

// The fuzzy sounds a user may turn on, in the order the settings show them.
std::span<const FuzzySound> FuzzySounds();
bool IsFuzzySound(std::string_view name);

struct UserPinyinOptions {
  std::vector<std::string> fuzzy;  // names of FuzzySounds(), each once, in the order written
  bool operator==(const UserPinyinOptions&) const = default;
};

// Reads the file's text. Names that are not fuzzy sounds are left out, each with a line in
// `problems`; the rest is kept. False with a message when the text is not such a file at all
// (bad YAML, a "pinyin" that is not a mapping): nothing is taken from it. Empty text is a file
// with no options.
bool ParseUserPinyinOptions(const std::string& text, UserPinyinOptions* options,
                            std::vector<std::string>* problems, std::string* message);

// The file's text for `options`.
std::string UserPinyinOptionsText(const UserPinyinOptions& options);

}  // namespace kavi::win
