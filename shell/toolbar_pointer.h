// SPDX-License-Identifier: Apache-2.0
// What a press, the moves after it and the release mean on the toolbar: a click on a button, or
// a drag of the whole window once the cursor has moved 4 pixels on either axis. Screen
// coordinates for the cursor and the window origin.
#pragma once

#include <optional>

#include "shell/toolbar_layout.h"

namespace kavi::win {

inline constexpr int kToolbarDragThreshold = 4;

class ToolbarPointer {
 public:
  void Press(ToolbarButton hit, ToolbarPoint cursor, ToolbarPoint window_origin);
  // While the button is held: the window's new (unclamped) origin once dragging, else nothing.
  std::optional<ToolbarPoint> Move(ToolbarPoint cursor);
  // The button whose action runs: the pressed one, when the pointer did not drag and is
  // released over it.
  ToolbarButton Release(ToolbarButton hit_at_release);

  bool pressed() const { return pressed_; }
  bool dragging() const { return dragging_; }
  ToolbarButton pressed_button() const { return pressed_ ? button_ : ToolbarButton::kNoButton; }

 private:
  bool pressed_ = false;
  bool dragging_ = false;
  ToolbarButton button_ = ToolbarButton::kNoButton;
  ToolbarPoint start_cursor_;
  ToolbarPoint start_origin_;
};

}  // namespace kavi::win
