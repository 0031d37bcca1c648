// SPDX-License-Identifier: Apache-2.0
#include "candidate/window_placement.h"

#include <algorithm>

#include "candidate/candidate_layout.h"

namespace kavi::win {

MaxSize MaximumWindowSize(const ScreenRect& work_area, double scale, bool horizontal,
                          bool panel_mode) {
  MaxSize size;
  size.width = (work_area.right - work_area.left) / scale * 0.92;
  size.height = (work_area.bottom - work_area.top) / scale * 0.92;
  const double cap = panel_mode   ? kMaxPanelWidth
                     : horizontal ? kMaxHorizontalWindowWidth
                                  : kMaxVerticalWindowWidth;
  size.width = std::max(std::min(size.width, cap), 1.0);
  size.height = std::max(size.height, 1.0);
  return size;
}

WindowPosition PlaceWindow(const ScreenRect& anchor, const ScreenRect& work_area, int width,
                           int height, double scale) {
  WindowPosition p;
  p.x = std::clamp(anchor.left, work_area.left, std::max(work_area.left, work_area.right - width));
  const int gap = static_cast<int>(kCaretGap * scale);
  p.y = anchor.bottom + gap;
  if (p.y + height > work_area.bottom) p.y = anchor.top - gap - height;
  p.y = std::max(p.y, work_area.top);
  return p;
}

}  // namespace kavi::win
