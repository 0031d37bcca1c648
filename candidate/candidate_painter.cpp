// SPDX-License-Identifier: Apache-2.0
#include "candidate/candidate_painter.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kavi::win {

namespace {

constexpr double kBackgroundCandidateAlphaCap = 0.25;

void SetColor(cairo_t* cr, const StyleColor& c, double alpha_cap = 1.0) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, std::min<double>(c.a, alpha_cap));
}

void RoundedRectangle(cairo_t* cr, const LayoutRect& r, double radius) {
  radius = std::clamp(radius, 0.0, std::min(r.Width(), r.Height()) / 2);
  if (radius <= 0) {
    cairo_rectangle(cr, r.left, r.top, r.Width(), r.Height());
    return;
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.right - radius, r.top + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, r.right - radius, r.bottom - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, r.left + radius, r.bottom - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, r.left + radius, r.top + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// A selection offset may fall inside a character; measure up to the character's start.
std::string_view PrefixAtCharacter(std::string_view text, size_t bytes) {
  while (bytes > 0 && bytes < text.size() &&
         (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) {
    --bytes;
  }
  return text.substr(0, bytes);
}

void PaintPreedit(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                  const CandidateLayout& layout, TextRenderer& text) {
  const LayoutMetrics& m = layout.metrics;
  const double w = layout.width;
  const LayoutRect line{m.x0, m.y0, w - m.x0, m.y0 + m.preedit_line_height};
  SetColor(cr, style.preedit_back_color);
  cairo_rectangle(cr, line.left, line.top, line.Width(), line.Height());
  cairo_fill(cr);

  const std::string_view preedit = TextFieldView(content.reply.preedit);
  const size_t start = std::min<size_t>(content.reply.selection_start, preedit.size());
  const size_t end = std::clamp<size_t>(content.reply.selection_end, start, preedit.size());
  if (start < end) {
    const double from =
        m.x0 + 4 + text.MeasureWidth(TextRole::Candidate, PrefixAtCharacter(preedit, start));
    const double to =
        std::min(m.x0 + 4 + text.MeasureWidth(TextRole::Candidate, PrefixAtCharacter(preedit, end)),
                 w - m.x0);
    if (to > from) {
      SetColor(cr, style.hilited_back_color);
      cairo_rectangle(cr, from, line.top + 2, to - from, line.Height() - 4);
      cairo_fill(cr);
    }
  }
  text.DrawText(cr, TextRole::Candidate, preedit,
                {m.x0 + 4, w - m.x0, line.top + m.preedit_baseline, false},
                style.candidate_text_color);
}

void PaintBorder(cairo_t* cr, const CandidateStyle& style, const CandidateLayout& layout) {
  const double b = std::min(style.border_height, style.border_width);
  if (b <= 0) return;
  const double pen = std::max(0.35 * b, 1.0);
  SetColor(cr, style.border_color);
  cairo_set_line_width(cr, pen);
  RoundedRectangle(cr, {pen / 2, pen / 2, layout.width - pen / 2, layout.height - pen / 2},
                   style.corner_radius);
  cairo_stroke(cr);
}

void PaintChevron(cairo_t* cr, double cx, double cy, double s, bool up) {
  const double dy = up ? s : -s;
  cairo_move_to(cr, cx - s, cy + dy);
  cairo_line_to(cr, cx, cy);
  cairo_line_to(cr, cx + s, cy + dy);
  cairo_stroke(cr);
}

void PaintPagingArrows(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                       const CandidateLayout& layout) {
  if (layout.previous_page.Empty() || layout.next_page.Empty()) return;
  const double s = std::clamp<double>(style.paging_width, 3, 12);
  cairo_set_line_width(cr, std::max(0.24 * style.paging_width, 1.0));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  const double cx = (layout.previous_page.left + layout.previous_page.right) / 2;
  const bool has_previous = content.reply.page_number > 0;
  const bool has_next = content.reply.last_page == 0;

  SetColor(cr, has_previous ? style.candidate_text_color : style.comment_text_color);
  PaintChevron(
      cr, cx,
      (layout.previous_page.top + layout.previous_page.bottom) / 2 + style.paging_arrow_offset, s,
      /*up=*/true);
  SetColor(cr, has_next ? style.candidate_text_color : style.comment_text_color);
  PaintChevron(cr, cx,
               (layout.next_page.top + layout.next_page.bottom) / 2 + style.paging_arrow_offset, s,
               /*up=*/false);
}

}  // namespace

void PaintChrome(cairo_t* cr, const CandidateStyle& style, const CandidateLayout& layout,
                 cairo_surface_t* background) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  SetColor(cr, style.back_color);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

  if (background) {
    const double image_w = cairo_image_surface_get_width(background);
    const double image_h = cairo_image_surface_get_height(background);
    if (image_w > 0 && image_h > 0) {
      cairo_save(cr);
      cairo_scale(cr, layout.width / image_w, layout.height / image_h);
      cairo_set_source_surface(cr, background, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
      // Stretched edges keep the picture's own colour instead of fading out.
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_paint(cr);
      cairo_restore(cr);
    }
  }

  if (!layout.items.empty() && (!background || !style.mutual_exclusive)) {
    SetColor(cr, style.candidate_back_color, background ? kBackgroundCandidateAlphaCap : 1.0);
    for (const LayoutRect& r : layout.items)
      cairo_rectangle(cr, r.left, r.top, r.Width(), r.Height());
    cairo_fill(cr);
  }
  PaintBorder(cr, style, layout);
  cairo_restore(cr);
}

void PaintRow(cairo_t* cr, int row, const CandidateContent& content, const CandidateStyle& style,
              const CandidateLayout& layout, TextRenderer& text) {
  const bool highlighted = row == content.HighlightedRow();
  const LayoutRect& r = layout.items[static_cast<size_t>(row)];
  const LayoutMetrics& m = layout.metrics;
  if (highlighted) {
    SetColor(cr, style.hilited_candidate_back_color);
    RoundedRectangle(cr, {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                     style.hilited_corner_radius);
    cairo_fill(cr);
  }
  const std::string_view comment = content.RowComment(row);
  RowTexts place =
      PlaceRowTexts(r, m, comment.empty() ? 0 : text.MeasureWidth(TextRole::Comment, comment));
  place.text.wrap = row == 0 && layout.first_text_lines > 1;
  text.DrawText(cr, TextRole::Label, RowLabel(row, content), place.label,
                highlighted ? style.hilited_candidate_label_color : style.label_color);
  text.DrawText(cr, TextRole::Candidate, content.RowText(row), place.text,
                highlighted ? style.hilited_candidate_text_color : style.candidate_text_color);
  if (!comment.empty()) {
    text.DrawText(cr, TextRole::Comment, comment, place.comment,
                  highlighted ? style.hilited_comment_text_color : style.comment_text_color);
  }
}

void PaintContent(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                  const CandidateLayout& layout, TextRenderer& text) {
  cairo_save(cr);
  // The preedit line keeps clear of the border (it starts at the insets, which are at least as
  // wide as the border's pen), so it may be drawn after it.
  if (layout.metrics.preedit_shown) PaintPreedit(cr, content, style, layout, text);
  const int rows = std::min<int>(content.RowCount(), static_cast<int>(layout.items.size()));
  for (int i = 0; i < rows; ++i) PaintRow(cr, i, content, style, layout, text);
  if (layout.paging) PaintPagingArrows(cr, content, style, layout);
  cairo_restore(cr);
}

void PaintCandidates(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                     const CandidateLayout& layout, TextRenderer& text,
                     cairo_surface_t* background) {
  PaintChrome(cr, style, layout, background);
  PaintContent(cr, content, style, layout, text);
}

}  // namespace kavi::win
