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
  inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ < 0 || !wakeup_.valid() ||
      ::inotify_add_watch(inotify_fd_, directory.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    if (message != nullptr) *message = std::strerror(errno);
    return false;
  }
  return true;
}

DirectoryWatcher::Drained DirectoryWatcher::DrainEvents() {
  alignas(inotify_event) char buffer[4096];
  Drained result = Drained::kNothing;
  for (;;) {
    ssize_t n = ::read(inotify_fd_, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return result;
    if (n <= 0) return Drained::kFailed;
    for (ssize_t offset = 0; offset < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      // The kernel drops events when its queue overflows; assume one of ours was among them.
      if ((event->mask & IN_Q_OVERFLOW) != 0) result = Drained::kChanged;
      if (event->len > 0) {
        const std::string name(event->name);
        if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
          result = Drained::kChanged;
        }
      }
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
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
