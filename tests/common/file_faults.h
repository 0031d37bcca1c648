// SPDX-License-Identifier: Apache-2.0
// Faults at one step of every atomic file replacement: fail it, delay it, or end the process
// there, the way a full disk, a slow disk or a crash would.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/file_replace.h"

namespace kavi::win::testing {

class FaultSeam : public FileSystemSeam {
 public:
  enum class Action { kFail, kDelay, kExit };
  // The exit status of a process ended by kExit.
  static constexpr int kExitStatus = 86;

  // Acts from the `occurrence`th time any replacement reaches `step` on (1: every time).
  FaultSeam(AtomicWriteStep step, Action action,
            std::chrono::milliseconds delay = std::chrono::milliseconds(0), int occurrence = 1)
      : step_(step), action_(action), delay_(delay), occurrence_(occurrence) {}

  int Create(const char* path, int flags, mode_t mode) override {
    return At(AtomicWriteStep::kCreate) ? -1 : FileSystemSeam::Create(path, flags, mode);
  }
  ssize_t Write(int fd, const void* data, size_t size) override {
    // A process ended mid-write leaves half of the bytes behind.
    if (step_ == AtomicWriteStep::kWrite && action_ == Action::kExit) {
      if (++seen_ < occurrence_) return FileSystemSeam::Write(fd, data, size);
      FileSystemSeam::Write(fd, data, size / 2);
      ::_exit(kExitStatus);
    }
    return At(AtomicWriteStep::kWrite) ? -1 : FileSystemSeam::Write(fd, data, size);
  }
  int Flush(int fd) override {
    return At(AtomicWriteStep::kFlush) ? -1 : FileSystemSeam::Flush(fd);
  }
  int Rename(const char* from, const char* to) override {
    return At(AtomicWriteStep::kRename) ? -1 : FileSystemSeam::Rename(from, to);
  }
  int SyncDirectory(int fd) override {
    return At(AtomicWriteStep::kSyncDirectory) ? -1 : FileSystemSeam::SyncDirectory(fd);
  }

 private:
  // True when the step must fail (errno EIO, as from a failing disk).
  bool At(AtomicWriteStep step) {
    if (step != step_) return false;
    if (action_ != Action::kDelay && ++seen_ < occurrence_) return false;
    switch (action_) {
      case Action::kFail:
        errno = EIO;
        return true;
      case Action::kDelay:
        std::this_thread::sleep_for(delay_);
        return false;
      case Action::kExit:
        ::_exit(kExitStatus);
    }
    return false;
  }

  AtomicWriteStep step_;
  Action action_;
  std::chrono::milliseconds delay_;
  int occurrence_;
  int seen_ = 0;
};

// Makes `step` of every replacement in the process fail while the object lives.
class ScopedAtomicWriteFault {
 public:
  explicit ScopedAtomicWriteFault(AtomicWriteStep step)
      : seam_(step, FaultSeam::Action::kFail), scope_(&seam_) {}

 private:
  FaultSeam seam_;
  ScopedFileSystemSeam scope_;
};

// Runs `write` in a child process that ends at `step` of the `occurrence`th replacement that
// reaches it. True when the child ended there; false when it finished (or died) another way.
inline bool EndProcessDuring(AtomicWriteStep step, const std::function<void()>& write,
                             int occurrence = 1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    FaultSeam seam(step, FaultSeam::Action::kExit, std::chrono::milliseconds(0), occurrence);
    ScopedFileSystemSeam scope(&seam);
    write();
    ::_exit(0);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == FaultSeam::kExitStatus;
}

// Each step at which a replacement can be cut short.
inline constexpr AtomicWriteStep kEveryWriteStep[] = {
    AtomicWriteStep::kCreate, AtomicWriteStep::kWrite, AtomicWriteStep::kFlush,
    AtomicWriteStep::kRename, AtomicWriteStep::kSyncDirectory};

}  // namespace kavi::win::testing
