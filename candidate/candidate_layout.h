// SPDX-License-Identifier: Apache-2.0
// Measuring and placing the rows of the candidate window: side by side or stacked, the expanded
// panel grid, the window size and the paging zone. Plain functions of content, style and size.
#pragma once

#include <string>
#include <vector>

#include "candidate/candidate_content.h"
#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

inline constexpr double kMaxPanelWidth = 1180;
inline constexpr double kMaxHorizontalItemWidth = 190;
inline constexpr double kMinHorizontalItemWidth = 52;

struct LayoutMetrics {
  double x0 = 0;            // side inset
  double y0 = 0;            // top inset
  double bottom_inset = 0;  // below the lowest row
  double row_height = 0;
  double preedit_line_height = 0;  // 0 when the preedit line is not shown
  double label_width = 0;
  double comment_cap = 0;
  bool preedit_shown = false;
  // From the top of a row (of the preedit line) to the one baseline its texts share: the
  // tallest of the three fonts centred in the row.
  double row_baseline = 0;
  double preedit_baseline = 0;
  // A wrapped candidate's further lines.
  double text_line_height = 0;

  bool operator==(const LayoutMetrics&) const = default;
};

// Where a row's label, candidate text and comment go.
struct RowTexts {
  TextPlacement label;
  TextPlacement text;
  TextPlacement comment;  // empty without a comment
};

struct CandidateLayout {
  LayoutMetrics metrics;
  std::vector<LayoutRect> items;
  double width = 1;  // window content width
  double height = 0;
  // Lines the first candidate's text is wrapped onto; it is never cut.
  int first_text_lines = 1;
  bool paging = false;
  LayoutRect previous_page;
  LayoutRect next_page;

  bool operator==(const CandidateLayout&) const = default;

  // Nothing to show: the window hides.
  bool Hidden() const { return items.empty() && !metrics.preedit_shown; }
};

bool PreeditLineShown(const CandidateContent& content);
bool PagingFlag(const CandidateStyle& style, const PipeResponse& reply);
LayoutMetrics DeriveMetrics(const CandidateStyle& style, const CandidateContent& content,
                            const TextMeasurer& measurer);
// The strip at the right edge that holds the paging arrows, for a window of width w.
double PagingZoneWidth(const CandidateStyle& style, double w);

// Candidate mode: rows from the reply within max_width.
CandidateLayout LayoutCandidates(const CandidateContent& content, const CandidateStyle& style,
                                 const TextMeasurer& measurer, double max_width);
// Panel mode: every panel row on a grid within max_width (capped at 1180) and max_height.
CandidateLayout LayoutExpandedPanel(const CandidateContent& content, const CandidateStyle& style,
                                    const TextMeasurer& measurer, double max_width,
                                    double max_height);
CandidateLayout LayoutContent(const CandidateContent& content, const CandidateStyle& style,
                              const TextMeasurer& measurer, double max_width, double max_height);

// The texts of a row: the comment (measured width, 0 for none) keeps to the right within its
// cap and leaves the rest of the row to the candidate text.
RowTexts PlaceRowTexts(const LayoutRect& row, const LayoutMetrics& m, double comment_width);

// The row number within its page plus one, then two spaces; "0  " for the tenth; three spaces
// beyond, where no digit key picks the row.
std::string RowLabel(int row, const CandidateContent& content);

// The first row rectangle holding the point, or -1 (also when the index is not a shown row).
int HitTestRow(const CandidateLayout& layout, double x, double y, int row_count);

}  // namespace kavi::win
