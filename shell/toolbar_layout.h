// SPDX-License-Identifier: Apache-2.0
// The floating toolbar's geometry: the window size and the buttons of the standard and the mini
// toolbar, the hit test, and keeping the window inside a work area. Client coordinates, pixels.
#pragma once

#include <array>
#include <span>

namespace kavi::win {

// Buttons, numbered as the user sees them; kNoButton is the grip or empty space.
enum class ToolbarButton {
  kNoButton = 0,
  kInputMode = 1,
  kScript = 2,
  kTranslate = 3,
  kMicrophone = 4,
  kSettings = 5
};

enum class ToolbarShape { kStandard, kMiniCollapsed, kMiniExpanded };

struct ToolbarRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool Contains(int px, int py) const {
    return px >= x && px < x + width && py >= y && py < y + height;
  }
  bool operator==(const ToolbarRect&) const = default;
};

struct ToolbarPoint {
  int x = 0, y = 0;
  bool operator==(const ToolbarPoint&) const = default;
};

struct ToolbarButtonPlace {
  ToolbarButton button;
  ToolbarRect rect;
};

// Buttons occupy rows 4 to 27; the standard toolbar has a grip at x 0 to 27.
inline constexpr int kToolbarButtonTop = 4;
inline constexpr int kToolbarButtonHeight = 24;
inline constexpr int kToolbarGripWidth = 28;
inline constexpr int kToolbarStandardWidth = 160;
inline constexpr int kToolbarHeight = 36;

// The window's size in this shape.
ToolbarRect ToolbarSize(ToolbarShape shape);
// The buttons of this shape, left to right.
std::span<const ToolbarButtonPlace> ToolbarButtons(ToolbarShape shape);
// The button under a client point; kNoButton outside rows 4 to 27, on the grip or between.
ToolbarButton HitTestToolbar(ToolbarShape shape, int x, int y);

// The origin that keeps a window of this size wholly inside the work area (flush with the edge
// it would cross); a window larger than the area keeps to its left or top edge.
ToolbarPoint ClampToWorkArea(ToolbarPoint origin, int width, int height, const ToolbarRect& area);

// Where a new toolbar goes: the bottom-right corner of the work area, off its edges.
ToolbarPoint InitialToolbarOrigin(int width, int height, const ToolbarRect& area);

}  // namespace kavi::win
