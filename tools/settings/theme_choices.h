// SPDX-License-Identifier: Apache-2.0
// The themes that the theme setting may name: the shipped catalogue's, then the user's own theme
// files, as the settings application's theme list shows them. A name outside them would leave
// the server drawing "native" without a word.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

class ThemeChoices {
 public:
  // The catalogue "_.yaml" and the shipped themes of `builtin_dir`; the user's *.yaml themes of
  // `user_dir`. Only themes that load are choices.
  ThemeChoices(std::filesystem::path builtin_dir, std::filesystem::path user_dir);

  // True when `id` is a choice; otherwise false with the reason as it follows the key's name
  // ("must be native 系統配色 | ...").
  bool Check(std::string_view id, std::string* reason) const;

  // "native 系統配色 | ink_wash 水墨 | ...", or why there is nothing to choose from.
  std::string Describe() const;

 private:
  struct Choice {
    std::string id;
    std::string name;
  };
  std::filesystem::path builtin_dir_;
  std::string catalogue_error_;
  std::vector<Choice> choices_;
};

// The themes directory of the data folder beside the program, where the catalogue is installed.
std::filesystem::path InstalledThemesDirectory();
// The user's own themes: "themes" in the configuration directory.
std::filesystem::path UserThemesDirectory(const std::filesystem::path& config_directory);

}  // namespace kavi::win
