// SPDX-License-Identifier: Apache-2.0
// The tray with its toolbar, built on a thread of its own, so that the server can listen
// meanwhile: GTK's start takes tens of milliseconds on a quiet machine and far more on a desktop
// busy logging in, a client that started the server waits only 200 ms for its socket, and
// nothing a client asks for needs the tray. Until the tray is there, and when it never comes (no
// display), the calls only keep what it is to show; it shows the latest of it when it comes.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ports/toolbar_port.h"
#include "shell/tray_icon.h"

namespace kavi::win {

class DeferredTray final : public ToolbarPort {
 public:
  DeferredTray() = default;
  ~DeferredTray() override;
  DeferredTray(const DeferredTray&) = delete;
  DeferredTray& operator=(const DeferredTray&) = delete;

  // Starts building the tray; once only.
  void Build(TrayIconOptions options);
  // Waits for the building to end and destroys the tray (its windows close, its thread ends).
  void Destroy();

  void SetClientFocus(bool has_focus) override;
  void SetAsciiMode(bool ascii_mode) override;
  void ApplySettings(const TrayDisplaySettings& settings);
  // False, and nothing shown, while there is no tray.
  bool ShowUpdateNotice(const std::string& version);

 private:
  std::thread builder_;
  std::mutex mutex_;
  std::unique_ptr<TrayIcon> tray_;
  // What arrived before the tray did.
  std::optional<bool> has_focus_;
  std::optional<bool> ascii_mode_;
  std::optional<TrayDisplaySettings> settings_;
};

}  // namespace kavi::win
