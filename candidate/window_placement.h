// SPDX-License-Identifier: Apache-2.0
// Where the window goes and how large it may grow, given the caret and the monitor's work area.
#pragma once

#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr double kMaxHorizontalWindowWidth = 980;
inline constexpr double kMaxVerticalWindowWidth = 420;
inline constexpr int kCaretGap = 6;  // DIPs between the caret and the window

struct MaxSize {
  double width = 1;   // DIPs
  double height = 1;  // DIPs
};

// 92% of the work area, capped by orientation (the panel has its own cap in its layout).
MaxSize MaximumWindowSize(const ScreenRect& work_area, double scale, bool horizontal,
                          bool panel_mode);

struct WindowPosition {
  int x = 0;
  int y = 0;
};

// Below the caret, or above it when the window would pass the work area's bottom; never past
// the work area's right edge.
WindowPosition PlaceWindow(const ScreenRect& anchor, const ScreenRect& work_area, int width,
                           int height, double scale);

}  // namespace kavi::win
