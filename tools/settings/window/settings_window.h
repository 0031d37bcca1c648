// SPDX-License-Identifier: Apache-2.0
// The settings window: an AdwPreferencesWindow with one page per WindowPage, built from the
// page model. Every change is saved at once through the settings store (so the server's
// watcher reloads it), and changes made elsewhere (the toolbar, the command line) show up in
// the window as they reach the files.
#pragma once

#include <adwaita.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/settings/window/section_view.h"

namespace kavi::win {

class SettingsWindow {
 public:
  // The object lives as long as its window: it deletes itself when the window is finalized.
  // `destroyed` runs when the window starts to go away.
  static SettingsWindow* Open(GtkApplication* app, std::filesystem::path config_directory,
                              std::function<void()> destroyed);

  void Present(WindowPage page, const std::string& focus_key);

  GtkWindow* window() const { return GTK_WINDOW(window_); }

 private:
  SettingsWindow(GtkApplication* app, std::filesystem::path config_directory,
                 std::function<void()> destroyed);
  ~SettingsWindow();

  void BuildPages();
  bool Apply(const std::string& key, const std::string& value);
  void Toast(const std::string& text);
  // Shows the stored values in every control, and tells the sections.
  void ShowStored();
  // The files changed on disk: read them again.
  void Reload();
  void WatchFiles();
  void PageChanged();
  std::optional<WindowPage> VisiblePage() const;

  SettingsStore store_;
  ConfigRecord record_;
  AliveToken alive_;
  std::unique_ptr<ServerLink> link_;
  SectionContext ctx_;
  bool showing_ = false;
  std::map<std::string, RowBinding> bindings_;
  GtkWidget* window_ = nullptr;
  std::map<WindowPage, GtkWidget*> pages_;
  std::map<WindowPage, std::vector<std::unique_ptr<SectionView>>> sections_;
  GFileMonitor* monitor_ = nullptr;
  guint reload_source_ = 0;
  std::function<void()> destroyed_;
};

}  // namespace kavi::win
