// SPDX-License-Identifier: Apache-2.0
#include "config/config_watcher.h"

#include "config/config_files.h"
#include "platform/log.h"

namespace kavi::win {

namespace {
constexpr char kWatchFailedLog[] = "[Kavi] 無法建立配置變更事件\n";
constexpr char kWaitFailedLog[] = "[Kavi] 配置監聽等待失敗\n";
}  // namespace

ConfigWatcher::ConfigWatcher(std::filesystem::path directory, std::function<void()> reload,
                             std::chrono::milliseconds settle, std::vector<std::string> more_files)
    : reload_(std::move(reload)), settle_(settle) {
  std::string message;
  more_files.insert(more_files.begin(), {kConfigFileName, kAppOptionsFileName});
  if (!watcher_.Open(directory, std::move(more_files), &message)) {
    LogLine(kWatchFailedLog);
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

ConfigWatcher::~ConfigWatcher() {
  Stop();
}

void ConfigWatcher::Stop() {
  if (stop_.exchange(true)) return;
  watcher_.Wake();
  if (thread_.joinable()) thread_.join();
}

void ConfigWatcher::Run() {
  while (!stop_.load()) {
    const DirectoryWatcher::WaitResult result = watcher_.Wait(settle_);
    if (result == DirectoryWatcher::WaitResult::kFailed) {
      LogLine(kWaitFailedLog);
      return;
    }
    if (result == DirectoryWatcher::WaitResult::kChanged && !stop_.load() && reload_) reload_();
  }
}

}  // namespace kavi::win
