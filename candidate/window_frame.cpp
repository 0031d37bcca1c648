// SPDX-License-Identifier: Apache-2.0
#include "candidate/window_frame.h"

#include <algorithm>
#include <cmath>

#include "candidate/candidate_painter.h"

namespace kavi::win {

int WindowAlpha(const CandidateStyle& style) {
  double a = style.alpha;
  if (style.translucency) a = std::min(a, kTranslucentAlphaCap);
  a = std::clamp(a, 0.0, 1.0);
  return static_cast<int>(a * 255);
}

int FramePixels(double dips, double scale) {
  return std::max(static_cast<int>(dips * scale), 1);
}

void ClipToWindowOutline(cairo_t* cr, double scale, const CandidateStyle& style,
                         const CandidateLayout& layout) {
  // The outline the window is cut to: a rounded rectangle of the frame's pixel size.
  const double w = FramePixels(layout.width, scale);
  const double h = FramePixels(layout.height, scale);
  const double r = std::clamp(style.corner_radius * scale, 0.0, std::min(w, h) / 2);
  cairo_new_sub_path(cr);
  cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
  cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
  cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
  cairo_clip(cr);
}

void PaintWindowFrame(cairo_t* cr, double scale, const CandidateContent& content,
                      const CandidateStyle& style, const CandidateLayout& layout,
                      TextRenderer& text, cairo_surface_t* background) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

  const int alpha = WindowAlpha(style);
  // An opaque window needs no intermediate group.
  if (alpha < 255) cairo_push_group(cr);
  cairo_save(cr);
  ClipToWindowOutline(cr, scale, style, layout);
  cairo_scale(cr, scale, scale);
  PaintChrome(cr, style, layout, background);
  cairo_restore(cr);
  // The content keeps inside the insets, clear of the rounded corners: it needs no clip, and
  // text drawn through one costs twice as much.
  cairo_scale(cr, scale, scale);
  PaintContent(cr, content, style, layout, text);
  if (alpha < 255) {
    cairo_pop_group_to_source(cr);
    cairo_identity_matrix(cr);
    ClipToWindowOutline(cr, scale, style, layout);
    cairo_paint_with_alpha(cr, alpha / 255.0);
  }
  cairo_restore(cr);
}

}  // namespace kavi::win
