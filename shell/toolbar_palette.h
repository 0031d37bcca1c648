// SPDX-License-Identifier: Apache-2.0
// The toolbar's colours and corner radius: the built-in light or dark palette, the user's own
// status-bar colours, or the current theme's status-bar colours when the toolbar follows it.
#pragma once

#include <filesystem>
#include <string>

#include "style/candidate_style.h"

namespace kavi::win {

struct ToolbarPalette {
  StyleColor background, border, text, highlight, highlighted_text;
  int corner_radius = 6;
  bool operator==(const ToolbarPalette&) const = default;
};

// What the palette is resolved from (the status-bar settings and the theme).
struct ToolbarPaletteSettings {
  bool follow_theme = true;
  std::string theme;
  std::filesystem::path builtin_themes_dir;
  std::filesystem::path user_themes_dir;
  // "0x" strings in 0xBBGGRR order, used when the toolbar does not follow the theme.
  std::string back_color, border_color, text_color, hilited_back_color, hilited_text_color;
  int corner_radius = 6;
};

ToolbarPalette DefaultToolbarPalette(bool dark);

// Following the theme: the theme's status-bar colours where it defines them, the built-in
// palette elsewhere. Not following: the user's colours where they parse, the built-in palette
// elsewhere. The radius is clamped to 0..20.
ToolbarPalette ResolveToolbarPalette(const ToolbarPaletteSettings& settings, bool dark);

}  // namespace kavi::win
