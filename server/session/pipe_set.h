// SPDX-License-Identifier: Apache-2.0
// The open client connections, so that shutdown can wake every session thread.
#pragma once

#include <mutex>
#include <set>

namespace kavi::win {

class PipeSet {
 public:
  void Add(int fd);
  void Remove(int fd);
  // Shuts every open connection down: each session thread then ends on its failed read.
  void DisconnectAll();
  size_t size();

 private:
  std::mutex mutex_;
  std::set<int> fds_;
};

}  // namespace kavi::win
