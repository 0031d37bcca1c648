// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_actions.h"

#include <memory>

#include "config/language_tables.h"
#include "platform/log.h"
#include "platform/process.h"
#include "ports/voice_port.h"

namespace kavi::win {

bool SettingsLauncher::Launch(const std::string& switch_text) const {
  std::vector<std::string> args;
  if (!switch_text.empty()) args.push_back(switch_text);
  std::string message;
  if (!SpawnOrphan(program_, args, &message)) {
    LogLine("[Kavi] 工具欄無法啟動設定命令\n");
    return false;
  }
  return true;
}

ToolbarActions MakeToolbarActions(const SettingsLauncher& launcher, ToolbarActionSources sources) {
  auto run = [launcher](std::string switch_text) {
    return [launcher, switch_text = std::move(switch_text)] { launcher.Launch(switch_text); };
  };
  ToolbarActions actions;
  actions.toggle_input_mode = std::move(sources.toggle_input_mode);
  actions.toggle_script = run("--toggle-traditional");
  actions.translate = [launcher](int x, int y) {
    launcher.Launch("--translate-popup=" + std::to_string(x) + "," + std::to_string(y));
  };
  if (VoicePort* voice = sources.voice) {
    actions.toggle_recording = [voice] {
      std::string message;
      if (!voice->Command(0, false, &message)) LogLine("[Kavi] 工具欄語音切換失敗\n");
    };
    actions.recording_state = [voice] {
      uint32_t value = 0, cursor = 0;
      voice->StateWords(&value, &cursor);
      return value;
    };
  }
  actions.open_settings = run("");
  actions.account = run("--page=account");
  actions.account_label = std::move(sources.account_label);
  actions.toggle_mixed_english = run("--toggle-melt-eng");
  actions.toggle_key_sound = run("--toggle-key-sound");
  actions.about = run("--page=about");
  actions.voice_settings = run("--page=voice");
  actions.voice_output_language = [launcher](int index) {
    const auto languages = server::VoiceOutputLanguages();
    if (index < 0 || static_cast<size_t>(index) >= languages.size()) return;
    launcher.Launch("--set-voice-lang=" + std::string(languages[static_cast<size_t>(index)].code));
  };
  actions.schema_label = std::move(sources.schema_label);
  return actions;
}

}  // namespace kavi::win
