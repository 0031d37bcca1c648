// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_palette.h"

#include <algorithm>

#include "config/themes/theme_color.h"
#include "config/themes/theme_loader.h"

namespace kavi::win {
namespace {

constexpr int kMaxCornerRadius = 20;

// COLORREF values (0xBBGGRR).
constexpr StyleColor ColorRef(unsigned bgr) {
  return RgbColor((bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF));
}

}  // namespace

ToolbarPalette DefaultToolbarPalette(bool dark) {
  if (dark)
    return {ColorRef(0x302C2B), ColorRef(0x55504E), ColorRef(0xE6E1DE), ColorRef(0xD08A4A),
            ColorRef(0xFFFFFF)};
  return {ColorRef(0xF6F9FA), ColorRef(0xE0E0E0), ColorRef(0x424242), ColorRef(0xF0A966),
          ColorRef(0xFFFFFF)};
}

ToolbarPalette ResolveToolbarPalette(const ToolbarPaletteSettings& settings, bool dark) {
  ToolbarPalette palette = DefaultToolbarPalette(dark);
  palette.corner_radius = std::clamp(settings.corner_radius, 0, kMaxCornerRadius);
  if (settings.follow_theme) {
    ThemeStatusBarColors theme;
    if (LoadThemeStatusBarColors(settings.builtin_themes_dir, settings.user_themes_dir,
                                 settings.theme, dark, &theme, nullptr)) {
      if (theme.back) palette.background = *theme.back;
      if (theme.border) palette.border = *theme.border;
      if (theme.text) palette.text = *theme.text;
      if (theme.hilited_back) palette.highlight = *theme.hilited_back;
      if (theme.hilited_text) palette.highlighted_text = *theme.hilited_text;
    }
    return palette;
  }
  ParseThemeColor(settings.back_color, &palette.background);
  ParseThemeColor(settings.border_color, &palette.border);
  ParseThemeColor(settings.text_color, &palette.text);
  ParseThemeColor(settings.hilited_back_color, &palette.highlight);
  ParseThemeColor(settings.hilited_text_color, &palette.highlighted_text);
  return palette;
}

}  // namespace kavi::win
