// SPDX-License-Identifier: Apache-2.0
// Paints frame after frame of the candidate window into one image, doing no work twice: the
// chrome (background, rows' background, border, the rounded outline) is kept while the layout,
// style, scale and background stay, and a change of highlight repaints only the rows it touches.
// Every frame is pixel for pixel what PaintWindowFrame paints from scratch.
#pragma once

#include <cairo.h>

#include <vector>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const PixelRect&) const = default;
};

struct FrameInput {
  double scale = 1;
  const CandidateContent* content = nullptr;
  const CandidateStyle* style = nullptr;
  const CandidateLayout* layout = nullptr;
  TextRenderer* text = nullptr;
  cairo_surface_t* background = nullptr;  // may be null
};

class FramePainter {
 public:
  FramePainter() = default;
  ~FramePainter();
  FramePainter(const FramePainter&) = delete;
  FramePainter& operator=(const FramePainter&) = delete;

  // Paints the whole frame at (0, 0) of target, an ARGB32 image surface at least the frame's
  // pixel size.
  void Paint(cairo_surface_t* target, const FrameInput& in);

  // The rows whose pixels differ between the frame painted last and `in` when nothing else
  // does (the same layout, style, scale, background, preedit and arrows); false when more than
  // rows changed and the whole frame must be painted.
  bool ChangedRows(const FrameInput& in, std::vector<int>* rows) const;

  // Repaints only these rows over the frame painted last into target, and returns the pixel
  // rectangles it changed.
  std::vector<PixelRect> PaintRows(cairo_surface_t* target, const FrameInput& in,
                                   const std::vector<int>& rows);

  // Forgets the kept chrome (the text formats or the background went away).
  void Reset();
  // Forgets the frame painted last (its pixels are gone): the next frame is painted whole.
  void ForgetFrame() { has_last_ = false; }

 private:
  bool ChromeFits(const FrameInput& in) const;
  void PaintChromeSurface(const FrameInput& in, int width, int height);
  // The frame before the window's opacity is applied: the target itself when opaque.
  cairo_surface_t* Canvas(cairo_surface_t* target, int width, int height, bool opaque);
  void Compose(cairo_surface_t* target, const FrameInput& in, const PixelRect& area, bool whole);
  PixelRect RowPixels(const FrameInput& in, int row) const;

  cairo_surface_t* chrome_ = nullptr;
  cairo_surface_t* canvas_ = nullptr;  // translucent themes only
  // What the chrome and the last frame were painted from.
  CandidateStyle chrome_style_;
  CandidateLayout chrome_layout_;
  double chrome_scale_ = 0;
  cairo_surface_t* chrome_background_ = nullptr;
  bool has_last_ = false;
  CandidateContent last_content_;
};

}  // namespace kavi::win
