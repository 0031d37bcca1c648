// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "candidate/background_image.h"
#include "candidate/candidate_painter.h"
#include "candidate/frame_painter.h"
#include "candidate/pango_text.h"
#include "candidate/text_language.h"
#include "candidate/window_frame.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {

// Records where each text would go; measures 10 per character.
class RecordingRenderer : public TextRenderer {
 public:
  struct Call {
    TextRole role;
    std::string text;
    TextPlacement place;
    StyleColor color;
  };
  std::vector<Call> calls;
  double MeasureWidth(TextRole, std::string_view utf8) const override {
    return 10.0 * Utf16Length(utf8);
  }
  TextBand Band(TextRole) const override { return {14, 2, 24}; }
  int WrappedLines(TextRole, std::string_view, double) const override { return 1; }
  void DrawText(cairo_t*, TextRole role, std::string_view utf8, const TextPlacement& place,
                const StyleColor& color) override {
    calls.push_back({role, std::string(utf8), place, color});
  }
};

// An ARGB32 image to paint on.
class Canvas {
 public:
  Canvas(int w, int h)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)),
        cr_(cairo_create(surface_)) {}
  ~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  cairo_t* cr() { return cr_; }
  cairo_surface_t* surface() { return surface_; }
  void Fill(double r, double g, double b) {
    cairo_set_source_rgb(cr_, r, g, b);
    cairo_paint(cr_);
  }
  // 0xAARRGGBB, premultiplied.
  uint32_t Pixel(int x, int y) {
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    return *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface_) +
                                              x * 4);
  }
  // The top-left w x h pixels, row by row.
  std::vector<uint32_t> Pixels(int w, int h) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) pixels.push_back(Pixel(x, y));
    }
    return pixels;
  }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

CandidateStyle Palette() {
  CandidateStyle style;
  style.back_color = {1, 1, 1, 1};
  style.candidate_back_color = {1, 1, 1, 1};
  style.border_color = {1, 0, 0, 1};
  style.hilited_candidate_back_color = {0, 0, 1, 1};
  style.label_color = {0.5, 0.5, 0.5, 1};
  style.hilited_candidate_label_color = {0, 1, 0, 1};
  return style;
}

CandidateContent TwoRows(bool horizontal) {
  CandidateContent content;
  content.horizontal = horizontal;
  content.reply = EmptyReply();
  content.reply.candidate_count = 2;
  content.reply.highlighted = 1;
  content.reply.menu_count = 1;
  content.reply.last_page = 1;
  CopyTextField(content.reply.candidates[0].text, "甲");
  CopyTextField(content.reply.candidates[0].comment, "a very long comment here");
  CopyTextField(content.reply.candidates[1].text, "乙");
  return content;
}

// The first row's long comment is held to its cap; the second's short one keeps to the right and
// leaves the rest of the row to the text.
TEST(CandidatePainterTest, RowsDrawLabelTextAndComment) {
  RecordingRenderer text;
  CandidateStyle style = Palette();
  CandidateContent content = TwoRows(false);
  CopyTextField(content.reply.candidates[1].comment, "ab");
  CandidateLayout layout = LayoutCandidates(content, style, text, 420);
  Canvas canvas(400, 200);
  PaintCandidates(canvas.cr(), content, style, layout, text, nullptr);
  ASSERT_EQ(text.calls.size(), 6u);  // label, text, comment for each row
  const LayoutRect& row = layout.items[0];
  const double baseline = row.top + layout.metrics.row_baseline;
  EXPECT_EQ(text.calls[0].text, "1  ");
  EXPECT_EQ(text.calls[0].place, (TextPlacement{row.left + 6, row.left + 34, baseline}));
  const double c = std::min(0.35 * row.Width(), 110.0);
  EXPECT_EQ(text.calls[1].place.right, row.right - c - 6);
  EXPECT_EQ(text.calls[2].role, TextRole::Comment);
  EXPECT_EQ(text.calls[2].place, (TextPlacement{row.right - c - 4, row.right - 5, baseline}));
  // The highlighted second row uses the highlight colours.
  const LayoutRect& second = layout.items[1];
  EXPECT_EQ(text.calls[3].color, style.hilited_candidate_label_color);
  EXPECT_EQ(text.calls[4].place.right, second.right - 27);
  EXPECT_EQ(text.calls[5].place, (TextPlacement{second.right - 25, second.right - 5,
                                                second.top + layout.metrics.row_baseline}));
  EXPECT_EQ(text.calls[5].color, style.hilited_comment_text_color);
}

TEST(CandidatePainterTest, BorderNeedsBothSides) {
  RecordingRenderer text;
  CandidateContent content = TwoRows(true);
  for (float border_height : {6.0f, 0.0f}) {
    CandidateStyle style = Palette();
    style.border_height = border_height;
    CandidateLayout layout = LayoutCandidates(content, style, text, 980);
    Canvas canvas(static_cast<int>(layout.width), static_cast<int>(layout.height));
    PaintCandidates(canvas.cr(), content, style, layout, text, nullptr);
    // The pen is 0.35 x 6 wide: the left edge column is red only with a border.
    EXPECT_EQ(canvas.Pixel(0, static_cast<int>(layout.height / 2)),
              border_height > 0 ? 0xFFFF0000u : 0xFFFFFFFFu);
  }
}

TEST(CandidatePainterTest, PagingArrowsDimWhenADirectionIsUnavailable) {
  RecordingRenderer text;
  CandidateStyle style = Palette();
  style.candidate_text_color = {0, 0, 0, 1};
  style.comment_text_color = {0, 1, 0, 1};
  style.paging_arrow_offset = 0;
  style.paging_width = 12;  // s = 12, a pen of 2.88
  CandidateContent content = TwoRows(false);
  content.reply.menu_count = 3;
  content.reply.last_page = 0;  // page 0: no previous page, a next page
  CandidateLayout layout = LayoutCandidates(content, style, text, 420);
  ASSERT_TRUE(layout.paging);
  Canvas canvas(static_cast<int>(layout.width) + 1, static_cast<int>(layout.height) + 1);
  PaintCandidates(canvas.cr(), content, style, layout, text, nullptr);
  const double cx = (layout.previous_page.left + layout.previous_page.right) / 2;
  const double prev_cy = layout.previous_page.bottom / 2;
  const double next_cy = (layout.next_page.top + layout.next_page.bottom) / 2;
  // Whether a pixel near the middle of an arrow's left arm is fully covered by the pen's colour.
  auto arm_has = [&](double y, uint32_t rgb) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        const uint32_t p = canvas.Pixel(static_cast<int>(cx - 6) + dx, static_cast<int>(y) + dy);
        bool near = true;
        for (int shift : {0, 8, 16}) {
          const int d =
              static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((rgb >> shift) & 0xFF);
          near = near && std::abs(d) < 0x20;
        }
        if (near) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(arm_has(prev_cy + 6, 0x00FF00));  // no previous page: dimmed
  EXPECT_TRUE(arm_has(next_cy - 6, 0x000000));
}

TEST(WindowFrameTest, TranslucencyCapsTheWindowAlpha) {
  CandidateStyle style;
  style.translucency = true;
  EXPECT_EQ(WindowAlpha(style), 219);  // capped at 0.86
  style.alpha = 0.5;
  EXPECT_EQ(WindowAlpha(style), 127);
}

// Ink (any channel below 0xC0) rows of a pixel rectangle: first and one past the last.
std::pair<int, int> InkRows(Canvas& canvas, int left, int top, int right, int bottom) {
  int first = -1;
  int last = -1;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const uint32_t p = canvas.Pixel(x, y);
      if (((p >> 16) & 0xFF) < 0xC0 || ((p >> 8) & 0xFF) < 0xC0 || (p & 0xFF) < 0xC0) {
        if (first < 0) first = y;
        last = y;
        break;
      }
    }
  }
  return {first, last + 1};
}

// Measured on real fonts: ideographs are about one em wide, the ink of each row's candidate sits
// in the middle of the row, the label's digit stands on the same baseline, the corners are cut.
TEST(CandidateTextOnScreenTest, InkIsCentredInItsRowOnOneBaseline) {
  CandidateStyle style = Palette();
  style.font_face = "Noto Sans CJK TC";
  style.candidate_text_color = {0, 0, 0, 1};
  style.label_color = {0, 0, 0, 1};
  std::string message;
  std::unique_ptr<PangoTextFormats> text = PangoTextFormats::Create(style, "zh-tw", &message);
  ASSERT_TRUE(text) << message;
  EXPECT_NEAR(text->MeasureWidth(TextRole::Candidate, "輸入法"), 3 * 17, 3);
  for (bool horizontal : {true, false}) {
    for (double scale : {1.0, 1.5, 2.0}) {
      CandidateContent content = TwoRows(horizontal);
      CopyTextField(content.reply.candidates[1].text, "永遠");
      content.reply.highlighted = 5;  // no row highlighted: black on white everywhere
      CandidateLayout layout = LayoutCandidates(content, style, *text, 980);
      Canvas canvas(FramePixels(layout.width, scale), FramePixels(layout.height, scale));
      PaintWindowFrame(canvas.cr(), scale, content, style, layout, *text, nullptr);
      EXPECT_EQ(canvas.Pixel(0, 0) >> 24, 0u) << "the corner is not cut at " << scale;
      for (int row = 0; row < 2; ++row) {
        const LayoutRect& r = layout.items[static_cast<size_t>(row)];
        const RowTexts place = PlaceRowTexts(r, layout.metrics, 0);
        const int top = static_cast<int>(std::lround(r.top * scale));
        const int bottom = static_cast<int>(std::lround(r.bottom * scale));
        const auto [ink_top, ink_bottom] =
            InkRows(canvas, static_cast<int>(place.text.left * scale), top,
                    static_cast<int>((place.text.left + 30) * scale), bottom);
        ASSERT_GE(ink_top, 0) << horizontal << scale;
        const double centre_offset = ((ink_top - top) - (bottom - ink_bottom)) / 2.0;
        EXPECT_LE(std::abs(centre_offset), 1.0)
            << "horizontal " << horizontal << " scale " << scale << " row " << row << ": ink "
            << ink_top - top << " from the top, " << bottom - ink_bottom << " from the bottom";
        const auto [label_top, label_bottom] =
            InkRows(canvas, static_cast<int>(place.label.left * scale), top,
                    static_cast<int>(place.label.right * scale), bottom);
        ASSERT_GE(label_top, 0);
        EXPECT_NEAR(label_bottom, place.label.baseline * scale, 1.0)
            << "horizontal " << horizontal << " scale " << scale << " row " << row;
      }
    }
  }
}

// The same characters take mainland forms for simplified output and Taiwan's for traditional.
TEST(CandidateTextOnScreenTest, LanguagePicksTheRegionalGlyphForms) {
  const std::tuple<bool, const char*, const char*> languages[] = {
      {false, "en_US.UTF-8", "zh-tw"}, {true, "en_US.UTF-8", "zh-cn"},
      {false, "zh_HK.UTF-8", "zh-hk"}, {false, "zh_MO", "zh-hk"},
      {true, "zh_HK.UTF-8", "zh-cn"},  {false, "zh_TW.UTF-8", "zh-tw"}};
  for (auto [simplified, locale, language] : languages) {
    EXPECT_EQ(TextLanguageFor(simplified, locale), language) << simplified << locale;
  }

  CandidateStyle style = Palette();
  style.font_face = "Noto Sans CJK TC";
  auto render = [&](const char* language) {
    std::string message;
    std::unique_ptr<PangoTextFormats> text = PangoTextFormats::Create(style, language, &message);
    EXPECT_TRUE(text) << message;
    if (!text) return std::vector<uint32_t>();
    Canvas canvas(80, 30);
    canvas.Fill(1, 1, 1);
    // Characters whose strokes differ between the mainland and Taiwan standards.
    text->DrawText(canvas.cr(), TextRole::Candidate, "骨直角", {2, 78, 22, false}, {0, 0, 0, 1});
    return canvas.Pixels(80, 30);
  };
  const std::vector<uint32_t> taiwan = render("zh-tw");
  EXPECT_EQ(render("zh-tw"), taiwan);
  EXPECT_NE(render("zh-cn"), taiwan);
}

// Frame after frame, the kept chrome and the rows-only repaints give exactly the pixels of a
// frame painted from scratch: opaque and translucent, with and without a picture, at 1 and 1.5.
TEST(FramePainterTest, EveryFrameMatchesAFramePaintedFromScratch) {
  CandidateStyle opaque = Palette();
  opaque.font_face = "Noto Sans CJK TC";
  CandidateStyle translucent = opaque;
  translucent.alpha = 0.8f;
  translucent.corner_radius = 9;
  std::string message;
  std::unique_ptr<PangoTextFormats> text = PangoTextFormats::Create(opaque, "zh-tw", &message);
  ASSERT_TRUE(text) << message;
  Canvas picture(8, 8);
  picture.Fill(0.2, 0.6, 0.3);

  struct Step {
    const char* name;
    std::function<void(CandidateContent*)> change;
    int repainted_rows;  // -1: the whole frame
  } steps[] = {
      {"first frame", nullptr, -1},
      {"hover to the next row", [](CandidateContent* c) { c->reply.highlighted = 2; }, 2},
      {"same reply again", nullptr, 0},
      {"one text changes in place",
       [](CandidateContent* c) { CopyTextField(c->reply.candidates[0].text, "乙"); }, 1},
      {"next page", [](CandidateContent* c) { c->reply.page_number = 1; }, -1},
      {"new texts, new widths",
       [](CandidateContent* c) { CopyTextField(c->reply.candidates[2].text, "中華人民共和國"); },
       -1},
  };
  for (const CandidateStyle* style : {&opaque, &translucent}) {
    for (cairo_surface_t* background :
         {static_cast<cairo_surface_t*>(nullptr), picture.surface()}) {
      for (double scale : {1.0, 1.5}) {
        CandidateContent content = TwoRows(true);
        content.reply.candidate_count = 3;
        CopyTextField(content.reply.candidates[2].text, "丙");
        content.reply.menu_count = 3;
        content.reply.last_page = 0;
        FramePainter painter;
        Canvas target(600, 80);
        for (const Step& step : steps) {
          if (step.change) step.change(&content);
          const CandidateLayout layout = LayoutCandidates(content, *style, *text, 980);
          const FrameInput in{scale, &content, style, &layout, text.get(), background};
          std::vector<int> rows;
          if (painter.ChangedRows(in, &rows)) {
            EXPECT_EQ(static_cast<int>(rows.size()), step.repainted_rows) << step.name;
            painter.PaintRows(target.surface(), in, rows);
          } else {
            EXPECT_EQ(step.repainted_rows, -1) << step.name;
            painter.Paint(target.surface(), in);
          }
          const int w = FramePixels(layout.width, scale);
          const int h = FramePixels(layout.height, scale);
          Canvas fresh(w, h);
          PaintWindowFrame(fresh.cr(), scale, content, *style, layout, *text, background);
          const std::vector<uint32_t> kept = target.Pixels(w, h);
          const std::vector<uint32_t> fresh_pixels = fresh.Pixels(w, h);
          const auto differ = std::mismatch(kept.begin(), kept.end(), fresh_pixels.begin());
          EXPECT_TRUE(differ.first == kept.end())
              << step.name << ", alpha " << style->alpha << ", picture " << (background != nullptr)
              << ", scale " << scale << ": first differs at pixel " << differ.first - kept.begin();
        }
      }
    }
  }
}

// A picture too large is refused:
// CandidateWindowTest.OversizedBackgroundImageFallsBackToTheThemeColourOnce.
TEST(BackgroundImageTest, DrawnStretchedUnderTheRows) {
  testing::TempDir dir;
  std::string message;
  EXPECT_EQ(LoadBackgroundImage(dir.Write("bad.png", "not a png"), &message), nullptr);
  Canvas png(4, 4);
  png.Fill(0, 1, 0);
  const std::filesystem::path path = dir.path() / "green.png";
  cairo_surface_write_to_png(png.surface(), path.c_str());
  cairo_surface_t* green = LoadBackgroundImage(path, &message);
  ASSERT_NE(green, nullptr) << message;
  RecordingRenderer text;
  CandidateStyle style = Palette();
  CandidateContent content = TwoRows(true);
  CandidateLayout layout = LayoutCandidates(content, style, text, 980);
  Canvas canvas(static_cast<int>(layout.width), static_cast<int>(layout.height));
  // The row background is capped at a quarter over the picture: white over green.
  PaintCandidates(canvas.cr(), content, style, layout, text, green);
  EXPECT_EQ(canvas.Pixel(static_cast<int>(layout.items[0].left + 3), 20), 0xFF40FF40u);
  // Above the rows: the picture itself.
  EXPECT_EQ(canvas.Pixel(static_cast<int>(layout.width / 2), 4), 0xFF00FF00u);
  // mutual_exclusive drops the row background when a picture is shown.
  style.mutual_exclusive = true;
  PaintCandidates(canvas.cr(), content, style, layout, text, green);
  EXPECT_EQ(canvas.Pixel(static_cast<int>(layout.items[0].left + 3), 20), 0xFF00FF00u);
  cairo_surface_destroy(green);
}

}  // namespace
}  // namespace kavi::win
