// SPDX-License-Identifier: Apache-2.0
// The configuration currently in force, shared by the watcher and the client sessions.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>

#include "config/config_record.h"

namespace kavi::win {

class ConfigStore {
 public:
  // How long a load waits for a save of the settings application to finish.
  static constexpr std::chrono::milliseconds kSettleLimit{5000};

  // Holds the defaults until the first successful Load.
  explicit ConfigStore(std::filesystem::path directory);

  // Waits for a save in progress (the settings lock), then runs LoadConfig on the directory;
  // on success the loaded record replaces the current one
  // (and is copied to `loaded` when given), on failure the current one stays in force.
  bool Load(ConfigRecord* loaded, std::string* message);

  // A copy of the record in force.
  ConfigRecord Snapshot() const;

  const std::filesystem::path& directory() const { return directory_; }

 private:
  const std::filesystem::path directory_;
  mutable std::mutex mutex_;
  ConfigRecord record_;
};

}  // namespace kavi::win
