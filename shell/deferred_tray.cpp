// SPDX-License-Identifier: Apache-2.0
#include "shell/deferred_tray.h"

#include <system_error>
#include <utility>

#include "platform/log.h"

namespace kavi::win {

DeferredTray::~DeferredTray() {
  Destroy();
}

void DeferredTray::Build(TrayIconOptions options) {
  if (builder_.joinable()) return;
  auto build = [this, options = std::move(options)]() mutable {
    auto tray = std::make_unique<TrayIcon>(std::move(options));
    if (!tray->ready()) return;  // the tray logged why
    std::lock_guard<std::mutex> lock(mutex_);
    if (settings_) tray->ApplySettings(*settings_);
    if (ascii_mode_) tray->SetAsciiMode(*ascii_mode_);
    if (has_focus_) tray->SetClientFocus(*has_focus_);
    tray_ = std::move(tray);
  };
  try {
    builder_ = std::thread(std::move(build));
  } catch (const std::system_error&) {
    LogLine("[Kavi] 托盤執行緒初始化失敗\n");
  }
}

void DeferredTray::Destroy() {
  if (builder_.joinable()) builder_.join();
  std::unique_ptr<TrayIcon> tray;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tray = std::move(tray_);
  }
  // Outside the lock: the tray's thread may be finishing work that reaches the server.
  tray.reset();
}

void DeferredTray::SetClientFocus(bool has_focus) {
  std::lock_guard<std::mutex> lock(mutex_);
  has_focus_ = has_focus;
  if (tray_) tray_->SetClientFocus(has_focus);
}

void DeferredTray::SetAsciiMode(bool ascii_mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  ascii_mode_ = ascii_mode;
  if (tray_) tray_->SetAsciiMode(ascii_mode);
}

void DeferredTray::ApplySettings(const TrayDisplaySettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = settings;
  if (tray_) tray_->ApplySettings(settings);
}

bool DeferredTray::ShowUpdateNotice(const std::string& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!tray_) return false;
  tray_->ShowUpdateNotice(version);
  return true;
}

}  // namespace kavi::win
