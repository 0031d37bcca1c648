// SPDX-License-Identifier: Apache-2.0
#include "config/config_store.h"

#include "config/config_files.h"
#include "config/settings_lock.h"

namespace kavi::win {

ConfigStore::ConfigStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

bool ConfigStore::Load(ConfigRecord* loaded, std::string* message) {
  ConfigRecord record;
  {
    // A save in progress holds the settings lock until the whole pair and its snapshot are on
    // disk: waiting for it means reading what it leaves, never half of it, and never "repairing"
    // the half from the older snapshot. A save that hangs is waited for only so long.
    SettingsLock settled;
    settled.AcquireWithin(directory_, kSettleLimit);
    // LoadConfig reads files and may sleep between attempts: not under the record's mutex.
    if (!server::LoadConfig(directory_, &record, message)) return false;
  }
  if (loaded != nullptr) *loaded = record;
  std::lock_guard<std::mutex> lock(mutex_);
  record_ = std::move(record);
  return true;
}

ConfigRecord ConfigStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

}  // namespace kavi::win
