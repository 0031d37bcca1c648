// SPDX-License-Identifier: Apache-2.0
#include "candidate/frame_painter.h"

#include <algorithm>
#include <cmath>

#include "candidate/candidate_painter.h"
#include "candidate/window_frame.h"

namespace kavi::win {

namespace {

cairo_surface_t* EnsureSurface(cairo_surface_t** surface, int width, int height) {
  if (*surface && cairo_image_surface_get_width(*surface) >= width &&
      cairo_image_surface_get_height(*surface) >= height) {
    return *surface;
  }
  if (*surface) cairo_surface_destroy(*surface);
  *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  return *surface;
}

// Copies the area of `from` onto `to` as it is.
void Blit(cairo_t* cr, cairo_surface_t* from, const PixelRect& area) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, from, 0, 0);
  cairo_rectangle(cr, area.x, area.y, area.width, area.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

bool SamePreedit(const CandidateContent& a, const CandidateContent& b) {
  return TextFieldView(a.reply.preedit) == TextFieldView(b.reply.preedit) &&
         a.reply.selection_start == b.reply.selection_start &&
         a.reply.selection_end == b.reply.selection_end;
}

bool SameArrows(const CandidateContent& a, const CandidateContent& b) {
  return (a.reply.page_number > 0) == (b.reply.page_number > 0) &&
         (a.reply.last_page == 0) == (b.reply.last_page == 0);
}

}  // namespace

FramePainter::~FramePainter() {
  Reset();
  if (canvas_) cairo_surface_destroy(canvas_);
}

void FramePainter::Reset() {
  if (chrome_) cairo_surface_destroy(chrome_);
  chrome_ = nullptr;
  chrome_background_ = nullptr;
  has_last_ = false;
}

bool FramePainter::ChromeFits(const FrameInput& in) const {
  return chrome_ && chrome_scale_ == in.scale && chrome_background_ == in.background &&
         chrome_layout_ == *in.layout && chrome_style_ == *in.style;
}

void FramePainter::PaintChromeSurface(const FrameInput& in, int width, int height) {
  if (chrome_) cairo_surface_destroy(chrome_);
  chrome_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(chrome_);
  ClipToWindowOutline(cr, in.scale, *in.style, *in.layout);
  cairo_scale(cr, in.scale, in.scale);
  PaintChrome(cr, *in.style, *in.layout, in.background);
  cairo_destroy(cr);
  chrome_style_ = *in.style;
  chrome_layout_ = *in.layout;
  chrome_scale_ = in.scale;
  chrome_background_ = in.background;
}

cairo_surface_t* FramePainter::Canvas(cairo_surface_t* target, int width, int height, bool opaque) {
  return opaque ? target : EnsureSurface(&canvas_, width, height);
}

void FramePainter::Compose(cairo_surface_t* target, const FrameInput& in, const PixelRect& area,
                           bool whole) {
  cairo_t* cr = cairo_create(target);
  // A row lies inside the insets, clear of the rounded outline.
  if (!whole) {
    cairo_rectangle(cr, area.x, area.y, area.width, area.height);
    cairo_clip(cr);
  }
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  if (whole) ClipToWindowOutline(cr, in.scale, *in.style, *in.layout);
  cairo_set_source_surface(cr, canvas_, 0, 0);
  cairo_paint_with_alpha(cr, WindowAlpha(*in.style) / 255.0);
  cairo_destroy(cr);
}

void FramePainter::Paint(cairo_surface_t* target, const FrameInput& in) {
  const int width = FramePixels(in.layout->width, in.scale);
  const int height = FramePixels(in.layout->height, in.scale);
  if (!ChromeFits(in)) PaintChromeSurface(in, width, height);
  const bool opaque = WindowAlpha(*in.style) == 255;
  cairo_surface_t* canvas = Canvas(target, width, height, opaque);
  cairo_t* cr = cairo_create(canvas);
  Blit(cr, chrome_, {0, 0, width, height});
  cairo_scale(cr, in.scale, in.scale);
  PaintContent(cr, *in.content, *in.style, *in.layout, *in.text);
  cairo_destroy(cr);
  if (!opaque) Compose(target, in, {0, 0, width, height}, true);
  last_content_ = *in.content;
  has_last_ = true;
}

bool FramePainter::ChangedRows(const FrameInput& in, std::vector<int>* rows) const {
  rows->clear();
  // Below one pixel per DIP a row's highlight could reach into its neighbour's pixels.
  if (!has_last_ || in.scale < 1 || !ChromeFits(in)) return false;
  const CandidateContent& now = *in.content;
  const CandidateContent& last = last_content_;
  if (now.panel_mode != last.panel_mode || now.RowCount() != last.RowCount() ||
      now.panel_rows_per_page != last.panel_rows_per_page) {
    return false;
  }
  if (in.layout->metrics.preedit_shown && !SamePreedit(now, last)) return false;
  if (in.layout->paging && !SameArrows(now, last)) return false;
  const int count = std::min<int>(now.RowCount(), static_cast<int>(in.layout->items.size()));
  for (int i = 0; i < count; ++i) {
    if (now.RowText(i) != last.RowText(i) || now.RowComment(i) != last.RowComment(i) ||
        (i == now.HighlightedRow()) != (i == last.HighlightedRow())) {
      rows->push_back(i);
    }
  }
  return true;
}

PixelRect FramePainter::RowPixels(const FrameInput& in, int row) const {
  const LayoutRect& r = in.layout->items[static_cast<size_t>(row)];
  const int left = static_cast<int>(std::floor(r.left * in.scale));
  const int top = static_cast<int>(std::floor(r.top * in.scale));
  const int right = static_cast<int>(std::ceil(r.right * in.scale));
  const int bottom = static_cast<int>(std::ceil(r.bottom * in.scale));
  return {left, top, right - left, bottom - top};
}

std::vector<PixelRect> FramePainter::PaintRows(cairo_surface_t* target, const FrameInput& in,
                                               const std::vector<int>& rows) {
  std::vector<PixelRect> damage;
  const int width = FramePixels(in.layout->width, in.scale);
  const int height = FramePixels(in.layout->height, in.scale);
  const bool opaque = WindowAlpha(*in.style) == 255;
  cairo_surface_t* canvas = Canvas(target, width, height, opaque);
  for (int row : rows) {
    const PixelRect area = RowPixels(in, row);
    cairo_t* cr = cairo_create(canvas);
    cairo_rectangle(cr, area.x, area.y, area.width, area.height);
    cairo_clip(cr);
    Blit(cr, chrome_, area);
    cairo_scale(cr, in.scale, in.scale);
    PaintRow(cr, row, *in.content, *in.style, *in.layout, *in.text);
    cairo_destroy(cr);
    if (!opaque) Compose(target, in, area, false);
    damage.push_back(area);
  }
  last_content_ = *in.content;
  return damage;
}

}  // namespace kavi::win
