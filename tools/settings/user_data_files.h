// SPDX-License-Identifier: Apache-2.0
// The files of the user's data that the settings pages show: the dictionary backups the sync
// job makes, and the update the update checker downloaded and left for the user to install.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavi::win {

// "backups" in the user data (configuration) directory.
std::filesystem::path BackupsFolder(const std::filesystem::path& config_directory);

struct DictionaryBackup {
  std::string name;  // the folder's name, the UTC time it was made: "20261206-085312"
  std::string when;  // that time in the local time zone, as "2026-12-06 16:53"
  int dictionaries = 0;
  uintmax_t bytes = 0;
};

// The backups, newest first; folders whose name is not a backup's are left out.
std::vector<DictionaryBackup> ListBackups(const std::filesystem::path& backups_folder);

// "updates" in the local data folder's Kavi directory, where the update checker works.
std::filesystem::path UpdatesFolder();
inline constexpr char kPendingUpdateFileName[] = "available.txt";

struct PendingUpdate {
  std::string version;
  uint32_t build = 0;
  std::string sha256;
  std::filesystem::path package;
};

// Reads "available.txt" (four lines, each ended by CR LF: version, build number, SHA-256, the
// package's path). Nullopt when there is none or it is malformed (with why in `problem`), or
// when the package it names is gone.
std::optional<PendingUpdate> ReadPendingUpdate(const std::filesystem::path& updates_folder,
                                               std::string* problem);

// True when `candidate` ("1.2.10") is a later version than `running` ("1.2.9"); versions are
// compared number by number, a missing number counting as 0.
bool IsNewerVersion(const std::string& candidate, const std::string& running);

// The command that installs the package as the administrator, asking through polkit.
std::vector<std::string> InstallUpdateCommand(const PendingUpdate& update);

}  // namespace kavi::win
