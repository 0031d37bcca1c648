// SPDX-License-Identifier: Apache-2.0
#include "server/app/server_directories.h"

#include "platform/directories.h"
#include "platform/folders.h"

namespace kavi::win {

ServerDirectories ResolveServerDirectories() {
  ServerDirectories d;
  d.install = ProgramFolder();
  d.installed_data = ShippedFilesFolder() / "data";
  d.shared_data = d.installed_data;
  d.sounds = ShippedFilesFolder() / "sounds";
  std::filesystem::path roaming = RoamingAppDataFolder();
  d.user_root = roaming.empty() ? d.install / "user-data" : roaming / "Kavi";
  d.logs = d.user_root / "logs";
  d.packs = d.user_root / "build";
  d.cloud = d.user_root / "cloud";
  d.user_themes = d.user_root / "themes";
  d.backups = d.user_root / "backups";
  std::filesystem::path local = LocalAppDataFolder();
  d.local_root = local.empty() ? d.install / "local-data" : local / "Kavi";
  d.voice_temp = d.local_root / "voice-temp";
  d.voice_models = d.local_root / "voice-models";
  d.updates = d.local_root / "updates";
  return d;
}

bool CreateServerDirectories(const ServerDirectories& d, std::string* message) {
  for (const std::filesystem::path* p :
       {&d.user_root, &d.logs, &d.packs, &d.cloud, &d.user_themes, &d.backups, &d.local_root,
        &d.voice_temp, &d.voice_models, &d.updates}) {
    if (!CreateDirectories(*p, kPrivateDirectoryMode, message)) return false;
  }
  if (message) message->clear();
  return true;
}

}  // namespace kavi::win
