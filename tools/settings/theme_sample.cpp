// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/theme_sample.h"

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/pango_text.h"
#include "candidate/text_language.h"
#include "candidate/theme_resolution.h"
#include "candidate/window_frame.h"

namespace kavi::win {

namespace {

// The sample: what typing "shuru" shows, with the first candidate highlighted.
constexpr const char* kSamplePreedit = "shu ru";
constexpr const char* kSampleCandidates[] = {"輸入", "書", "舒服", "數"};
// Wide enough for the horizontal sample in every shipped theme's largest font.
constexpr double kSampleMaxWidth = 600;
constexpr double kSampleMaxHeight = 400;

CandidateContent SampleContent(bool horizontal) {
  CandidateContent content;
  content.horizontal = horizontal;
  PipeResponse& reply = content.reply;
  reply = EmptyReply();
  reply.kind = static_cast<uint16_t>(ReplyKind::State);
  reply.result = 1;
  reply.has_preedit = 1;
  reply.tail_flag = 0;  // the preedit is shown in the window, above the rows
  CopyTextField(reply.preedit, kSamplePreedit);
  const uint32_t count = std::size(kSampleCandidates);
  reply.candidate_count = count;
  reply.page_size = count;
  reply.menu_count = 2;
  for (uint32_t i = 0; i < count; ++i)
    CopyTextField(reply.candidates[i].text, kSampleCandidates[i]);
  return content;
}

}  // namespace

CairoSurface RenderThemeSample(const ThemeSampleRequest& request, std::string* message) {
  const CandidateStyle style =
      ResolveCandidateStyle(request.builtin_dir, request.user_dir, request.theme_id, request.dark);
  std::unique_ptr<PangoTextFormats> text =
      PangoTextFormats::Create(style, kTraditionalTextLanguage, message);
  if (!text) return nullptr;
  const CandidateContent content = SampleContent(request.horizontal);
  const CandidateLayout layout =
      LayoutContent(content, style, *text, kSampleMaxWidth, kSampleMaxHeight);
  if (layout.Hidden()) {
    *message = "the sample lays out to nothing";
    return nullptr;
  }
  CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                                  FramePixels(layout.width, request.scale),
                                                  FramePixels(layout.height, request.scale)));
  cairo_t* cr = cairo_create(surface.get());
  PaintWindowFrame(cr, request.scale, content, style, layout, *text, nullptr);
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
  return surface;
}

}  // namespace kavi::win
