#include "config/config_store.h"

#include "config/config_files.h"

namespace kavi::win {

ConfigStore::ConfigStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

bool ConfigStore::Load(ConfigRecord* loaded, std::string* message) {
  ConfigRecord record;
  // LoadConfig reads files and may sleep between attempts: not under the lock.
  if (!server::LoadConfig(directory_, &record, message)) return false;
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
