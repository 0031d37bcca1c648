// SPDX-License-Identifier: Apache-2.0
// The desktop's colour-scheme preference as GNOME and KDE publish it: the settings portal's
// org.freedesktop.appearance color-scheme on the session bus, else GSettings'
// org.gnome.desktop.interface color-scheme. A thread of its own listens for changes.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace kavi::win {

enum class ColorScheme { kNoPreference, kPreferDark, kPreferLight };

struct ColorSchemeSources {
  // The session bus to ask the portal on; empty: the session's own. "none": no bus at all.
  std::string bus_address;
  // Whether GSettings is asked when no portal answers.
  bool gsettings = true;
};

class DesktopColorScheme {
 public:
  // on_change runs on the listening thread whenever the preference changes, the first answer
  // included; until then the preference is kNoPreference.
  DesktopColorScheme(ColorSchemeSources sources, std::function<void()> on_change);
  ~DesktopColorScheme();
  DesktopColorScheme(const DesktopColorScheme&) = delete;
  DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

  ColorScheme Current() const { return scheme_.load(); }

  struct Listener;

 private:
  std::atomic<ColorScheme> scheme_{ColorScheme::kNoPreference};
  std::unique_ptr<Listener> listener_;
  std::thread thread_;
};

// Dark when the desktop prefers dark, light when it prefers light; without a preference, what
// GTK's settings.ini says (gtk-application-prefer-dark-theme).
bool DesktopPrefersDark(ColorScheme scheme, const std::filesystem::path& settings_ini);

}  // namespace kavi::win
