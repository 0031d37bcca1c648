// SPDX-License-Identifier: Apache-2.0
// The desktop notification that announces a downloaded, verified update, sent over D-Bus to
// org.freedesktop.Notifications on the session bus. Clicking it (its default action, or the
// "打開關於頁" button) runs the action; it is withdrawn after 30 seconds. Lives on the tray
// thread: the bus signals are delivered through that thread's main loop.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace kavi::win {

inline constexpr char kUpdateNoticeTitle[] = "霜楓更新已準備完成";
inline constexpr char kUpdateNoticeAppName[] = "霜楓輸入法";
inline constexpr char kUpdateNoticeActionLabel[] = "打開關於頁";
inline constexpr unsigned kUpdateNoticeMilliseconds = 30000;

std::string UpdateNoticeText(const std::string& version);

class UpdateNotification {
 public:
  explicit UpdateNotification(std::function<void()> on_activate);
  ~UpdateNotification();
  UpdateNotification(const UpdateNotification&) = delete;
  UpdateNotification& operator=(const UpdateNotification&) = delete;

  // Sends the notice (replacing one still shown); logs "[Kavi] 無法顯示更新通知" on failure.
  bool Show(const std::string& version);
  // Withdraws the notice when it is still shown.
  void Close();
  bool shown() const { return id_ != 0; }

 private:
  static void OnSignal(GDBusConnection*, const char*, const char*, const char*, const char* signal,
                       GVariant* parameters, gpointer self);
  static gboolean OnTimeout(gpointer self);
  void Forget();

  std::function<void()> on_activate_;
  GDBusConnection* bus_ = nullptr;
  guint action_subscription_ = 0;
  guint closed_subscription_ = 0;
  guint timer_ = 0;
  uint32_t id_ = 0;
};

}  // namespace kavi::win
