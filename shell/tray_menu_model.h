// SPDX-License-Identifier: Apache-2.0
// The toolbar's and the tray icon's context menu as data: items with their command ids and
// labels for the current state, separators and the voice output language submenu. The GTK
// menu and the panel icon's menu are both built from it, and a chosen id maps back to its
// action here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/toolbar_actions.h"

namespace kavi::win {

enum class TrayMenuId : int {
  kSettings = 29184,
  kTranslate = 29185,
  kAccount = 29186,
  kToggleScript = 29187,
  kToggleRecording = 29188,
  kVoiceSettings = 29189,
  kToggleMixedEnglish = 29190,
  kToggleKeySound = 29191,
  kHideToolbar = 29192,
  kToggleMini = 29193,
  kAbout = 29194,
  kExit = 29195,
};
// Radio items of the voice output language submenu are this plus the language's index.
inline constexpr int kVoiceLanguageMenuBase = 28928;

struct TrayMenuItem {
  enum class Kind { kItem, kSeparator, kRadio, kSubmenu };
  Kind kind = Kind::kItem;
  int id = 0;  // 0 for separators and the submenu
  std::string label;
  bool checked = false;
  std::vector<TrayMenuItem> children;  // the submenu's items
};

// What the menu's labels and checks depend on.
struct TrayMenuState {
  bool traditional_output = false;
  bool recording = false;
  std::string account_label;
  std::string voice_output_language = "follow";
  bool mixed_english = true;
  bool key_sound = false;
  bool mini_toolbar = false;
  std::string version;
};

inline constexpr char kHideToolbarTitle[] = "隱藏懸浮條";
inline constexpr char kHideToolbarQuestion[] =
    "隱藏後可從 Windows 開始功能表的「Kavi Settings」重新開啟，是否繼續？";

std::vector<TrayMenuItem> BuildTrayMenu(const TrayMenuState& state);

// What a chosen id does beyond the toolbar actions: hiding the toolbar, flipping the mini
// toolbar and exiting are the tray's own.
enum class TrayMenuEffect { kNone, kRan, kHideToolbar, kToggleMini, kExit };

// Runs the action of a chosen id; `cursor` is where the translation popup goes.
TrayMenuEffect RunTrayMenuCommand(int id, const ToolbarActions& actions, int cursor_x,
                                  int cursor_y);

}  // namespace kavi::win
