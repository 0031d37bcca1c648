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
};

struct CandidateLayout {
  LayoutMetrics metrics;
  std::vector<LayoutRect> items;
  double width = 1;  // window content width
  double height = 0;
  bool paging = false;
  LayoutRect previous_page;
  LayoutRect next_page;

  // Nothing to show: the window hides.
  bool Hidden() const { return items.empty() && !metrics.preedit_shown; }
};

bool PreeditLineShown(const CandidateContent& content);
bool PagingFlag(const CandidateStyle& style, const PipeResponse& reply);
LayoutMetrics DeriveMetrics(const CandidateStyle& style, const CandidateContent& content);
// The strip at the right edge that holds the paging arrows, for a window of width w.
double PagingZoneWidth(const CandidateStyle& style, double w);

// Candidate mode: rows from the reply within max_width.
CandidateLayout LayoutCandidates(const CandidateContent& content, const CandidateStyle& style,
                                 const TextMeasurer& measurer, double max_width);
// Panel mode: every panel row on a grid within max_width (capped at 1180) and max_height.
CandidateLayout LayoutExpandedPanel(const CandidateContent& content, const CandidateStyle& style,
                                    double max_width, double max_height);
CandidateLayout LayoutContent(const CandidateContent& content, const CandidateStyle& style,
                              const TextMeasurer& measurer, double max_width, double max_height);

// The row number within its page plus one, then two spaces; "0  " for the tenth; three spaces
// beyond.
std::string RowLabel(int row, const CandidateContent& content);

// The first row rectangle holding the point, or -1 (also when the index is not a shown row).
int HitTestRow(const CandidateLayout& layout, double x, double y, int row_count);

}  // namespace kavi::win
