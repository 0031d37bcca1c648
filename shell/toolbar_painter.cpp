// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_painter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kavi::win {
namespace {

constexpr double kTextPoints = 11.0;
constexpr double kSymbolPoints = 12.0;
constexpr double kButtonRadius = 4.0;

void SetColor(cairo_t* cr, const StyleColor& c) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void DrawCenteredText(cairo_t* cr, const ToolbarRect& rect, const char* text, const char* family,
                      double points) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, family);
  pango_font_description_set_absolute_size(font, points * 96.0 / 72.0 * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, text, -1);
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout, &ink, &logical);
  const double x = rect.x + (rect.width - ink.width) / 2.0 - ink.x;
  const double y = rect.y + (rect.height - ink.height) / 2.0 - ink.y;
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
}

// A microphone: a capsule, the cradle arc under it, the stem and the base.
void DrawMicrophone(cairo_t* cr, const ToolbarRect& rect, double scale) {
  const double cx = rect.x + rect.width / 2.0;
  const double cy = rect.y + rect.height / 2.0 - 1;
  const double w = 3.2 * scale, h = 5.5 * scale;
  cairo_set_line_width(cr, 1.4);
  RoundedRectanglePath(cr, cx - w, cy - h - 1, 2 * w, 2 * h - 1, w);
  cairo_fill(cr);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, 5.8 * scale, 0, std::numbers::pi);
  cairo_stroke(cr);
  cairo_move_to(cr, cx, cy + 5.8 * scale);
  cairo_line_to(cr, cx, cy + 8.5 * scale);
  cairo_move_to(cr, cx - 3.5 * scale, cy + 8.5 * scale);
  cairo_line_to(cr, cx + 3.5 * scale, cy + 8.5 * scale);
  cairo_stroke(cr);
}

void DrawGrip(cairo_t* cr, const ToolbarPalette& palette) {
  StyleColor dots = palette.text;
  dots.a *= 0.45f;
  SetColor(cr, dots);
  for (int column = 0; column < 2; ++column)
    for (int row = 0; row < 4; ++row) {
      cairo_arc(cr, 11.5 + column * 5, 10.5 + row * 5, 1.2, 0, 2 * std::numbers::pi);
      cairo_fill(cr);
    }
}

const char* ButtonText(ToolbarButton button, const ToolbarView& view) {
  switch (button) {
    case ToolbarButton::kInputMode:
      return view.ascii_mode ? "A" : "中";
    case ToolbarButton::kScript:
      return view.simplified_output ? "简" : "正";
    case ToolbarButton::kTranslate:
      return "译";
    case ToolbarButton::kSettings:
      return "⚙";
    default:
      return "";
  }
}

}  // namespace

void RoundedRectanglePath(cairo_t* cr, double x, double y, double width, double height,
                          double radius) {
  radius = std::min({radius, width / 2, height / 2});
  const double pi = std::numbers::pi;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + width - radius, y + radius, radius, -pi / 2, 0);
  cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, pi / 2);
  cairo_arc(cr, x + radius, y + height - radius, radius, pi / 2, pi);
  cairo_arc(cr, x + radius, y + radius, radius, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

void PaintToolbar(cairo_t* cr, const ToolbarView& view, const ToolbarPalette& palette) {
  const ToolbarRect size = ToolbarSize(view.shape);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, 0, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

  RoundedRectanglePath(cr, 0.5, 0.5, size.width - 1, size.height - 1, palette.corner_radius);
  SetColor(cr, palette.background);
  cairo_fill_preserve(cr);
  SetColor(cr, palette.border);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  if (view.shape == ToolbarShape::kStandard) DrawGrip(cr, palette);

  for (const ToolbarButtonPlace& place : ToolbarButtons(view.shape)) {
    const bool lit = place.button == view.pressed || place.button == view.hovered ||
                     (place.button == ToolbarButton::kMicrophone && view.recording);
    if (lit) {
      StyleColor fill = palette.highlight;
      // Hover is a lighter wash than a press or a running recording.
      if (place.button != view.pressed &&
          !(place.button == ToolbarButton::kMicrophone && view.recording))
        fill.a *= 0.55f;
      SetColor(cr, fill);
      RoundedRectanglePath(cr, place.rect.x, place.rect.y, place.rect.width, place.rect.height,
                           kButtonRadius);
      cairo_fill(cr);
    }
    SetColor(cr, lit ? palette.highlighted_text : palette.text);
    if (place.button == ToolbarButton::kMicrophone) {
      DrawMicrophone(cr, place.rect, std::min(view.text_scale, 1.25));
    } else if (place.button == ToolbarButton::kSettings) {
      DrawCenteredText(cr, place.rect, ButtonText(place.button, view), kToolbarSymbolFont,
                       kSymbolPoints * view.text_scale);
    } else {
      DrawCenteredText(cr, place.rect, ButtonText(place.button, view), kToolbarTextFont,
                       kTextPoints * view.text_scale);
    }
  }
  cairo_restore(cr);
}

bool PaintToolbarPng(const std::filesystem::path& file, const ToolbarView& view,
                     const ToolbarPalette& palette, double scale, std::string* message) {
  const ToolbarRect size = ToolbarSize(view.shape);
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(size.width * scale)),
      static_cast<int>(std::ceil(size.height * scale)));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  PaintToolbar(cr, view, palette);
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    if (message) *message = file.string() + ": " + cairo_status_to_string(status);
    return false;
  }
  if (message) message->clear();
  return true;
}

}  // namespace kavi::win
