// SPDX-License-Identifier: Apache-2.0
// Reloads the configuration whenever the settings application rewrites it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/watch/directory_watcher.h"

namespace kavi::win {

class ConfigWatcher {
 public:
  // The settings application writes config.json and then app_options.json; changes this close
  // together are one save.
  static constexpr std::chrono::milliseconds kDefaultSettle{50};

  // Watches config.json and app_options.json in `directory` (which must exist), and the
  // `more_files` of the same directory that settings also live in, and runs `reload` on the
  // watcher thread after each burst of changes. When the watch cannot be set up, logs so and
  // starts no thread: changes then apply at the next start.
  ConfigWatcher(std::filesystem::path directory, std::function<void()> reload,
                std::chrono::milliseconds settle = kDefaultSettle,
                std::vector<std::string> more_files = {});
  ~ConfigWatcher();
  ConfigWatcher(const ConfigWatcher&) = delete;
  ConfigWatcher& operator=(const ConfigWatcher&) = delete;

  // True when the watcher thread runs.
  bool running() const { return thread_.joinable(); }

  // Stops and joins the thread. Only the first call acts; never call it from `reload`.
  void Stop();

 private:
  void Run();

  std::function<void()> reload_;
  std::chrono::milliseconds settle_;
  DirectoryWatcher watcher_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kavi::win
