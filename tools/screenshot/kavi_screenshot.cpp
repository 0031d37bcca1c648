// SPDX-License-Identifier: Apache-2.0
// kavi-screenshot: renders a candidate reply (or an expanded panel) with a theme to PNG, through
// the same layout and painting the candidate window uses.
//
//   kavi-screenshot [options] --out FILE CANDIDATE...
//   CANDIDATE is "text" or "text:comment".
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/pango_text.h"
#include "candidate/text_language.h"
#include "candidate/theme_resolution.h"
#include "candidate/window_frame.h"
#include "candidate/window_placement.h"

namespace {

using namespace kavi::win;

constexpr char kUsage[] =
    "usage: kavi-screenshot [options] --out FILE CANDIDATE...\n"
    "  CANDIDATE             \"text\" or \"text:comment\"\n"
    "  --theme ID            theme id (default native)\n"
    "  --themes DIR          built-in themes directory (default: the data directory's themes)\n"
    "  --user-themes DIR     user themes directory\n"
    "  --dark                dark colour variants\n"
    "  --vertical            stacked rows instead of side by side\n"
    "  --highlight N         highlighted row (default 0)\n"
    "  --page N              page number (default 0)\n"
    "  --last-page           this is the last page\n"
    "  --pages N             the page count word (default 2)\n"
    "  --preedit TEXT        show TEXT on a preedit line above the rows\n"
    "  --panel Q             expanded panel with Q rows per page\n"
    "  --column-major        panel rows fill columns first\n"
    "  --candidates FILE     more candidates, one per line\n"
    "  --scale S             device pixels per DIP (default 1)\n"
    "  --max-width W         maximum window width in DIPs (default 980, vertical 420)\n"
    "  --screen-width PX     the window's maximum width on a screen this many pixels wide\n"
    "  --simplified          shape texts for simplified output (mainland glyph forms)\n"
    "  --language TAG        shape texts in this language (default zh-tw)\n";

struct Options {
  std::string theme = "native";
  std::filesystem::path themes_dir = std::filesystem::path(KAVI_DATA_DIR) / "themes";
  std::filesystem::path user_themes_dir;
  bool dark = false;
  bool vertical = false;
  int highlight = 0;
  int page = 0;
  bool last_page = false;
  int pages = 2;
  std::string preedit;
  int panel_rows_per_page = 0;
  bool column_major = false;
  double scale = 1;
  double max_width = 0;
  int screen_width = 0;
  std::string language = kTraditionalTextLanguage;
  std::string out;
  std::vector<PanelItem> rows;
};

PanelItem ParseCandidate(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (arg == "--dark") {
      o->dark = true;
    } else if (arg == "--vertical") {
      o->vertical = true;
    } else if (arg == "--last-page") {
      o->last_page = true;
    } else if (arg == "--column-major") {
      o->column_major = true;
    } else if (arg == "--simplified") {
      o->language = kSimplifiedTextLanguage;
    } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      if (!(v = value())) return false;
      if (arg == "--theme")
        o->theme = v;
      else if (arg == "--themes")
        o->themes_dir = v;
      else if (arg == "--user-themes")
        o->user_themes_dir = v;
      else if (arg == "--highlight")
        o->highlight = std::atoi(v);
      else if (arg == "--page")
        o->page = std::atoi(v);
      else if (arg == "--pages")
        o->pages = std::atoi(v);
      else if (arg == "--preedit")
        o->preedit = v;
      else if (arg == "--panel")
        o->panel_rows_per_page = std::atoi(v);
      else if (arg == "--scale")
        o->scale = std::atof(v);
      else if (arg == "--max-width")
        o->max_width = std::atof(v);
      else if (arg == "--screen-width")
        o->screen_width = std::atoi(v);
      else if (arg == "--language")
        o->language = v;
      else if (arg == "--out")
        o->out = v;
      else if (arg == "--candidates") {
        std::ifstream in(v);
        if (!in) {
          std::cerr << "kavi-screenshot: cannot read " << v << "\n";
          return false;
        }
        for (std::string line; std::getline(in, line);) {
          if (!line.empty()) o->rows.push_back(ParseCandidate(line));
        }
      } else {
        return false;
      }
    } else {
      o->rows.push_back(ParseCandidate(arg));
    }
  }
  return !o->out.empty() && o->scale > 0 && (!o->rows.empty() || !o->preedit.empty());
}

CandidateContent MakeContent(const Options& o) {
  CandidateContent content;
  content.horizontal = !o.vertical;
  PipeResponse& reply = content.reply;
  reply = EmptyReply();
  reply.kind = static_cast<uint16_t>(ReplyKind::State);
  reply.result = 1;
  reply.page_number = static_cast<uint32_t>(o.page);
  reply.last_page = o.last_page ? 1 : 0;
  reply.menu_count = static_cast<uint32_t>(o.pages);
  reply.highlighted = static_cast<uint32_t>(o.highlight);
  if (!o.preedit.empty()) {
    reply.tail_flag = 0;
    reply.has_preedit = 1;
    CopyTextField(reply.preedit, o.preedit);
  }
  if (o.panel_rows_per_page > 0) {
    content.panel_mode = true;
    content.panel_rows = o.rows;
    if (content.panel_rows.size() > static_cast<size_t>(kMaxPanelRows)) {
      content.panel_rows.resize(kMaxPanelRows);
    }
    content.panel_highlighted = o.highlight;
    content.panel_rows_per_page = o.panel_rows_per_page;
    content.panel_row_major = !o.column_major;
    return content;
  }
  size_t n = std::min(o.rows.size(), kMaxCandidateSlots);
  reply.candidate_count = static_cast<uint32_t>(n);
  reply.page_size = static_cast<uint32_t>(n);
  for (size_t i = 0; i < n; ++i) {
    CopyTextField(reply.candidates[i].text, o.rows[i].text);
    CopyTextField(reply.candidates[i].comment, o.rows[i].comment);
  }
  return content;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const CandidateStyle style = ResolveCandidateStyle(options.themes_dir, options.user_themes_dir,
                                                     options.theme, options.dark);
  std::string message;
  std::unique_ptr<PangoTextFormats> text =
      PangoTextFormats::Create(style, options.language, &message);
  if (!text) {
    std::cerr << "kavi-screenshot: " << message << "\n";
    return 1;
  }
  const CandidateContent content = MakeContent(options);
  double max_width = options.max_width > 0 ? options.max_width
                     : content.panel_mode  ? kMaxPanelWidth
                     : content.horizontal  ? kMaxHorizontalWindowWidth
                                           : kMaxVerticalWindowWidth;
  if (options.screen_width > 0) {
    const ScreenRect screen{0, 0, options.screen_width, options.screen_width * 3 / 4};
    max_width =
        MaximumWindowSize(screen, options.scale, content.horizontal, content.panel_mode).width;
  }
  const CandidateLayout layout = LayoutContent(content, style, *text, max_width, 1000);
  if (layout.Hidden()) {
    std::cerr << "kavi-screenshot: nothing to show\n";
    return 1;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, FramePixels(layout.width, options.scale),
                                 FramePixels(layout.height, options.scale));
  cairo_t* cr = cairo_create(surface);
  PaintWindowFrame(cr, options.scale, content, style, layout, *text, nullptr);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, options.out.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::cerr << "kavi-screenshot: cannot write " << options.out << ": "
              << cairo_status_to_string(status) << "\n";
    return 1;
  }
  return 0;
}
