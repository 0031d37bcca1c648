// SPDX-License-Identifier: Apache-2.0
#include "server/app/maintenance_jobs.h"

#include <cstdio>

#include "ovra/engine_api.h"
#include "platform/directories.h"
#include "platform/heap.h"
#include "platform/log.h"
#include "server/engine/engine_lock.h"

namespace kavi::win {
namespace {

bool IsUserDictionary(const std::filesystem::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  const std::string suffix = kUserDictionarySuffix;
  return name.size() >= suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string BackupStamp(std::time_t utc) {
  std::tm tm{};
  gmtime_r(&utc, &tm);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u",
                static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec));
  return stamp;
}

bool BackUpUserDictionaries(const std::filesystem::path& user_dir,
                            const std::filesystem::path& backup_dir, std::string* message) {
  namespace fs = std::filesystem;
  if (!CreateDirectories(backup_dir, kPrivateDirectoryMode, message)) return false;
  try {
    for (const fs::directory_entry& entry : fs::directory_iterator(user_dir)) {
      if (!IsUserDictionary(entry)) continue;
      fs::copy(entry.path(), backup_dir / entry.path().filename(),
               fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
  } catch (const fs::filesystem_error& e) {
    if (message) *message = e.what();
    return false;
  }
  return true;
}

bool DeleteUserDictionaries(const std::filesystem::path& user_dir, std::string* message) {
  namespace fs = std::filesystem;
  try {
    std::vector<fs::path> doomed;
    for (const fs::directory_entry& entry : fs::directory_iterator(user_dir))
      if (IsUserDictionary(entry)) doomed.push_back(entry.path());
    for (const fs::path& p : doomed) fs::remove_all(p);
  } catch (const fs::filesystem_error& e) {
    if (message) *message = e.what();
    return false;
  }
  return true;
}

MaintenanceJobs::MaintenanceJobs(std::filesystem::path user_dir, JobFlags& flags,
                                 EngineRestart restart, Clock clock)
    : user_dir_(std::move(user_dir)),
      flags_(flags),
      restart_(std::move(restart)),
      clock_(clock ? std::move(clock) : [] { return std::time(nullptr); }) {}

MaintenanceJobs::~MaintenanceJobs() {
  Join();
}

void MaintenanceJobs::Join() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (worker_.joinable()) worker_.join();
}

bool MaintenanceJobs::Start(bool sync_and_backup) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The busy flag keeps a second job out, so a previous worker has finished or is finishing.
  if (worker_.joinable()) worker_.join();
  flags_.maintenance_status = static_cast<uint32_t>(JobStatus::Running);
  worker_ = std::thread([this, sync_and_backup] {
    bool ok = false;
    try {
      ok = Run(sync_and_backup);
    } catch (const std::exception& e) {
      LogLine(std::string("[Kavi] ") + e.what());
    }
    flags_.maintenance_status = static_cast<uint32_t>(ok ? JobStatus::Done : JobStatus::Failed);
    flags_.busy = false;
  });
  return true;
}

bool MaintenanceJobs::Run(bool sync_and_backup) {
  const bool ok = RestartEngine(sync_and_backup);
  // The old dictionaries were freed while the new ones stayed: without this the server would
  // keep the memory of both after every job.
  ReleaseFreeHeap();
  return ok;
}

bool MaintenanceJobs::RestartEngine(bool sync_and_backup) {
  // The dictionaries of the restart are read first, while sessions still use the engine: held
  // under the engine lock, their load would keep focus changes and polls (which the busy flag
  // does not turn away) waiting past their clients' time-out. The engine is down, and the lock
  // held, only from the finalize to the end of the restart.
  kavi_prepare_restart();
  std::lock_guard<std::mutex> engine(EngineLock());
  std::string message;
  bool files_ok;
  if (sync_and_backup) {
    kavi_sync_user_data();
    kavi_finalize();
    files_ok = BackUpUserDictionaries(user_dir_, user_dir_ / kBackupsFolder / BackupStamp(clock_()),
                                      &message);
  } else {
    kavi_finalize();
    files_ok = DeleteUserDictionaries(user_dir_, &message);
  }
  if (!files_ok) LogLine("[Kavi] " + message);
  std::string restart_message;
  bool restarted = restart_(&restart_message);
  if (!restarted) LogLine("[Kavi] " + restart_message);
  return files_ok && restarted;
}

}  // namespace kavi::win
