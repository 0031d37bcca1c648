// Waits for named files of one directory to be rewritten (closed after writing or renamed into
// place), with a wake-up that another thread can send. Linux: inotify.
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

  // Starts watching `names` inside `directory` (which must exist).
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

  int inotify_fd_ = -1;
  Wakeup wakeup_;
  std::vector<std::string> names_;
};

}  // namespace kavi::win
