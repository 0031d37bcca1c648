// SPDX-License-Identifier: Apache-2.0
// What one start of KaviSettings does, decided from its switches before anything is shown:
// the command line (which serves --set, --get, --list, the toolbar's toggles and every request
// it cannot parse), the settings window at a page, or the translation popup.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "protocol/pipe_records.h"
#include "tools/settings/window_pages.h"

namespace kavi::win {

struct LaunchPlan {
  enum class Mode { kCommandLine, kWindow, kTranslatePopup };
  Mode mode = Mode::kCommandLine;
  std::filesystem::path config_directory;
  bool config_directory_given = false;  // --config-dir named it
  // kWindow: the page to show, and the key whose control gets the keyboard focus (--key=KEY).
  WindowPage page = WindowPage::kInput;
  std::string focus_key;
  // kTranslatePopup: the screen point the popup opens at.
  int x = 0;
  int y = 0;
};

// The window and the popup need a display; without one the caller runs the command line with
// the same switches, which prints the page or says that the popup needs a display.
LaunchPlan PlanLaunch(const std::vector<std::string>& args,
                      const std::filesystem::path& default_directory);

// "X,Y" as two decimal integers (each may be negative).
bool ParseScreenPoint(std::string_view text, int* x, int* y);

// Where the translation popup of `width` x `height` opens for the toolbar's point (x, y): just
// below and right of it, moved left or above it where the screen area would cut it off.
struct ScreenPoint {
  int x;
  int y;
  bool operator==(const ScreenPoint&) const = default;
};
ScreenPoint TranslatePopupOrigin(int x, int y, int width, int height, const ScreenRect& area);

}  // namespace kavi::win
