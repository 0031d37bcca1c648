// SPDX-License-Identifier: Apache-2.0
// Turns SIGINT and SIGTERM into a clean shutdown and SIGHUP (a closed terminal, a reload request)
// into a save of what the user made. The signals are blocked in every thread and taken by one
// thread of their own.
#pragma once

#include <functional>
#include <thread>

namespace kavi::win {

class SignalWatcher {
 public:
  // Blocks the signals in the calling thread and in every thread it starts afterwards; call it
  // first thing in main.
  static void BlockSignals();

  // Calls `on_stop` on the watcher's thread for every SIGINT or SIGTERM, and `on_hangup` for
  // every SIGHUP (ignored without one), until destroyed.
  explicit SignalWatcher(std::function<void()> on_stop,
                         std::function<void()> on_hangup = nullptr);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  std::thread thread_;
};

}  // namespace kavi::win
