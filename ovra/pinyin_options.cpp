// SPDX-License-Identifier: Apache-2.0
#include "ovra/pinyin_options.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>

namespace kavi::win {
namespace {

constexpr FuzzySound kFuzzySounds[] = {
    {"zh_z", "z = zh"},         {"ch_c", "c = ch"},     {"sh_s", "s = sh"},
    {"l_n", "l = n"},           {"f_h", "f = h"},       {"an_ang", "an = ang"},
    {"en_eng", "en = eng"},     {"in_ing", "in = ing"}, {"ian_iang", "ian = iang"},
    {"uan_uang", "uan = uang"},
};

constexpr char kHeader[] =
    "# Your pinyin options, added to every pinyin scheme. Written by KaviSettings\n"
    "# (--set fuzzy=...); the choices are listed by KaviSettings --page=input.\n";

}  // namespace

std::span<const FuzzySound> FuzzySounds() {
  return kFuzzySounds;
}

bool IsFuzzySound(std::string_view name) {
  return std::any_of(std::begin(kFuzzySounds), std::end(kFuzzySounds),
                     [name](const FuzzySound& sound) { return sound.name == name; });
}

bool ParseUserPinyinOptions(const std::string& text, UserPinyinOptions* options,
                            std::vector<std::string>* problems, std::string* message) {
  UserPinyinOptions result;
  std::vector<std::string> found;
  try {
    const YAML::Node root = YAML::Load(text);
    if (root.IsNull()) {
      *options = {};
      problems->clear();
      message->clear();
      return true;
    }
    if (!root.IsMap()) {
      *message = "the options are not a mapping";
      return false;
    }
    const YAML::Node pinyin = root["pinyin"];
    if (pinyin && !pinyin.IsMap() && !pinyin.IsNull()) {
      *message = "\"pinyin\" is not a mapping";
      return false;
    }
    const YAML::Node fuzzy = pinyin && pinyin.IsMap() ? pinyin["fuzzy"] : YAML::Node();
    if (fuzzy && !fuzzy.IsSequence() && !fuzzy.IsNull()) {
      *message = "\"fuzzy\" is not a list";
      return false;
    }
    if (fuzzy && fuzzy.IsSequence()) {
      for (const YAML::Node& entry : fuzzy) {
        const std::string name = entry.IsScalar() ? entry.Scalar() : std::string();
        if (!IsFuzzySound(name)) {
          found.push_back("unknown fuzzy sound \"" + name + "\" left out");
        } else if (std::find(result.fuzzy.begin(), result.fuzzy.end(), name) ==
                   result.fuzzy.end()) {
          result.fuzzy.push_back(name);
        }
      }
    }
  } catch (const YAML::Exception& e) {
    *message = std::string("bad YAML: ") + e.what();
    return false;
  }
  *options = std::move(result);
  *problems = std::move(found);
  message->clear();
  return true;
}

std::string UserPinyinOptionsText(const UserPinyinOptions& options) {
  std::string text = kHeader;
  text += "pinyin:\n  fuzzy: [";
  for (size_t i = 0; i < options.fuzzy.size(); ++i) {
    if (i > 0) text += ", ";
    text += options.fuzzy[i];
  }
  text += "]\n";
  return text;
}

}  // namespace kavi::win
