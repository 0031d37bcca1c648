// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "candidate/candidate_layout.h"

namespace kavi::win {
namespace {

// Widths chosen by the test; unknown texts measure `per_character` for each UTF-16 unit. The
// band is a CJK font's at 17: more room above the baseline than below.
class FixedMeasurer : public TextMeasurer {
 public:
  std::map<std::string, double> widths;
  double per_character = 10;
  double MeasureWidth(TextRole, std::string_view utf8) const override {
    if (utf8.empty()) return 0;
    auto it = widths.find(std::string(utf8));
    return it != widths.end() ? it->second : per_character * Utf16Length(utf8);
  }
  TextBand Band(TextRole role) const override {
    return role == TextRole::Candidate ? TextBand{14, 2, 24} : TextBand{12, 2, 20};
  }
  int WrappedLines(TextRole role, std::string_view utf8, double width) const override {
    return static_cast<int>(std::ceil(MeasureWidth(role, utf8) / width));
  }
};

struct Row {
  std::string text;
  std::string comment = "";
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

// The default style's metrics show in the window sizes below and, on real fonts, in the
// painter's ink test; here the style moves every one of them.
TEST(CandidateLayoutTest, DerivedMetricsFollowTheStyle) {
  FixedMeasurer measurer;
  CandidateStyle style;
  style.corner_radius = 0;
  style.border_width = 2;
  style.border_height = 0;
  style.surrounding_extra_expansion = 3;
  style.comment_font_point = 30;
  style.line_spacing = 4;
  style.spacing = 2;
  style.base_offset = 1;
  CandidateContent content = Reply({}, false);
  ShowPreedit(&content, "ni");
  const LayoutMetrics m = DeriveMetrics(style, content, measurer);
  EXPECT_EQ(m.x0, 13);  // floor of 10, plus the expansion
  EXPECT_EQ(m.y0, 8);   // floor of 5, plus the expansion
  EXPECT_EQ(m.row_height, 48);
  EXPECT_EQ(m.label_width, 34);
  EXPECT_EQ(m.preedit_line_height, 29);
  // The band 14 + 2 centred in the line, moved by the base offset.
  EXPECT_EQ(m.row_baseline, 16 + 14 + 1);
  EXPECT_EQ(m.preedit_baseline, 6.5 + 14 + 1);
}

TEST(CandidateLayoutTest, PreeditLineAndPagingArrowsOnlyWhenTheyApply) {
  struct PreeditCase {
    uint8_t tail_flag, has_preedit;
    bool panel, shown;
  } preedit_cases[] = {
      {0, 1, false, true}, {1, 1, false, false}, {0, 0, false, false}, {0, 1, true, false}};
  for (const PreeditCase& c : preedit_cases) {
    CandidateContent content = Reply({{"a", ""}}, true);
    ShowPreedit(&content, "ni");
    content.reply.tail_flag = c.tail_flag;
    content.reply.has_preedit = c.has_preedit;
    content.panel_mode = c.panel;
    EXPECT_EQ(PreeditLineShown(content), c.shown) << int{c.tail_flag} << int{c.has_preedit};
  }
  struct PagingCase {
    uint32_t page, count;
    uint8_t last;
    bool paging;
  } paging_cases[] = {
      {0, 1, 1, false}, {0, 2, 1, false}, {0, 2, 0, true}, {1, 2, 1, true}, {1, 1, 1, false}};
  for (const PagingCase& c : paging_cases) {
    PipeResponse reply = EmptyReply();
    reply.page_number = c.page;
    reply.menu_count = c.count;
    reply.last_page = c.last;
    EXPECT_EQ(PagingFlag(CandidateStyle{}, reply), c.paging)
        << c.page << " " << c.count << " " << int{c.last};
  }
}

// Window widths and heights for one reply.
TEST(CandidateLayoutTest, WindowSizeFromItemsCommentsPreeditAndPaging) {
  const std::string emoji = "x\xF0\x9F\x98\x80";
  FixedMeasurer measurer;
  measurer.widths = {{"long", 400}, {"comment", 200}, {emoji, 0}};
  struct Case {
    const char* name;
    std::vector<Row> rows;
    bool horizontal;
    double max_width;
    double width;
    double height;
    bool paging = false;
    const char* preedit = "";
  } cases[] = {
      {"short items take 52 each", {{"a"}, {"b"}, {"c"}}, true, 980, 24 + 3 * 52, 43},
      {"a long item stops at 190", {{"a"}, {"long"}}, true, 980, 24 + 52 + 190, 43},
      {"never wider than the maximum", {{"a"}}, true, 50, 50, 43},
      {"vertical comment cap", {{"text", "comment"}}, false, 420, 40 + 34 + 6 + 110 + 8 + 24, 43},
      {"horizontal comment cap", {{"text", "comment"}}, true, 980, 40 + 24 + 6 + 64 + 8 + 24, 43},
      {"failed measurement: UTF-16 units x point", {{emoji}}, false, 420, 3 * 17 + 34 + 6 + 24, 43},
      {"narrow content grows for the paging zone", {{"a"}}, true, 980, 76 / 0.7, 43, true},
      {"preedit line alone, at least 96 wide", {}, true, 980, 96, 27 + 2 * 6, false, "ni"},
      {"sixteen rows at most", std::vector<Row>(40, {"a"}), false, 420, 96, 6 + 16 * 31 + 6},
  };
  for (const Case& c : cases) {
    CandidateContent content = Reply(c.rows, c.horizontal);
    if (c.paging) content.reply.last_page = 0;
    if (c.paging) content.reply.menu_count = 2;
    if (*c.preedit) ShowPreedit(&content, c.preedit);
    const CandidateLayout layout =
        LayoutCandidates(content, CandidateStyle{}, measurer, c.max_width);
    EXPECT_DOUBLE_EQ(layout.width, c.width) << c.name;
    EXPECT_DOUBLE_EQ(layout.height, c.height) << c.name;
    EXPECT_EQ(layout.items.size(), static_cast<size_t>(content.RowCount())) << c.name;
  }
}

// Also the window size of a wide preedit line: three items sharing its 312.
TEST(CandidateLayoutTest, HorizontalItemsTouchAndShareTheFreeWidth) {
  FixedMeasurer measurer;
  measurer.widths["preedit"] = 300;
  CandidateStyle style;
  CandidateContent content = Reply({{"a", ""}, {"b", ""}, {"c", ""}}, true);
  ShowPreedit(&content, "preedit");
  const CandidateLayout layout = LayoutCandidates(content, style, measurer, 980);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(layout.items[i], (LayoutRect{12 + 104.0 * i, 6 + 27, 12 + 104.0 * (i + 1), 64}));
  }
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

  style.show_paging = false;
  layout = LayoutCandidates(content, style, measurer, 420);
  EXPECT_FALSE(layout.paging);
  EXPECT_TRUE(layout.previous_page.Empty());
  EXPECT_EQ(layout.items[0].right, layout.width - 12);
}

// Every candidate stays readable however narrow the screen or long the first candidate: the
// first whole (wrapped onto more lines when it must be), every other at least one character and
// the ellipsis.
TEST(CandidateLayoutTest, NoCandidateIsCutToALoneEllipsis) {
  const std::vector<Row> ten_words = {{"你好"}, {"你"}, {"妳好"}, {"尼"}, {"呢"},
                                      {"泥"},   {"擬"}, {"你號"}, {"逆"}, {"妮"}};
  std::vector<Row> sentence = ten_words;
  sentence[0].text = "這個項目很有意思的人都來了吧我們今天天氣真好中華人民共和國萬歲萬萬歲";
  std::vector<Row> with_comments = ten_words;
  for (Row& row : with_comments) row.comment = "nǐ hǎo";
  struct Case {
    const char* name;
    const std::vector<Row>& rows;
    bool horizontal;
    double max_width;  // 92% of the screen, capped at 980 or 420
    int first_lines;
  } cases[] = {
      {"ten words, 640 px", ten_words, true, 588.8, 1},
      {"ten words with comments, 640 px", with_comments, true, 588.8, 1},
      {"sentence, 1280 px", sentence, true, 980, 1},
      {"sentence, 640 px", sentence, true, 588.8, 2},
      {"sentence, vertical", sentence, false, 420, 2},
      {"ten words, 320 px", ten_words, true, 294.4, 1},
  };
  for (const Case& c : cases) {
    FixedMeasurer measurer;
    measurer.per_character = 17;
    CandidateStyle style;
    CandidateContent content = Reply(c.rows, c.horizontal);
    content.reply.last_page = 0;
    content.reply.menu_count = 3;
    const CandidateLayout layout = LayoutCandidates(content, style, measurer, c.max_width);
    ASSERT_EQ(layout.items.size(), c.rows.size()) << c.name;
    EXPECT_LE(layout.width, c.max_width) << c.name;
    EXPECT_EQ(layout.first_text_lines, c.first_lines) << c.name;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      const LayoutRect& item = layout.items[i];
      const double comment = measurer.MeasureWidth(TextRole::Comment, c.rows[i].comment);
      const double room =
          PlaceRowTexts(item, layout.metrics, std::min(comment, layout.metrics.comment_cap))
              .text.Width();
      const double text = measurer.MeasureWidth(TextRole::Candidate, c.rows[i].text);
      if (i == 0) {
        EXPECT_GE(room * layout.first_text_lines, text) << c.name;
      } else {
        EXPECT_GE(room, std::min(text, 2 * 17.0)) << c.name << " row " << i;
      }
      // Inside the window, clear of the paging zone, overlapping no other item.
      EXPECT_GE(item.left, layout.metrics.x0) << c.name << " row " << i;
      EXPECT_LE(item.right, layout.previous_page.left) << c.name << " row " << i;
      for (size_t j = 0; j < i; ++j) {
        const LayoutRect& other = layout.items[j];
        const bool apart = item.left >= other.right || item.right <= other.left ||
                           item.top >= other.bottom || item.bottom <= other.top;
        EXPECT_TRUE(apart) << c.name << " rows " << j << " and " << i;
      }
    }
    // Reading order: left to right, then line by line.
    for (size_t i = 1; i < c.rows.size(); ++i) {
      const LayoutRect& a = layout.items[i - 1];
      const LayoutRect& b = layout.items[i];
      EXPECT_TRUE(b.top >= a.bottom || (b.top == a.top && b.left == a.right)) << c.name << i;
    }
    EXPECT_EQ(layout.height, layout.items.back().bottom + layout.metrics.bottom_inset) << c.name;
  }
}

TEST(CandidateLayoutTest, RowLabelsNumberOnlyRowsADigitPicks) {
  CandidateContent content = Reply({}, false);
  const std::pair<int, const char*> rows[] = {
      {0, "1  "}, {8, "9  "}, {9, "0  "}, {10, "   "}, {15, "   "}};
  for (auto [row, label] : rows) EXPECT_EQ(RowLabel(row, content), label) << row;
  content.panel_mode = true;
  content.panel_rows_per_page = 12;
  const std::pair<int, const char*> panel[] = {{12, "1  "}, {21, "0  "}, {22, "   "}};
  for (auto [row, label] : panel) EXPECT_EQ(RowLabel(row, content), label) << row;
}

CandidateContent Panel(int rows, int per_page, bool row_major) {
  CandidateContent content;
  content.panel_mode = true;
  for (int i = 0; i < rows; ++i) content.panel_rows.push_back({"w" + std::to_string(i), ""});
  content.panel_rows_per_page = per_page;
  content.panel_row_major = row_major;
  return content;
}

// The row-major grid a window shows: CandidateWindowTest.ExpandedPanelRowsAnswerWithPanelCommands.
TEST(CandidateLayoutTest, PanelGridColumnMajorAndSqueezed) {
  FixedMeasurer measurer;
  CandidateStyle style;
  CandidateLayout layout = LayoutExpandedPanel(Panel(25, 10, false), style, measurer, 600, 1000);
  // 3 columns, 10 lines; cells as wide as 190 at most.
  EXPECT_DOUBLE_EQ(layout.items[13].left, 12 + 190);
  EXPECT_DOUBLE_EQ(layout.items[13].top, 6 + 3 * 31);
  EXPECT_DOUBLE_EQ(layout.width, 12 + 12 + 3 * 190);

  // A short screen squeezes the lines; their texts stay centred.
  layout = LayoutExpandedPanel(Panel(100, 10, true), style, measurer, 1180, 112);
  EXPECT_DOUBLE_EQ(layout.items[10].Height(), 10);
  EXPECT_DOUBLE_EQ(layout.metrics.row_baseline, (10 - 16) / 2.0 + 14);
  EXPECT_TRUE(LayoutExpandedPanel(Panel(0, 10, true), style, measurer, 1180, 800).Hidden());
}

}  // namespace
}  // namespace kavi::win
