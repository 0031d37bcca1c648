// SPDX-License-Identifier: Apache-2.0
// Paints a laid-out candidate window into any cairo target (the window, or an image surface for
// screenshots and tests). The target's user space must already be in DIPs.
#pragma once

#include <cairo.h>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

// What stays while the layout, the style and the background stay: the background colour and
// picture, the rows' background and the border. background may be null (no picture).
void PaintChrome(cairo_t* cr, const CandidateStyle& style, const CandidateLayout& layout,
                 cairo_surface_t* background);

// What changes from reply to reply: the preedit line, every row, the paging arrows.
void PaintContent(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                  const CandidateLayout& layout, TextRenderer& text);

// One row: its highlight, label, candidate text and comment. Nothing it draws reaches past the
// row's rectangle.
void PaintRow(cairo_t* cr, int row, const CandidateContent& content, const CandidateStyle& style,
              const CandidateLayout& layout, TextRenderer& text);

// The whole drawing: chrome, then content.
void PaintCandidates(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                     const CandidateLayout& layout, TextRenderer& text,
                     cairo_surface_t* background);

}  // namespace kavi::win
