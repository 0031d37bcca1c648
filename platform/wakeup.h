// SPDX-License-Identifier: Apache-2.0
// Waiting on descriptors with a wake-up that another thread can send. Linux: an eventfd and poll.
#pragma once

#include <poll.h>

#include <span>

namespace kavi::win {

class Wakeup {
 public:
  enum class WaitResult { kWoken, kReady, kTimedOut, kFailed };

  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // False when the system gave no wake-up descriptor; Wait then sees only `fds`.
  bool valid() const { return fd_ >= 0; }

  // Makes the current or next Wait return kWoken. Safe from any thread.
  void Wake();

  // Waits until Wake is called, one of `fds` is readable (or broken, so that reading it reports
  // the error), or `timeout_ms` passes (negative: no limit). Negative descriptors are skipped.
  // `ready[i]` tells whether fds[i] is ready; a wake-up is consumed and wins over ready
  // descriptors.
  WaitResult Wait(std::span<const int> fds, int timeout_ms, std::span<bool> ready);
  // The same for descriptors that ask for other events than input (a sound device's): each
  // entry's revents is filled in as poll() fills it.
  WaitResult Wait(std::span<pollfd> fds, int timeout_ms);

 private:
  int fd_ = -1;
};

}  // namespace kavi::win
