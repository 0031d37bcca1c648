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

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The laid-out width in DIPs rounded up to a whole DIP; 0 for an empty text or when the
  // role's format is missing.
  virtual double MeasureWidth(TextRole role, std::string_view utf8) const = 0;
};

class TextRenderer : public TextMeasurer {
 public:
  // Draws text top-left aligned in box (DIPs), fitted to the box's width.
  virtual void DrawText(cairo_t* cr, TextRole role, std::string_view utf8, const LayoutRect& box,
                        const StyleColor& color) = 0;
};

// Code units the text would take in UTF-16.
size_t Utf16Length(std::string_view utf8);

}  // namespace kavi::win
