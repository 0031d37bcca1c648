// SPDX-License-Identifier: Apache-2.0
// kavi-tray-screenshot: pictures of the floating toolbar and its menu for the README.
//
//   kavi-tray-screenshot OUTPUT_DIR
//
// The toolbars (standard, mini collapsed and expanded; light and dark; a hovered button) are
// painted by the toolbar's own painter; the menu is the live GTK menu on the current X
// display, captured from the screen.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "shell/toolbar_painter.h"
#include "shell/tray_icon.h"

namespace {

using namespace kavi::win;

// Twice the window's size, as on a 192-dpi screen.
constexpr double kScale = 2.0;

bool Paint(const std::filesystem::path& file, ToolbarShape shape, bool dark,
           ToolbarButton hovered = ToolbarButton::kNoButton, bool ascii = false) {
  ToolbarView view;
  view.shape = shape;
  view.hovered = hovered;
  view.ascii_mode = ascii;
  std::string message;
  if (!PaintToolbarPng(file, view, DefaultToolbarPalette(dark), kScale, &message)) {
    std::cerr << message << "\n";
    return false;
  }
  std::cout << file.string() << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kavi-tray-screenshot OUTPUT_DIR\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out);
  bool ok =
      Paint(out / "toolbar-light.png", ToolbarShape::kStandard, false, ToolbarButton::kScript) &&
      Paint(out / "toolbar-dark.png", ToolbarShape::kStandard, true, ToolbarButton::kNoButton,
            true) &&
      Paint(out / "toolbar-mini-light.png", ToolbarShape::kMiniCollapsed, false) &&
      Paint(out / "toolbar-mini-expanded-light.png", ToolbarShape::kMiniExpanded, false,
            ToolbarButton::kSettings) &&
      Paint(out / "toolbar-mini-dark.png", ToolbarShape::kMiniCollapsed, true) &&
      Paint(out / "toolbar-mini-expanded-dark.png", ToolbarShape::kMiniExpanded, true);
  if (!ok) return 1;

  const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "kavi-tray-shot";
  TrayIconOptions options;
  options.user_root = scratch;
  options.icon_dir = scratch / "icons";
  options.version = KAVI_VERSION;
  TrayIcon tray(std::move(options));
  if (!tray.ready()) {
    std::cerr << "no X display for the menu\n";
    return 1;
  }
  tray.SetClientFocus(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const ToolbarSnapshot toolbar = tray.Snapshot();
  tray.OpenMenu();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const ToolbarRect menu = tray.OpenMenuArea();
  if (menu.width == 0) {
    std::cerr << "the menu did not open\n";
    return 1;
  }
  // The menu and the toolbar it belongs to, with a margin.
  const int left = std::min(menu.x, toolbar.origin.x) - 8;
  const int top = std::min(menu.y, toolbar.origin.y) - 8;
  const int right = std::max(menu.x + menu.width, toolbar.origin.x + toolbar.width) + 8;
  const int bottom = std::max(menu.y + menu.height, toolbar.origin.y + toolbar.height) + 8;
  const std::filesystem::path file = out / "toolbar-menu.png";
  if (!tray.SaveScreenArea(file, std::max(left, 0), std::max(top, 0), right - left, bottom - top)) {
    std::cerr << "cannot capture the screen\n";
    return 1;
  }
  std::cout << file.string() << "\n";
  tray.CloseMenu();
  std::filesystem::remove_all(scratch);
  return 0;
}
