// SPDX-License-Identifier: Apache-2.0
// Everything the toolbar, its menu and the tray icon can do, as callbacks in a fixed order
// (each may be empty; an empty one does nothing). Most start the settings application with one
// switch, so that settings change in one place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kavi::win {

class VoicePort;

struct ToolbarActions {
  std::function<void()> toggle_input_mode;               // 0
  std::function<void()> toggle_script;                   // 1
  std::function<void(int x, int y)> translate;           // 2: at the cursor, screen pixels
  std::function<void()> toggle_recording;                // 3
  std::function<uint32_t()> recording_state;             // 4: non-zero while recording
  std::function<void()> open_settings;                   // 5
  std::function<void()> account;                         // 6
  std::function<std::string()> account_label;            // 7: empty when not signed in
  std::function<void()> toggle_mixed_english;            // 8
  std::function<void()> toggle_key_sound;                // 9
  std::function<void()> about;                           // 10
  std::function<void()> voice_settings;                  // 11
  std::function<void(int index)> voice_output_language;  // 12: 0..32
  std::function<std::string()> schema_label;             // 13
};

inline constexpr char kSettingsProgramName[] = "KaviSettings";

// Starts the settings application (a path, normally KaviSettings beside the server) with one
// switch or none, as a process of its own that the server neither waits for nor keeps;
// "[Kavi] 工具欄無法啟動設定命令" when it cannot be started.
class SettingsLauncher {
 public:
  explicit SettingsLauncher(std::filesystem::path program) : program_(std::move(program)) {}
  bool Launch(const std::string& switch_text) const;
  const std::filesystem::path& program() const { return program_; }

 private:
  std::filesystem::path program_;
};

// What the actions are built from besides the settings application; any may be missing.
struct ToolbarActionSources {
  // Posts the input-mode toggle for the client that owns the focus (nothing when none does).
  std::function<void()> toggle_input_mode;
  VoicePort* voice = nullptr;
  std::function<std::string()> account_label;
  std::function<std::string()> schema_label;
};

ToolbarActions MakeToolbarActions(const SettingsLauncher& launcher, ToolbarActionSources sources);

}  // namespace kavi::win
