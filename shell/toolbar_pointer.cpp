// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_pointer.h"

#include <cstdlib>

namespace kavi::win {

void ToolbarPointer::Press(ToolbarButton hit, ToolbarPoint cursor, ToolbarPoint window_origin) {
  pressed_ = true;
  dragging_ = false;
  button_ = hit;
  start_cursor_ = cursor;
  start_origin_ = window_origin;
}

std::optional<ToolbarPoint> ToolbarPointer::Move(ToolbarPoint cursor) {
  if (!pressed_) return std::nullopt;
  const int dx = cursor.x - start_cursor_.x;
  const int dy = cursor.y - start_cursor_.y;
  if (!dragging_ && std::abs(dx) < kToolbarDragThreshold && std::abs(dy) < kToolbarDragThreshold)
    return std::nullopt;
  dragging_ = true;
  return ToolbarPoint{start_origin_.x + dx, start_origin_.y + dy};
}

ToolbarButton ToolbarPointer::Release(ToolbarButton hit_at_release) {
  const bool click = pressed_ && !dragging_ && hit_at_release == button_;
  pressed_ = false;
  dragging_ = false;
  return click ? button_ : ToolbarButton::kNoButton;
}

}  // namespace kavi::win
