// SPDX-License-Identifier: Apache-2.0
// Waits for named files of one directory to be rewritten (closed after writing or renamed into
// place), with a wake-up that another thread can send. Linux: inotify.
//
// The directory is followed by its path, not its inode: when it is deleted, moved away, replaced
// by another (a restored backup, a sync tool) or created later, the watch moves to whatever
// directory then has the path, and that counts as a change of the files.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/wakeup.h"

namespace kavi::win {

class DirectoryWatcher {
 public:
  enum class WaitResult { kChanged, kWoken, kFailed };

  DirectoryWatcher() = default;
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Starts watching `names` inside `directory`, which may be missing as long as its parent
  // exists.
  bool Open(const std::filesystem::path& directory, std::vector<std::string> names,
            std::string* message);

  // Blocks until a watched file changes or Wake is called. After a change it keeps absorbing
  // further changes until `settle` passes without one, so a burst of writes is one change. A
  // wake-up wins over pending changes.
  WaitResult Wait(std::chrono::milliseconds settle);

  // Makes the current or next Wait return kWoken. Safe from any thread.
  void Wake();

 private:
  enum class Drained { kNothing, kChanged, kFailed };
  // Reads every queued inotify event without blocking.
  Drained DrainEvents();

  // Watches the directory under its path when there is one; true when one was found.
  bool ArmDirectory();

  int inotify_fd_ = -1;
  int directory_watch_ = -1;
  int parent_watch_ = -1;
  std::filesystem::path directory_;
  Wakeup wakeup_;
  std::vector<std::string> names_;
};

}  // namespace kavi::win
