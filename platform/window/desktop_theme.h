// SPDX-License-Identifier: Apache-2.0
// The desktop's light/dark preference: GTK's settings.ini key
// gtk-application-prefer-dark-theme, and a watch on that file.
#pragma once

#include <filesystem>

namespace kavi::win {

// $XDG_CONFIG_HOME/gtk-3.0/settings.ini (or under ~/.config); empty when no folder is known.
std::filesystem::path GtkSettingsPath();

// True when the file's [Settings] group sets gtk-application-prefer-dark-theme to a true value;
// a missing file or key means light.
bool ReadPreferDarkTheme(const std::filesystem::path& settings_ini);

// Wakes when the file is written, replaced, created or removed (inotify on its directory; the
// directory's own creation is watched from its parent).
class FileChangeWatch {
 public:
  explicit FileChangeWatch(std::filesystem::path file);
  ~FileChangeWatch();
  FileChangeWatch(const FileChangeWatch&) = delete;
  FileChangeWatch& operator=(const FileChangeWatch&) = delete;

  int Fd() const { return fd_; }
  // Reads the pending notifications; true when one concerned the file.
  bool Drain();

 private:
  void Arm();

  std::filesystem::path file_;
  int fd_ = -1;
  int watch_ = -1;
  bool watching_parent_ = false;
};

}  // namespace kavi::win
