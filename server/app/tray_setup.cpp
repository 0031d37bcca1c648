// SPDX-License-Identifier: Apache-2.0
#include "server/app/tray_setup.h"

#include <yaml-cpp/yaml.h>

#include "config/themes/catalog_listing.h"
#include "platform/folders.h"
#include "protocol/server_command.h"

namespace kavi::win::server {

ToolbarActions MakeServerToolbarActions(ServerShared* shared, SessionServices* services,
                                        const ServerDirectories& dirs) {
  ToolbarActionSources sources;
  sources.toggle_input_mode = [shared] {
    const FocusOwner& owner = shared->focus_owner;
    if (owner.Empty()) return;
    shared->notice.Post(static_cast<uint32_t>(ServerCommand::ToggleInputMode), 0,
                        owner.context_id.load(), owner.nonce.load());
  };
  sources.voice = services->voice;
  sources.schema_label = [shared, dirs] {
    return SchemeDisplayName(dirs, shared->settings.Get().schema);
  };
  sources.account_label = [companion = services->companion]() -> std::string {
    if (companion == nullptr) return {};
    const CompanionStatus status = companion->Status();
    if (status.state != CompanionStatus::State::kPaired) return {};
    return status.nickname.empty() ? status.safe_id : status.nickname;
  };
  return MakeToolbarActions(SettingsLauncher(ProgramFolder() / kSettingsProgramName),
                            std::move(sources));
}

TrayDisplaySettings TrayDisplaySettingsFrom(const ConfigRecord& config,
                                            const ServerDirectories& dirs) {
  TrayDisplaySettings tray;
  tray.simplified_output = config.engine.charset == EngineSettings::kSimplifiedCharset;
  tray.mixed_english = config.engine.melt_english;
  tray.key_sound = config.app.key_sound;
  tray.voice_output_language = config.app.voice_output_language;
  ToolbarPaletteSettings& palette = tray.palette;
  palette.follow_theme = config.app.status_bar_follow_theme;
  palette.theme = config.app.theme;
  palette.builtin_themes_dir = dirs.shared_data / "themes";
  palette.user_themes_dir = dirs.user_themes;
  palette.back_color = config.app.status_bar_back_color;
  palette.border_color = config.app.status_bar_border_color;
  palette.text_color = config.app.status_bar_text_color;
  palette.hilited_back_color = config.app.status_bar_hilited_back_color;
  palette.hilited_text_color = config.app.status_bar_hilited_text_color;
  palette.corner_radius = config.app.status_bar_corner_radius;
  return tray;
}

std::string SchemeDisplayName(const ServerDirectories& dirs, const std::string& scheme_id) {
  const std::string file = scheme_id + kSchemeFileSuffix;
  // An installed pack's scheme file replaces a shipped one of the same id.
  for (const std::filesystem::path& path :
       {dirs.packs / file, dirs.shared_data / kSchemesDirName / file}) {
    try {
      const YAML::Node name = YAML::LoadFile(path.string())["schema"]["name"];
      if (name.IsScalar() && !name.Scalar().empty()) return name.Scalar();
    } catch (const YAML::Exception&) {
    }
  }
  return scheme_id;
}

}  // namespace kavi::win::server
