// SPDX-License-Identifier: Apache-2.0
// Where the server keeps its files.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win {

struct ServerDirectories {
  std::filesystem::path install;         // the folder of the program file
  std::filesystem::path installed_data;  // install / "data"
  std::filesystem::path shared_data;     // the current data generation's "data"
  std::filesystem::path sounds;          // install / "sounds"
  std::filesystem::path user_root;       // roaming / "Kavi" (else install / "user-data")
  std::filesystem::path logs;
  std::filesystem::path packs;  // user root / "build"
  std::filesystem::path cloud;
  std::filesystem::path user_themes;
  std::filesystem::path backups;
  std::filesystem::path local_root;  // local / "Kavi"
  std::filesystem::path voice_temp;
  std::filesystem::path voice_models;
  std::filesystem::path updates;
};

// Resolves every directory from the platform folders; shared_data starts as installed_data.
ServerDirectories ResolveServerDirectories();
// Creates the directories that are missing, private to the user whatever the umask; false with a
// message on the first failure.
bool CreateServerDirectories(const ServerDirectories& dirs, std::string* message);

}  // namespace kavi::win
