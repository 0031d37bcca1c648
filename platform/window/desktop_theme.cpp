// SPDX-License-Identifier: Apache-2.0
#include "platform/window/desktop_theme.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>

#include "platform/folders.h"

namespace kavi::win {

namespace {

constexpr char kSettingsGroup[] = "[Settings]";
constexpr char kPreferDarkKey[] = "gtk-application-prefer-dark-theme";

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::filesystem::path GtkSettingsPath() {
  const std::filesystem::path config = RoamingAppDataFolder();
  if (config.empty()) return {};
  return config / "gtk-3.0" / "settings.ini";
}

bool ReadPreferDarkTheme(const std::filesystem::path& settings_ini) {
  std::ifstream in(settings_ini);
  bool in_settings = false;
  bool dark = false;
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      in_settings = line == kSettingsGroup;
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_settings || equals == std::string::npos) continue;
    if (Trim(line.substr(0, equals)) != kPreferDarkKey) continue;
    std::string value = Trim(line.substr(equals + 1));
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    dark = value == "true" || value == "1" || value == "yes" || value == "on";
  }
  return dark;
}

FileChangeWatch::FileChangeWatch(std::filesystem::path file) : file_(std::move(file)) {
  if (file_.empty()) return;
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0) Arm();
}

FileChangeWatch::~FileChangeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void FileChangeWatch::Arm() {
  // Removing a watch queues an IN_IGNORED for it; it must not count as news of the new one, or
  // every re-arm would cause the next.
  if (watch_ >= 0) {
    const int old = watch_;
    watch_ = -1;
    inotify_rm_watch(fd_, old);
  }
  const std::filesystem::path dir = file_.parent_path();
  watch_ = inotify_add_watch(fd_, dir.c_str(),
                             IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
  watching_parent_ = watch_ < 0;
  if (watching_parent_) {
    // The directory does not exist (any more): wait for it to appear.
    watch_ = inotify_add_watch(fd_, dir.parent_path().c_str(), IN_CREATE | IN_MOVED_TO);
  }
}

bool FileChangeWatch::Drain() {
  if (fd_ < 0) return false;
  bool changed = false;
  bool rearm = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        rearm = changed = true;
        continue;
      }
      // Events of a watch already replaced (its IN_IGNORED above all) are old news.
      if (event->wd != watch_) continue;
      const std::string name = event->len ? event->name : "";
      if (watching_parent_) {
        if (name == file_.parent_path().filename().string()) rearm = changed = true;
      } else if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        rearm = changed = true;
      } else if (name == file_.filename().string()) {
        changed = true;
      }
    }
  }
  if (rearm) Arm();
  return changed;
}

}  // namespace kavi::win
