// SPDX-License-Identifier: Apache-2.0
// The tray: the floating toolbar, its context menu, the hide confirmation, the update notice
// and the panel icon, all owned by one thread running GTK. Other threads change the state
// under the tray's lock and post to that thread; only it touches the windows.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ports/toolbar_port.h"
#include "ports/update_notice_port.h"
#include "shell/toolbar_actions.h"
#include "shell/toolbar_layout.h"
#include "shell/toolbar_palette.h"
#include "shell/tray_menu_model.h"

namespace kavi::win {

// The settings the toolbar and the menu show.
struct TrayDisplaySettings {
  bool simplified_output = true;
  bool mixed_english = true;
  bool key_sound = false;
  std::string voice_output_language = "follow";
  ToolbarPaletteSettings palette;
};

struct TrayIconOptions {
  ToolbarActions actions;
  std::function<void()> shutdown;
  // registry.json lives here.
  std::filesystem::path user_root;
  std::string version;
  // A private folder for the panel icon's pictures.
  std::filesystem::path icon_dir;
  TrayDisplaySettings settings;
  // How long construction waits for the tray thread; tests on a loaded machine allow more.
  int ready_timeout_ms = 2000;
};

// What the tests and screenshots read back from the live widgets.
struct ToolbarSnapshot {
  bool visible = false;
  ToolbarShape shape = ToolbarShape::kStandard;
  ToolbarPoint origin;  // on screen, from the X server
  int width = 0, height = 0;
  unsigned long xid = 0;
  bool dialog_open = false;
  bool notice_shown = false;
};

inline constexpr int kFocusHideDelayMs = 120;

class TrayIcon final : public ToolbarPort, public UpdateNoticePort {
 public:
  explicit TrayIcon(TrayIconOptions options);
  ~TrayIcon() override;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // False when the tray thread could not show its windows (no display).
  bool ready() const { return ready_; }

  void SetClientFocus(bool has_focus) override;
  void SetAsciiMode(bool ascii_mode) override;
  void ApplySettings(const TrayDisplaySettings& settings);
  void ShowUpdateNotice(const std::string& version) override;

  // Read back on the tray thread, for tests and screenshots.
  ToolbarSnapshot Snapshot();
  // The open context menu as its widgets say (ids, labels, checks, submenu); empty when none
  // is open.
  std::vector<TrayMenuItem> OpenMenuItems();
  // Activates an item of the open menu by id, as a click on it does.
  bool ActivateOpenMenuItem(int id);
  // Answers the open hide confirmation.
  bool AnswerConfirmation(bool ok);
  // Opens the context menu at the pointer, as a right click on the toolbar does.
  void OpenMenu();
  // Closes the open menu.
  void CloseMenu();
  // The open menu's extent on screen; empty when none is open.
  ToolbarRect OpenMenuArea();
  // Saves a part of the screen as PNG (screenshots of the live toolbar and menu).
  bool SaveScreenArea(const std::filesystem::path& file, int x, int y, int width, int height);

  class Thread;

 private:
  void RunOnTrayThread(std::function<void()> work);

  std::unique_ptr<Thread> thread_;
  bool ready_ = false;
};

}  // namespace kavi::win
