// SPDX-License-Identifier: Apache-2.0
// Layout plus paint of one candidate window frame into an image surface, the work the window
// thread does for every reply.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <string>

#include "candidate/candidate_layout.h"
#include "candidate/frame_painter.h"
#include "candidate/pango_text.h"
#include "candidate/theme_resolution.h"
#include "candidate/window_frame.h"

namespace kavi::win {
namespace {

const char* const kWords[] = {"中華", "中文", "種植", "重要", "眾人",   "終於",
                              "鐘聲", "忠誠", "腫脹", "衷心", "中國人", "中間"};
const char* const kComments[] = {"zhōng", "zh", "", "zhòng", "", "", "", "", "", "", "", ""};

CandidateStyle NativeStyle() {
  return ResolveCandidateStyle(std::filesystem::path(KAVI_SOURCE_DIR) / "data/themes", "", "native",
                               false);
}

// fresh: every frame shows texts not seen before, as when typing on; otherwise the same reply
// is painted again, as on a highlight change.
void PaintFrames(benchmark::State& state, CandidateContent content, double max_width, bool fresh) {
  const CandidateStyle style = NativeStyle();
  std::string message;
  std::unique_ptr<PangoTextFormats> text = PangoTextFormats::Create(style, "zh-tw", &message);
  if (!text) {
    state.SkipWithError(message.c_str());
    return;
  }
  // The window's frame buffer is as large as the frame.
  const CandidateLayout first = LayoutContent(content, style, *text, max_width, 900);
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, FramePixels(first.width, 1.0), FramePixels(first.height, 1.0));
  FramePainter painter;
  uint64_t frame = 0;
  for (auto _ : state) {
    if (fresh) {
      ++frame;
      for (uint32_t i = 0; i < content.reply.candidate_count; ++i) {
        CopyTextField(content.reply.candidates[i].text,
                      std::string(kWords[i % 12]) + std::to_string(frame));
      }
    }
    CandidateLayout layout = LayoutContent(content, style, *text, max_width, 900);
    painter.Paint(surface, {1.0, &content, &style, &layout, text.get(), nullptr});
    benchmark::DoNotOptimize(layout.width);
  }
  cairo_surface_destroy(surface);
}

void BM_TenCandidateReply(benchmark::State& state) {
  CandidateContent content;
  content.horizontal = state.range(0) != 0;
  content.reply = EmptyReply();
  content.reply.candidate_count = 10;
  content.reply.highlighted = 2;
  content.reply.menu_count = 5;
  content.reply.page_number = 1;
  for (int i = 0; i < 10; ++i) {
    CopyTextField(content.reply.candidates[i].text, kWords[i]);
    CopyTextField(content.reply.candidates[i].comment, kComments[i]);
  }
  PaintFrames(state, content, content.horizontal ? 980 : 420, state.range(1) != 0);
}
BENCHMARK(BM_TenCandidateReply)
    ->ArgNames({"horizontal", "fresh"})
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

void BM_FullPanel(benchmark::State& state) {
  CandidateContent content;
  content.reply = EmptyReply();
  content.panel_mode = true;
  content.panel_rows_per_page = 10;
  content.panel_highlighted = 37;
  for (int i = 0; i < 100; ++i) {
    content.panel_rows.push_back({std::string(kWords[i % 12]) + kWords[(i / 12) % 12], ""});
  }
  PaintFrames(state, content, 1180, false);
}
BENCHMARK(BM_FullPanel)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kavi::win

BENCHMARK_MAIN();
