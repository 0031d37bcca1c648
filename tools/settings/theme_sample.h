// SPDX-License-Identifier: Apache-2.0
// A theme's sample as the theme gallery shows it: a few candidates laid out and painted by the
// candidate window's own layout and painting (the code kavi-screenshot draws with), into an
// image in memory.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <memory>
#include <string>

namespace kavi::win {

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

struct ThemeSampleRequest {
  std::filesystem::path builtin_dir;
  std::filesystem::path user_dir;
  std::string theme_id;
  bool dark = false;
  bool horizontal = true;
  double scale = 1;  // device pixels per DIP
};

// An ARGB32 image of the sample, or null with a message when no font can draw it. A theme that
// does not load is drawn as the window would draw it: with "native".
CairoSurface RenderThemeSample(const ThemeSampleRequest& request, std::string* message);

}  // namespace kavi::win
