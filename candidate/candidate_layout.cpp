// SPDX-License-Identifier: Apache-2.0
#include "candidate/candidate_layout.h"

#include <algorithm>
#include <cmath>

namespace kavi::win {

namespace {

constexpr double kHorizontalLabelWidth = 24;
constexpr double kVerticalLabelWidth = 34;
constexpr double kHorizontalCommentCap = 64;
constexpr double kVerticalCommentCap = 110;
constexpr double kMinInsetX = 10;
constexpr double kMinInsetY = 5;
constexpr double kMinWindowWidth = 96;
constexpr double kCommentShare = 0.35;

double MeasureOrEstimate(const TextMeasurer& measurer, TextRole role, std::string_view text,
                         float point) {
  if (text.empty()) return 0;
  double width = measurer.MeasureWidth(role, text);
  if (width <= 0) width = static_cast<double>(Utf16Length(text)) * point;
  return width;
}

// Where the baseline goes so that the band of the tallest font sits in the middle of a line of
// the given height.
double CentredBaseline(double line_height, double ascent, double descent) {
  return (line_height - (ascent + descent)) / 2 + ascent;
}

// Packs horizontal items into lines of at most `available`, in order. Full lines share their
// free width out evenly, as a single line does; the last line keeps its items' own widths.
void WrapIntoLines(std::vector<double>* widths, double available, std::vector<int>* line_of) {
  const size_t n = widths->size();
  line_of->assign(n, 0);
  size_t begin = 0;
  int line = 0;
  while (begin < n) {
    size_t end = begin;
    double sum = 0;
    while (end < n && (end == begin || sum + (*widths)[end] <= available)) sum += (*widths)[end++];
    if (end < n) {
      const double share = (available - sum) / static_cast<double>(end - begin);
      for (size_t i = begin; i < end; ++i) (*widths)[i] += std::max(share, 0.0);
    }
    for (size_t i = begin; i < end; ++i) (*line_of)[i] = line;
    begin = end;
    ++line;
  }
}

}  // namespace

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;
    units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

bool PreeditLineShown(const CandidateContent& content) {
  return !content.panel_mode && content.reply.tail_flag == 0 && content.reply.has_preedit != 0 &&
         content.reply.preedit[0] != 0;
}

bool PagingFlag(const CandidateStyle& style, const PipeResponse& reply) {
  if (!style.show_paging) return false;
  if (reply.page_number > 0) return reply.menu_count > 1;
  return reply.last_page == 0 && reply.menu_count >= 2;
}

LayoutMetrics DeriveMetrics(const CandidateStyle& style, const CandidateContent& content,
                            const TextMeasurer& measurer) {
  LayoutMetrics m;
  const double extra = style.surrounding_extra_expansion;
  m.x0 = std::max<double>(style.corner_radius + style.border_width, kMinInsetX) + extra;
  m.y0 = std::max<double>(style.border_height, kMinInsetY) + extra;
  m.bottom_inset = m.y0;
  m.row_height = std::max({style.font_point, style.label_font_point, style.comment_font_point}) +
                 14.0 + style.line_spacing;
  m.preedit_shown = PreeditLineShown(content);
  m.preedit_line_height = m.preedit_shown ? style.font_point + 10.0 + style.spacing : 0;
  m.label_width = content.horizontal ? kHorizontalLabelWidth : kVerticalLabelWidth;
  m.comment_cap = content.horizontal ? kHorizontalCommentCap : kVerticalCommentCap;

  // Texts are centred on what their fonts really take above and below the baseline, not hung
  // from a fixed offset below the row's top: a CJK font's line box is far taller above the
  // ideographs than below them, and a smaller label font would sit higher than the candidates.
  const TextBand candidate = measurer.Band(TextRole::Candidate);
  double ascent = candidate.ascent;
  double descent = candidate.descent;
  for (TextRole role : {TextRole::Label, TextRole::Comment}) {
    const TextBand band = measurer.Band(role);
    ascent = std::max(ascent, band.ascent);
    descent = std::max(descent, band.descent);
  }
  m.row_baseline = CentredBaseline(m.row_height, ascent, descent) + style.base_offset;
  m.preedit_baseline = CentredBaseline(style.font_point + 10.0 + style.spacing, candidate.ascent,
                                       candidate.descent) +
                       style.base_offset;
  m.text_line_height = candidate.line_height > 0 ? candidate.line_height : style.font_point;
  return m;
}

double PagingZoneWidth(const CandidateStyle& style, double w) {
  return std::min(0.3 * w,
                  std::max(2.0 * style.paging_width + style.paging_left_padding + 12.0, 32.0));
}

RowTexts PlaceRowTexts(const LayoutRect& r, const LayoutMetrics& m, double comment_width) {
  RowTexts texts;
  const double baseline = r.top + m.row_baseline;
  texts.label = {r.left + 6, r.left + m.label_width, baseline, false};
  double comment_left = r.right - 4;
  if (comment_width > 0) {
    const double c = std::min(kCommentShare * r.Width(), m.comment_cap);
    // The comment sits at the right of its box; a short one leaves the rest of the box to the
    // candidate text, which would otherwise be cut in a row as narrow as its own content.
    comment_left = r.right - 5 - std::min(comment_width, c - 1);
    texts.comment = {comment_left, r.right - 5, baseline, false};
  }
  texts.text = {r.left + m.label_width, comment_left - 2, baseline, false};
  return texts;
}

CandidateLayout LayoutCandidates(const CandidateContent& content, const CandidateStyle& style,
                                 const TextMeasurer& measurer, double max_width) {
  CandidateLayout layout;
  LayoutMetrics& m = layout.metrics;
  m = DeriveMetrics(style, content, measurer);
  const PipeResponse& reply = content.reply;
  const bool horizontal = content.horizontal;
  const int n = content.RowCount();
  const double max_w = std::max(max_width, 1.0);

  std::vector<double> widths(static_cast<size_t>(n));
  std::vector<double> comments(static_cast<size_t>(n));
  double first_text = 0;
  for (int i = 0; i < n; ++i) {
    const double text =
        MeasureOrEstimate(measurer, TextRole::Candidate, content.RowText(i), style.font_point);
    const double comment =
        std::min(MeasureOrEstimate(measurer, TextRole::Comment, content.RowComment(i),
                                   style.comment_font_point),
                 m.comment_cap);
    double width = std::max(text, 0.0) + m.label_width + 6;
    if (comment > 0) width += comment + 8;
    if (horizontal) {
      // The first candidate is the one a space commits, often a whole sentence: it is never cut
      // to the 190 of the other items, only to the window's width (where it wraps).
      width = i == 0 ? std::max(width, kMinHorizontalItemWidth)
                     : std::clamp(width, kMinHorizontalItemWidth, kMaxHorizontalItemWidth);
    }
    widths[static_cast<size_t>(i)] = width;
    comments[static_cast<size_t>(i)] = comment;
    if (i == 0) first_text = text;
  }
  double preedit = 0;
  if (m.preedit_shown) {
    preedit = MeasureOrEstimate(measurer, TextRole::Candidate, TextFieldView(reply.preedit),
                                style.font_point);
  }

  double content_width = 0;
  for (double w : widths)
    content_width = horizontal ? content_width + w : std::max(content_width, w);
  content_width = std::max(content_width, std::max(preedit, 0.0) + 12) + 2 * m.x0;

  layout.paging = PagingFlag(style, reply);
  double reserve = layout.paging ? PagingZoneWidth(style, max_w) : 0;
  double total = content_width + reserve;
  if (0.3 * total < reserve) total = content_width / 0.7;
  const double w = total > max_w ? max_w : std::max(total, std::min(max_w, kMinWindowWidth));
  layout.width = w;

  const double available = std::max(w - 2 * m.x0 - std::min(0.3 * w, reserve), 1.0);
  std::vector<int> line_of(static_cast<size_t>(n), 0);
  if (!horizontal) {
    std::fill(widths.begin(), widths.end(), available);
  } else if (n > 0) {
    double sum = 0;
    for (double width : widths) sum += width;
    if (sum <= available) {
      for (double& width : widths) width += (available - sum) / n;
    } else {
      // Scaling every item down to share one line, as a row that is only a little too wide
      // would be, cuts two-character candidates to a lone ellipsis once ten of them or one
      // long sentence meet a narrow screen. Items keep their widths and move on to further
      // lines instead; only a first candidate wider than the window is held to its width.
      widths[0] = std::min(widths[0], available);
      WrapIntoLines(&widths, available, &line_of);
    }
  }

  // The first candidate's text wraps inside its item rather than lose its end.
  if (n > 0) {
    const LayoutRect probe{0, 0, widths[0], m.row_height};
    const TextPlacement place = PlaceRowTexts(probe, m, comments[0]).text;
    if (first_text > place.Width()) {
      layout.first_text_lines = std::max(
          measurer.WrappedLines(TextRole::Candidate, content.RowText(0), place.Width()), 1);
    }
  }
  const double first_height = m.row_height + (layout.first_text_lines - 1) * m.text_line_height;

  reserve = layout.paging ? PagingZoneWidth(style, w) : 0;
  const double c = std::max(w - reserve, 1.0);
  const double top = m.y0 + m.preedit_line_height;
  double x = m.x0;
  for (int i = 0; i < n; ++i) {
    const size_t at = static_cast<size_t>(i);
    if (horizontal) {
      // Every item of the first line stands as tall as the first candidate.
      const int line = line_of[at];
      if (i > 0 && line != line_of[at - 1]) x = m.x0;
      const double line_top = line == 0 ? top : top + first_height + (line - 1) * m.row_height;
      const double height = line == 0 ? first_height : m.row_height;
      layout.items.push_back({x, line_top, x + widths[at], line_top + height});
      x += widths[at];
    } else {
      const double row_top = i == 0 ? top : top + first_height + (i - 1) * m.row_height;
      const double height = i == 0 ? first_height : m.row_height;
      layout.items.push_back({m.x0, row_top, c - m.x0, row_top + height});
    }
  }

  double lowest = 0;
  for (const LayoutRect& item : layout.items) lowest = std::max(lowest, item.bottom);
  if (!layout.items.empty()) {
    layout.height = lowest + m.bottom_inset;
  } else if (m.preedit_shown) {
    layout.height = m.preedit_line_height + 2 * m.bottom_inset;
  }

  if (layout.paging && reply.menu_count >= 2) {
    const double zone_left = std::max(w - PagingZoneWidth(style, w), 0.0);
    layout.previous_page = {zone_left, 0, w, layout.height / 2};
    layout.next_page = {zone_left, layout.height / 2, w, layout.height};
  }
  return layout;
}

CandidateLayout LayoutExpandedPanel(const CandidateContent& content, const CandidateStyle& style,
                                    const TextMeasurer& measurer, double max_width,
                                    double max_height) {
  CandidateLayout layout;
  LayoutMetrics& m = layout.metrics;
  m = DeriveMetrics(style, content, measurer);
  const int k = content.RowCount();
  if (k == 0) return layout;
  const int q = std::clamp(content.panel_rows_per_page, 1, kMaxRowsPerPage);
  const int per_line_groups = (k + q - 1) / q;
  const bool row_major = content.panel_row_major;
  const int columns = row_major ? std::min(k, q) : per_line_groups;
  const int lines = row_major ? per_line_groups : std::min(k, q);
  const double max_w = std::min(std::max(max_width, 1.0), kMaxPanelWidth);
  const double cell_w =
      std::min(std::max(max_w - 2 * m.x0, 1.0) / columns, kMaxHorizontalItemWidth);
  const double cell_h = std::min(std::max(max_height - 2 * m.y0, 1.0) / lines, m.row_height);
  // Squeezed lines keep their texts centred.
  m.row_baseline -= (m.row_height - cell_h) / 2;
  double right = 0;
  double bottom = 0;
  for (int i = 0; i < k; ++i) {
    const int column = row_major ? i % q : i / q;
    const int line = row_major ? i / q : i % q;
    LayoutRect rect{m.x0 + column * cell_w, m.y0 + line * cell_h, 0, 0};
    rect.right = rect.left + cell_w;
    rect.bottom = rect.top + cell_h;
    right = std::max(right, rect.right);
    bottom = std::max(bottom, rect.bottom);
    layout.items.push_back(rect);
  }
  layout.width = m.x0 + right;
  layout.height = bottom + m.y0;
  layout.paging = false;
  return layout;
}

CandidateLayout LayoutContent(const CandidateContent& content, const CandidateStyle& style,
                              const TextMeasurer& measurer, double max_width, double max_height) {
  if (content.panel_mode)
    return LayoutExpandedPanel(content, style, measurer, max_width, max_height);
  return LayoutCandidates(content, style, measurer, max_width);
}

std::string RowLabel(int row, const CandidateContent& content) {
  const int number =
      (content.panel_mode ? row % std::clamp(content.panel_rows_per_page, 1, kMaxRowsPerPage)
                          : row) +
      1;
  if (number < 10) return std::to_string(number) + "  ";
  if (number == 10) return "0  ";
  return "   ";
}

int HitTestRow(const CandidateLayout& layout, double x, double y, int row_count) {
  for (size_t i = 0; i < layout.items.size(); ++i) {
    if (layout.items[i].Contains(x, y)) {
      return static_cast<int>(i) < row_count ? static_cast<int>(i) : -1;
    }
  }
  return -1;
}

}  // namespace kavi::win
