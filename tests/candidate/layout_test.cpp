#include <gtest/gtest.h>

#include <map>
#include <string>

#include "candidate/candidate_layout.h"

namespace kavi::win {
namespace {

// Widths chosen by the test; unknown texts measure 10 per character.
class FixedMeasurer : public TextMeasurer {
 public:
  std::map<std::string, double> widths;
  double MeasureWidth(TextRole, std::string_view utf8) const override {
    if (utf8.empty()) return 0;
    auto it = widths.find(std::string(utf8));
    return it != widths.end() ? it->second : 10.0 * Utf16Length(utf8);
  }
};

struct Row {
  std::string text;
  std::string comment;
};

CandidateContent Reply(const std::vector<Row>& rows, bool horizontal) {
  CandidateContent content;
  content.horizontal = horizontal;
  content.reply = EmptyReply();
  content.reply.candidate_count = static_cast<uint32_t>(rows.size());
  content.reply.menu_count = 1;
  content.reply.last_page = 1;
  for (size_t i = 0; i < rows.size() && i < kMaxCandidateSlots; ++i) {
    CopyTextField(content.reply.candidates[i].text, rows[i].text);
    CopyTextField(content.reply.candidates[i].comment, rows[i].comment);
  }
  return content;
}

void ShowPreedit(CandidateContent* content, const std::string& preedit) {
  content->reply.tail_flag = 0;
  content->reply.has_preedit = 1;
  CopyTextField(content->reply.preedit, preedit);
}

TEST(CandidateLayoutTest, DerivedMetricsFollowTheStyle) {
  CandidateStyle style;
  CandidateContent content = Reply({}, true);
  LayoutMetrics m = DeriveMetrics(style, content);
  EXPECT_EQ(m.x0, 12);  // corner 6 + border 6
  EXPECT_EQ(m.y0, 6);
  EXPECT_EQ(m.row_height, 31);  // 17 + 14
  EXPECT_EQ(m.label_width, 24);
  EXPECT_EQ(m.preedit_line_height, 0);

  style.corner_radius = 0;
  style.border_width = 2;
  style.border_height = 0;
  style.surrounding_extra_expansion = 3;
  style.comment_font_point = 30;
  style.line_spacing = 4;
  style.spacing = 2;
  content.horizontal = false;
  ShowPreedit(&content, "ni");
  m = DeriveMetrics(style, content);
  EXPECT_EQ(m.x0, 13);  // floor of 10, plus the expansion
  EXPECT_EQ(m.y0, 8);   // floor of 5, plus the expansion
  EXPECT_EQ(m.row_height, 48);
  EXPECT_EQ(m.label_width, 34);
  EXPECT_EQ(m.preedit_line_height, 29);
}

TEST(CandidateLayoutTest, PreeditLineOnlyWhenNotInlineAndPresent) {
  CandidateContent content = Reply({{"a", ""}}, true);
  ShowPreedit(&content, "ni");
  EXPECT_TRUE(PreeditLineShown(content));
  content.reply.tail_flag = 1;  // the client draws it inline
  EXPECT_FALSE(PreeditLineShown(content));
  content.reply.tail_flag = 0;
  content.reply.has_preedit = 0;
  EXPECT_FALSE(PreeditLineShown(content));
  content.reply.has_preedit = 1;
  content.panel_mode = true;
  EXPECT_FALSE(PreeditLineShown(content));
}

TEST(CandidateLayoutTest, ShortHorizontalCandidatesTakeTheMinimumThenShareFreeWidth) {
  FixedMeasurer measurer;
  CandidateStyle style;
  CandidateContent content = Reply({{"a", ""}, {"b", ""}, {"c", ""}}, true);
  CandidateLayout layout = LayoutCandidates(content, style, measurer, 980);
  ASSERT_EQ(layout.items.size(), 3u);
  EXPECT_EQ(layout.width, 12 + 3 * 52 + 12);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(layout.items[i].Width(), 52);
    EXPECT_EQ(layout.items[i].left, 12 + 52.0 * i);  // touching, left to right
    EXPECT_EQ(layout.items[i].top, 6);
    EXPECT_EQ(layout.items[i].bottom, 37);
  }
  EXPECT_EQ(layout.height, 37 + 6);

  // A wide preedit line widens the window; the rows split the free width evenly.
  ShowPreedit(&content, "preedit");
  measurer.widths["preedit"] = 300;
  layout = LayoutCandidates(content, style, measurer, 980);
  EXPECT_EQ(layout.width, 312 + 24);
  for (const LayoutRect& item : layout.items) EXPECT_EQ(item.Width(), 104);
  EXPECT_EQ(layout.items[0].top, 6 + 27);  // below the preedit line
}

TEST(CandidateLayoutTest, HorizontalItemsClampAt190AndShrinkToFit) {
  FixedMeasurer measurer;
  measurer.widths["long"] = 400;
  CandidateStyle style;
  CandidateLayout layout = LayoutCandidates(Reply({{"long", ""}}, true), style, measurer, 980);
  EXPECT_EQ(layout.width, 190 + 24);

  // Ten clamped items do not fit 500: each is scaled by the same factor.
  std::vector<Row> rows(10, Row{"long", ""});
  layout = LayoutCandidates(Reply(rows, true), style, measurer, 500);
  EXPECT_EQ(layout.width, 500);
  const double share = (500.0 - 24) / 10;
  for (const LayoutRect& item : layout.items) EXPECT_DOUBLE_EQ(item.Width(), share);
}

TEST(CandidateLayoutTest, NarrowContentStillGetsTheMinimumWindowWidth) {
  FixedMeasurer measurer;
  CandidateStyle style;
  style.corner_radius = 0;
  style.border_width = 0;  // x0 = 10
  CandidateLayout layout = LayoutCandidates(Reply({{"a", ""}}, true), style, measurer, 980);
  EXPECT_EQ(layout.width, 96);
  EXPECT_EQ(layout.items[0].Width(), 76);
  layout = LayoutCandidates(Reply({{"a", ""}}, true), style, measurer, 50);
  EXPECT_EQ(layout.width, 50);
}

TEST(CandidateLayoutTest, CommentsAreCappedPerOrientation) {
  FixedMeasurer measurer;
  measurer.widths["text"] = 40;
  measurer.widths["comment"] = 200;
  CandidateStyle style;
  CandidateLayout vertical =
      LayoutCandidates(Reply({{"text", "comment"}}, false), style, measurer, 420);
  EXPECT_EQ(vertical.width, 40 + 34 + 6 + 110 + 8 + 24);
  CandidateLayout horizontal =
      LayoutCandidates(Reply({{"text", "comment"}}, true), style, measurer, 980);
  EXPECT_EQ(horizontal.width, 40 + 24 + 6 + 64 + 8 + 24);
}

TEST(CandidateLayoutTest, FailedMeasurementFallsBackToCodeUnitsTimesPoint) {
  FixedMeasurer measurer;
  measurer.widths["x\xF0\x9F\x98\x80"] = 0;  // "x" and an emoji: three UTF-16 units
  CandidateStyle style;
  CandidateLayout layout =
      LayoutCandidates(Reply({{"x\xF0\x9F\x98\x80", ""}}, false), style, measurer, 420);
  EXPECT_EQ(layout.width, 3 * 17 + 34 + 6 + 24);
}

TEST(CandidateLayoutTest, VerticalRowsStackAndStopShortOfThePagingZone) {
  FixedMeasurer measurer;
  measurer.widths["a"] = 200;
  CandidateStyle style;
  CandidateContent content = Reply({{"a", ""}, {"bb", ""}}, false);
  content.reply.last_page = 0;
  content.reply.menu_count = 3;
  CandidateLayout layout = LayoutCandidates(content, style, measurer, 420);
  ASSERT_TRUE(layout.paging);
  const double w = layout.width;
  const double zone = PagingZoneWidth(style, w);
  EXPECT_EQ(zone, 38);  // 2 x 7 + 12 + 12
  ASSERT_EQ(layout.items.size(), 2u);
  EXPECT_EQ(layout.items[1].top, layout.items[0].bottom);
  EXPECT_EQ(layout.items[0].right, w - zone - 12);
  EXPECT_EQ(layout.previous_page, (LayoutRect{w - zone, 0, w, layout.height / 2}));
  EXPECT_EQ(layout.next_page, (LayoutRect{w - zone, layout.height / 2, w, layout.height}));
  // The zone is not part of any row.
  EXPECT_EQ(HitTestRow(layout, w - 5, layout.items[0].top + 5, 2), -1);

  style.show_paging = false;
  layout = LayoutCandidates(content, style, measurer, 420);
  EXPECT_FALSE(layout.paging);
  EXPECT_TRUE(layout.previous_page.Empty());
  EXPECT_EQ(layout.items[0].right, layout.width - 12);
  EXPECT_EQ(HitTestRow(layout, layout.width - 12, layout.items[0].top + 5, 2), 0);
}

TEST(CandidateLayoutTest, PagingFlagFollowsPageAndCount) {
  CandidateStyle style;
  PipeResponse reply = EmptyReply();
  reply.menu_count = 1;
  reply.last_page = 1;
  EXPECT_FALSE(PagingFlag(style, reply));  // the only page
  reply.menu_count = 2;
  EXPECT_FALSE(PagingFlag(style, reply));  // page 0 and last: no arrows
  reply.last_page = 0;
  EXPECT_TRUE(PagingFlag(style, reply));
  reply.page_number = 1;
  reply.last_page = 1;
  EXPECT_TRUE(PagingFlag(style, reply));
  reply.menu_count = 1;
  EXPECT_FALSE(PagingFlag(style, reply));
}

TEST(CandidateLayoutTest, ReservedZoneGrowsTheWindowWhenContentIsNarrow) {
  FixedMeasurer measurer;
  CandidateStyle style;
  CandidateContent content = Reply({{"a", ""}}, true);
  content.reply.last_page = 0;
  content.reply.menu_count = 2;
  // Content 76; reserve 38 would be over 30% of 114, so the window is 76 / 0.7.
  CandidateLayout layout = LayoutCandidates(content, style, measurer, 980);
  EXPECT_DOUBLE_EQ(layout.width, 76 / 0.7);
}

TEST(CandidateLayoutTest, SixteenRowsAtMostAndLabelsPastTen) {
  FixedMeasurer measurer;
  CandidateStyle style;
  std::vector<Row> rows(16, Row{"a", ""});
  CandidateContent content = Reply(rows, false);
  content.reply.candidate_count = 40;
  EXPECT_EQ(content.RowCount(), 16);
  CandidateLayout layout = LayoutCandidates(content, style, measurer, 420);
  EXPECT_EQ(layout.items.size(), 16u);
  EXPECT_EQ(layout.height, 6 + 16 * 31 + 6);
  EXPECT_EQ(RowLabel(0, content), "1  ");
  EXPECT_EQ(RowLabel(8, content), "9  ");
  EXPECT_EQ(RowLabel(9, content), "0  ");
  EXPECT_EQ(RowLabel(10, content), "11   ");
  EXPECT_EQ(RowLabel(15, content), "16   ");
  content.panel_mode = true;
  content.panel_rows_per_page = 5;
  EXPECT_EQ(RowLabel(12, content), "3  ");
}

TEST(CandidateLayoutTest, PreeditWithoutRowsAndNothingAtAll) {
  FixedMeasurer measurer;
  CandidateStyle style;
  CandidateContent content = Reply({}, true);
  EXPECT_TRUE(LayoutCandidates(content, style, measurer, 980).Hidden());
  ShowPreedit(&content, "ni");
  CandidateLayout layout = LayoutCandidates(content, style, measurer, 980);
  EXPECT_FALSE(layout.Hidden());
  EXPECT_EQ(layout.height, 27 + 2 * 6);
}

TEST(CandidateLayoutTest, BorderHeightZeroStillKeepsTheTopInsetFloor) {
  FixedMeasurer measurer;
  CandidateStyle style;
  style.border_height = 0;
  CandidateLayout layout = LayoutCandidates(Reply({{"a", ""}}, false), style, measurer, 420);
  EXPECT_EQ(layout.items[0].top, 5);
  EXPECT_EQ(layout.height, 5 + 31 + 5);
}

CandidateContent Panel(int rows, int per_page, bool row_major) {
  CandidateContent content;
  content.panel_mode = true;
  for (int i = 0; i < rows; ++i) content.panel_rows.push_back({"w" + std::to_string(i), ""});
  content.panel_rows_per_page = per_page;
  content.panel_row_major = row_major;
  return content;
}

TEST(CandidateLayoutTest, PanelGridRowMajorAndColumnMajor) {
  CandidateStyle style;
  CandidateLayout layout = LayoutExpandedPanel(Panel(25, 10, true), style, 2000, 1000);
  ASSERT_EQ(layout.items.size(), 25u);
  // 10 columns, 3 lines; the width is capped at 1180 and each cell at 190 wide: here
  // (1180 - 24) / 10 = 115.6.
  const double cell = (1180.0 - 24) / 10;
  EXPECT_DOUBLE_EQ(layout.items[13].left, 12 + 3 * cell);
  EXPECT_DOUBLE_EQ(layout.items[13].top, 6 + 31);
  EXPECT_DOUBLE_EQ(layout.width, 12 + 12 + 10 * cell);
  EXPECT_DOUBLE_EQ(layout.height, 6 + 3 * 31 + 6);
  EXPECT_FALSE(layout.paging);

  layout = LayoutExpandedPanel(Panel(25, 10, false), style, 600, 1000);
  // 3 columns, 10 lines; cells as wide as 190 at most.
  EXPECT_DOUBLE_EQ(layout.items[13].left, 12 + 190);
  EXPECT_DOUBLE_EQ(layout.items[13].top, 6 + 3 * 31);
  EXPECT_DOUBLE_EQ(layout.width, 12 + 12 + 3 * 190);

  // A short screen squeezes the lines.
  layout = LayoutExpandedPanel(Panel(100, 10, true), style, 1180, 112);
  EXPECT_DOUBLE_EQ(layout.items[10].Height(), 10);
  EXPECT_TRUE(LayoutExpandedPanel(Panel(0, 10, true), style, 1180, 800).Hidden());
}

}  // namespace
}  // namespace kavi::win
