// SPDX-License-Identifier: Apache-2.0
#include "shell/tray_menu_model.h"

#include "config/language_tables.h"

namespace kavi::win {
namespace {

TrayMenuItem Item(TrayMenuId id, std::string label) {
  TrayMenuItem item;
  item.id = static_cast<int>(id);
  item.label = std::move(label);
  return item;
}

TrayMenuItem Separator() {
  TrayMenuItem item;
  item.kind = TrayMenuItem::Kind::kSeparator;
  return item;
}

template <typename F, typename... Args>
TrayMenuEffect Run(const F& action, Args... args) {
  if (action) action(args...);
  return TrayMenuEffect::kRan;
}

}  // namespace

std::vector<TrayMenuItem> BuildTrayMenu(const TrayMenuState& state) {
  std::vector<TrayMenuItem> menu;
  menu.push_back(Item(TrayMenuId::kSettings, "⚙ 霜楓設定"));
  menu.push_back(Item(TrayMenuId::kTranslate, "🌐 翻譯"));
  menu.push_back(Item(TrayMenuId::kAccount,
                      state.account_label.empty() ? "登入 GateKite" : state.account_label));
  menu.push_back(Separator());
  menu.push_back(
      Item(TrayMenuId::kToggleScript, state.traditional_output ? "切換至簡體" : "切換至正體"));
  menu.push_back(Item(TrayMenuId::kToggleRecording, state.recording ? "停止錄音" : "開始錄音"));

  TrayMenuItem voice;
  voice.kind = TrayMenuItem::Kind::kSubmenu;
  voice.label = "🎤 語音輸出語言";
  int index = 0;
  for (const LanguageEntry& language : server::VoiceOutputLanguages()) {
    TrayMenuItem radio;
    radio.kind = TrayMenuItem::Kind::kRadio;
    radio.id = kVoiceLanguageMenuBase + index++;
    radio.label = std::string(language.display_name);
    radio.checked = language.code == state.voice_output_language;
    voice.children.push_back(std::move(radio));
  }
  voice.children.push_back(Separator());
  voice.children.push_back(Item(TrayMenuId::kVoiceSettings, "語音設定…"));
  menu.push_back(std::move(voice));

  menu.push_back(Separator());
  menu.push_back(
      Item(TrayMenuId::kToggleMixedEnglish, state.mixed_english ? "關閉英文混輸" : "開啟英文混輸"));
  menu.push_back(Item(TrayMenuId::kToggleKeySound, state.key_sound ? "關閉按鍵音" : "開啟按鍵音"));
  menu.push_back(Separator());
  menu.push_back(Item(TrayMenuId::kHideToolbar, kHideToolbarTitle));
  menu.push_back(
      Item(TrayMenuId::kToggleMini, state.mini_toolbar ? "展開標準工具欄" : "切換迷你工具欄"));
  menu.push_back(Separator());
  menu.push_back(Item(TrayMenuId::kAbout, "ℹ️ 關於霜楓 v" + state.version));
  menu.push_back(Item(TrayMenuId::kExit, "退出輸入服務"));
  return menu;
}

TrayMenuEffect RunTrayMenuCommand(int id, const ToolbarActions& actions, int cursor_x,
                                  int cursor_y) {
  const int languages = static_cast<int>(server::VoiceOutputLanguages().size());
  if (id >= kVoiceLanguageMenuBase && id < kVoiceLanguageMenuBase + languages)
    return Run(actions.voice_output_language, id - kVoiceLanguageMenuBase);
  switch (static_cast<TrayMenuId>(id)) {
    case TrayMenuId::kSettings:
      return Run(actions.open_settings);
    case TrayMenuId::kTranslate:
      return Run(actions.translate, cursor_x, cursor_y);
    case TrayMenuId::kAccount:
      return Run(actions.account);
    case TrayMenuId::kToggleScript:
      return Run(actions.toggle_script);
    case TrayMenuId::kToggleRecording:
      return Run(actions.toggle_recording);
    case TrayMenuId::kVoiceSettings:
      return Run(actions.voice_settings);
    case TrayMenuId::kToggleMixedEnglish:
      return Run(actions.toggle_mixed_english);
    case TrayMenuId::kToggleKeySound:
      return Run(actions.toggle_key_sound);
    case TrayMenuId::kHideToolbar:
      return TrayMenuEffect::kHideToolbar;
    case TrayMenuId::kToggleMini:
      return TrayMenuEffect::kToggleMini;
    case TrayMenuId::kAbout:
      return Run(actions.about);
    case TrayMenuId::kExit:
      return TrayMenuEffect::kExit;
  }
  return TrayMenuEffect::kNone;
}

}  // namespace kavi::win
