// SPDX-License-Identifier: Apache-2.0
// YAML themes: the shipped catalog "_.yaml", one file per theme id, and the choice between the
// built-in and the user themes directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "style/candidate_style.h"

namespace kavi::win {

inline constexpr char kThemeCatalogFileName[] = "_.yaml";
inline constexpr char kThemeFileExtension[] = ".yaml";
inline constexpr size_t kMaxThemeIdLength = 64;
inline constexpr uintmax_t kMaxThemeFileSize = 262144;

// 1 to 64 characters, each a-z, 0-9 or _.
bool IsValidThemeId(std::string_view id);

// Resets the style to the defaults and then to the light or dark base colours.
void ResetToBaseStyle(bool dark, CandidateStyle* style);

// The shipped theme ids of the built-in directory's catalog, in catalog order.
bool LoadThemeCatalog(const std::filesystem::path& builtin_dir, std::vector<std::string>* ids,
                      std::string* message);

// Reads <dir>/<id>.yaml over the base colours. On failure *style is left untouched.
bool LoadThemeFile(const std::filesystem::path& dir, std::string_view id, bool dark,
                   CandidateStyle* style, std::string* message);

// Loads a theme from the built-in directory when the catalog lists it, else from the user
// directory with the built-in directory as fallback.
bool LoadTheme(const std::filesystem::path& builtin_dir, const std::filesystem::path& user_dir,
               std::string_view id, bool dark, CandidateStyle* style, std::string* message);

// The floating toolbar's colours a theme may define ("status_bar_back_color",
// "status_bar_border_color", "status_bar_text_color", "status_bar_hilited_back_color",
// "status_bar_hilited_text_color"), each read like the theme's other colours.
struct ThemeStatusBarColors {
  std::optional<StyleColor> back, border, text, hilited_back, hilited_text;
};

// Reads them from the theme the id names (the directory chosen as LoadTheme chooses it).
bool LoadThemeStatusBarColors(const std::filesystem::path& builtin_dir,
                              const std::filesystem::path& user_dir, std::string_view id,
                              bool dark, ThemeStatusBarColors* colors, std::string* message);

}  // namespace kavi::win
