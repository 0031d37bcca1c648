// Paints a laid-out candidate window into any cairo target (the window, or an image surface for
// screenshots and tests). The target's user space must already be in DIPs.
#pragma once

#include <cairo.h>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

// background may be null (no background image).
void PaintCandidates(cairo_t* cr, const CandidateContent& content, const CandidateStyle& style,
                     const CandidateLayout& layout, TextRenderer& text,
                     cairo_surface_t* background);

}  // namespace kavi::win
