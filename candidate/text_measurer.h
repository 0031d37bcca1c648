// SPDX-License-Identifier: Apache-2.0
// Text measurement and drawing as the layout and the painter need it. The window uses Pango;
// layout tests substitute fixed widths.
#pragma once

#include <cairo.h>

#include <string_view>

#include "style/candidate_style.h"

namespace kavi::win {

enum class TextRole { Candidate, Label, Comment };

struct LayoutRect {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;

  double Width() const { return right - left; }
  double Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  // Hit tests include all four edges.
  bool Contains(double x, double y) const {
    return x >= left && x <= right && y >= top && y <= bottom;
  }
  bool operator==(const LayoutRect&) const = default;
};

// How far a role's glyphs reach above and below the baseline, in DIPs, and the distance from one
// line's baseline to the next.
struct TextBand {
  double ascent = 0;
  double descent = 0;
  double line_height = 0;

  bool operator==(const TextBand&) const = default;
};

// Where one text goes: from left, cut at right (an ellipsis, or further lines when it wraps),
// with its first baseline at baseline.
struct TextPlacement {
  double left = 0;
  double right = 0;
  double baseline = 0;
  bool wrap = false;

  double Width() const { return right - left; }
  bool operator==(const TextPlacement&) const = default;
};

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The laid-out width in DIPs rounded up to a whole DIP; 0 for an empty text or when the
  // role's format is missing.
  virtual double MeasureWidth(TextRole role, std::string_view utf8) const = 0;
  virtual TextBand Band(TextRole role) const = 0;
  // The lines the text takes when wrapped within width; 1 when it fits on one.
  virtual int WrappedLines(TextRole role, std::string_view utf8, double width) const = 0;
};

class TextRenderer : public TextMeasurer {
 public:
  virtual void DrawText(cairo_t* cr, TextRole role, std::string_view utf8,
                        const TextPlacement& place, const StyleColor& color) = 0;
};

// Code units the text would take in UTF-16.
size_t Utf16Length(std::string_view utf8);

}  // namespace kavi::win
