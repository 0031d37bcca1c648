// SPDX-License-Identifier: Apache-2.0
// Draws the toolbar with Cairo and Pango: the rounded background, the grip, the five buttons
// (or the mini toolbar's) with their glyphs, hover and pressed highlights. The window and the
// screenshots use this same code.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <string>

#include "shell/toolbar_layout.h"
#include "shell/toolbar_palette.h"

namespace kavi::win {

struct ToolbarView {
  ToolbarShape shape = ToolbarShape::kStandard;
  bool ascii_mode = false;
  bool simplified_output = true;
  bool recording = false;
  ToolbarButton hovered = ToolbarButton::kNoButton;
  ToolbarButton pressed = ToolbarButton::kNoButton;
  // Screen DPI / 96: text scales with it.
  double text_scale = 1.0;
};

inline constexpr char kToolbarTextFont[] = "Noto Sans CJK TC";
inline constexpr char kToolbarSymbolFont[] = "DejaVu Sans";

// Paints the whole toolbar of view.shape at the context's origin.
void PaintToolbar(cairo_t* cr, const ToolbarView& view, const ToolbarPalette& palette);

// The same picture as a PNG file, for screenshots, `scale` times the window's size.
bool PaintToolbarPng(const std::filesystem::path& file, const ToolbarView& view,
                     const ToolbarPalette& palette, double scale, std::string* message);

// Traces a rounded rectangle path.
void RoundedRectanglePath(cairo_t* cr, double x, double y, double width, double height,
                          double radius);

}  // namespace kavi::win
