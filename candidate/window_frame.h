// SPDX-License-Identifier: Apache-2.0
// One whole frame of the candidate window as it appears on screen: the rounded outline, the
// opacity and the DPI scale around the painting. The window and the screenshot tool both draw
// through here.
#pragma once

#include <cairo.h>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

inline constexpr double kTranslucentAlphaCap = 0.86;

// The window's alpha as 0..255: alpha, capped when the theme is translucent.
int WindowAlpha(const CandidateStyle& style);

// The frame size in device pixels for a layout at this scale (truncated, at least 1).
int FramePixels(double dips, double scale);

// Clips to the rounded outline the window is cut to, in device pixels.
void ClipToWindowOutline(cairo_t* cr, double scale, const CandidateStyle& style,
                         const CandidateLayout& layout);

// Clears the target to transparent and paints the frame at (0, 0) in device pixels.
void PaintWindowFrame(cairo_t* cr, double scale, const CandidateContent& content,
                      const CandidateStyle& style, const CandidateLayout& layout,
                      TextRenderer& text, cairo_surface_t* background);

}  // namespace kavi::win
