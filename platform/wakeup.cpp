// SPDX-License-Identifier: Apache-2.0
#include "platform/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace kavi::win {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wakeup::~Wakeup() {
  if (fd_ >= 0) ::close(fd_);
}

void Wakeup::Wake() {
  if (fd_ < 0) return;
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = ::write(fd_, &one, sizeof(one));
  } while (n < 0 && errno == EINTR);
}

Wakeup::WaitResult Wakeup::Wait(std::span<const int> fds, int timeout_ms, std::span<bool> ready) {
  std::vector<pollfd> polled;
  polled.reserve(fds.size());
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});
  const WaitResult result = Wait(polled, timeout_ms);
  for (size_t i = 0; i < fds.size() && i < ready.size(); ++i) ready[i] = polled[i].revents != 0;
  return result;
}

Wakeup::WaitResult Wakeup::Wait(std::span<pollfd> fds, int timeout_ms) {
  std::vector<pollfd> polled;
  polled.reserve(fds.size() + 1);
  polled.push_back({fd_, POLLIN, 0});
  polled.insert(polled.end(), fds.begin(), fds.end());
  for (;;) {
    const int count = ::poll(polled.data(), polled.size(), timeout_ms);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return WaitResult::kFailed;
    if (count == 0) return WaitResult::kTimedOut;
    bool any_ready = false;
    for (size_t i = 0; i < fds.size(); ++i) {
      fds[i].revents = polled[i + 1].revents;
      any_ready = any_ready || fds[i].revents != 0;
    }
    if ((polled[0].revents & POLLIN) != 0) {
      // Reading an eventfd takes every wake-up sent so far; another waiter may have taken them.
      uint64_t wakes = 0;
      if (::read(fd_, &wakes, sizeof(wakes)) == sizeof(wakes)) return WaitResult::kWoken;
    }
    if (any_ready) return WaitResult::kReady;
  }
}

}  // namespace kavi::win
