// SPDX-License-Identifier: Apache-2.0
// The user-data maintenance jobs: sync and back up, or redeploy, each restarting the engine
// around the work on a worker thread of its own.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ports/maintenance_port.h"
#include "server/session/shared_state.h"

namespace kavi::win {

inline constexpr char kUserDictionarySuffix[] = ".userdb";
inline constexpr char kBackupsFolder[] = "backups";

// "%04u%02u%02u-%02u%02u%02u" of a UTC time.
std::string BackupStamp(std::time_t utc);

// Copies every ".userdb" entry of user_dir into backup_dir (recursively, overwriting).
bool BackUpUserDictionaries(const std::filesystem::path& user_dir,
                            const std::filesystem::path& backup_dir, std::string* message);
// Deletes every ".userdb" entry of user_dir.
bool DeleteUserDictionaries(const std::filesystem::path& user_dir, std::string* message);

class MaintenanceJobs : public MaintenancePort {
 public:
  // restart: initialises the engine again, loads the configuration and applies it; true when
  // the configuration loaded. Called with the engine lock held.
  using EngineRestart = std::function<bool(std::string* message)>;
  // The clock, replaceable so that tests can start two backups in the same second.
  using Clock = std::function<std::time_t()>;

  MaintenanceJobs(std::filesystem::path user_dir, JobFlags& flags, EngineRestart restart,
                  Clock clock = nullptr);
  ~MaintenanceJobs() override;

  bool Start(bool sync_and_backup) override;
  // Waits for the running job (teardown).
  void Join();

 private:
  bool Run(bool sync_and_backup);
  // The job's work on the user data and the engine restart.
  bool RestartEngine(bool sync_and_backup);

  const std::filesystem::path user_dir_;
  JobFlags& flags_;
  EngineRestart restart_;
  Clock clock_;
  std::mutex mutex_;
  std::thread worker_;
};

}  // namespace kavi::win
