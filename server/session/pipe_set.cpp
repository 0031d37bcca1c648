// SPDX-License-Identifier: Apache-2.0
#include "server/session/pipe_set.h"

#include "platform/ipc.h"

namespace kavi::win {

void PipeSet::Add(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  fds_.insert(fd);
}

void PipeSet::Remove(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  fds_.erase(fd);
}

void PipeSet::DisconnectAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int fd : fds_) ShutdownSocket(fd);
}

size_t PipeSet::size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fds_.size();
}

}  // namespace kavi::win
