// SPDX-License-Identifier: Apache-2.0
#include "platform/watch/directory_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kavi::win {

DirectoryWatcher::~DirectoryWatcher() {
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
}

bool DirectoryWatcher::Open(const std::filesystem::path& directory, std::vector<std::string> names,
                            std::string* message) {
  if (message != nullptr) message->clear();
  names_ = std::move(names);
  directory_ = directory;
  inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ >= 0) {
    const std::filesystem::path parent =
        directory_.has_parent_path() ? directory_.parent_path() : std::filesystem::path(".");
    parent_watch_ =
        ::inotify_add_watch(inotify_fd_, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
  }
  if (inotify_fd_ < 0 || !wakeup_.valid() || parent_watch_ < 0) {
    if (message != nullptr) *message = std::strerror(errno);
    return false;
  }
  ArmDirectory();
  return true;
}

bool DirectoryWatcher::ArmDirectory() {
  // A removed watch queues an IN_IGNORED under its old number: forget the number first, so that
  // the event cannot be taken for news of the new watch.
  if (directory_watch_ >= 0) {
    const int old = directory_watch_;
    directory_watch_ = -1;
    ::inotify_rm_watch(inotify_fd_, old);
  }
  directory_watch_ = ::inotify_add_watch(
      inotify_fd_, directory_.c_str(),
      IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
  return directory_watch_ >= 0;
}

DirectoryWatcher::Drained DirectoryWatcher::DrainEvents() {
  alignas(inotify_event) char buffer[4096];
  Drained result = Drained::kNothing;
  const std::string directory_name = directory_.filename().string();
  for (;;) {
    ssize_t n = ::read(inotify_fd_, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return result;
    if (n <= 0) return Drained::kFailed;
    bool rearm = false;
    for (ssize_t offset = 0; offset < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      const std::string name = event->len > 0 ? std::string(event->name) : std::string();
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        // The kernel dropped events; assume one of ours was among them.
        result = Drained::kChanged;
        rearm = true;
      } else if (event->wd == parent_watch_) {
        // The directory (re)appeared under its path: what it holds may be new.
        if (name == directory_name) {
          result = Drained::kChanged;
          rearm = true;
        }
      } else if (event->wd == directory_watch_ && directory_watch_ >= 0) {
        if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
          result = Drained::kChanged;
          rearm = true;
        } else if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
          result = Drained::kChanged;
        }
      }
    }
    if (rearm) ArmDirectory();
  }
}

DirectoryWatcher::WaitResult DirectoryWatcher::Wait(std::chrono::milliseconds settle) {
  if (inotify_fd_ < 0 || !wakeup_.valid()) return WaitResult::kFailed;
  bool changed = false;
  for (;;) {
    const int fds[1] = {inotify_fd_};
    bool ready[1] = {false};
    const int timeout = changed ? static_cast<int>(settle.count()) : -1;
    switch (wakeup_.Wait(fds, timeout, ready)) {
      case Wakeup::WaitResult::kWoken:
        return WaitResult::kWoken;
      case Wakeup::WaitResult::kFailed:
        return WaitResult::kFailed;
      case Wakeup::WaitResult::kTimedOut:
        return WaitResult::kChanged;
      case Wakeup::WaitResult::kReady:
        break;
    }
    const Drained drained = DrainEvents();
    if (drained == Drained::kFailed) return WaitResult::kFailed;
    if (drained == Drained::kChanged) changed = true;
  }
}

void DirectoryWatcher::Wake() {
  wakeup_.Wake();
}

}  // namespace kavi::win
