// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_layout.h"

#include <algorithm>

namespace kavi::win {
namespace {

constexpr int kButtonWidth = 22;
constexpr int kMiniButtonLeft = 1;
constexpr int kMiniWidthCollapsed = 25;
constexpr int kMiniWidthExpanded = 91;
// Off the work area's corner, clear of a panel's rounded edge.
constexpr int kInitialMargin = 24;

constexpr ToolbarRect Button(int left, int width = kButtonWidth) {
  return {left, kToolbarButtonTop, width, kToolbarButtonHeight};
}

constexpr std::array<ToolbarButtonPlace, 5> kStandard = {{
    {ToolbarButton::kInputMode, Button(28)},
    {ToolbarButton::kScript, Button(54)},
    {ToolbarButton::kTranslate, Button(80)},
    {ToolbarButton::kMicrophone, Button(106)},
    {ToolbarButton::kSettings, Button(132)},
}};

// The mini toolbar: button 2 at x 1 to 23, then 3, 4, 5 side by side when expanded.
constexpr std::array<ToolbarButtonPlace, 4> kMini = {{
    {ToolbarButton::kScript, Button(kMiniButtonLeft, 23)},
    {ToolbarButton::kTranslate, Button(24)},
    {ToolbarButton::kMicrophone, Button(46)},
    {ToolbarButton::kSettings, Button(68)},
}};

}  // namespace

ToolbarRect ToolbarSize(ToolbarShape shape) {
  switch (shape) {
    case ToolbarShape::kStandard:
      return {0, 0, kToolbarStandardWidth, kToolbarHeight};
    case ToolbarShape::kMiniCollapsed:
      return {0, 0, kMiniWidthCollapsed, kToolbarHeight};
    case ToolbarShape::kMiniExpanded:
      break;
  }
  return {0, 0, kMiniWidthExpanded, kToolbarHeight};
}

std::span<const ToolbarButtonPlace> ToolbarButtons(ToolbarShape shape) {
  switch (shape) {
    case ToolbarShape::kStandard:
      return kStandard;
    case ToolbarShape::kMiniCollapsed:
      return std::span(kMini).first(1);
    case ToolbarShape::kMiniExpanded:
      break;
  }
  return kMini;
}

ToolbarButton HitTestToolbar(ToolbarShape shape, int x, int y) {
  for (const ToolbarButtonPlace& place : ToolbarButtons(shape))
    if (place.rect.Contains(x, y)) return place.button;
  return ToolbarButton::kNoButton;
}

ToolbarPoint ClampToWorkArea(ToolbarPoint origin, int width, int height, const ToolbarRect& area) {
  const int right = area.x + area.width - width;
  const int bottom = area.y + area.height - height;
  return {std::max(area.x, std::min(origin.x, right)),
          std::max(area.y, std::min(origin.y, bottom))};
}

ToolbarPoint InitialToolbarOrigin(int width, int height, const ToolbarRect& area) {
  return ClampToWorkArea({area.x + area.width - width - kInitialMargin,
                          area.y + area.height - height - kInitialMargin},
                         width, height, area);
}

}  // namespace kavi::win
