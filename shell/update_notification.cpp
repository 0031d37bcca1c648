// SPDX-License-Identifier: Apache-2.0
#include "shell/update_notification.h"

#include "platform/log.h"
#include "platform/session_bus.h"

namespace kavi::win {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kDefaultAction[] = "default";
constexpr int kCallTimeoutMs = 3000;
constexpr guchar kNormalUrgency = 1;

}  // namespace

std::string UpdateNoticeText(const std::string& version) {
  return "新版 " + version + " 已下載並驗證。點擊打開關於頁安裝。";
}

UpdateNotification::UpdateNotification(std::function<void()> on_activate)
    : on_activate_(std::move(on_activate)) {}

UpdateNotification::~UpdateNotification() {
  Close();
  if (bus_) {
    if (action_subscription_) g_dbus_connection_signal_unsubscribe(bus_, action_subscription_);
    if (closed_subscription_) g_dbus_connection_signal_unsubscribe(bus_, closed_subscription_);
    g_object_unref(bus_);
  }
}

bool UpdateNotification::Show(const std::string& version) {
  if (!bus_ && SessionBusReachable()) {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus_) {
      action_subscription_ = g_dbus_connection_signal_subscribe(
          bus_, kService, kInterface, "ActionInvoked", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
          &UpdateNotification::OnSignal, this, nullptr);
      closed_subscription_ = g_dbus_connection_signal_subscribe(
          bus_, kService, kInterface, "NotificationClosed", kPath, nullptr,
          G_DBUS_SIGNAL_FLAGS_NONE, &UpdateNotification::OnSignal, this, nullptr);
    }
  }
  GVariant* reply = nullptr;
  if (bus_) {
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&actions, "s", kDefaultAction);
    g_variant_builder_add(&actions, "s", kUpdateNoticeActionLabel);
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(kNormalUrgency));
    const std::string text = UpdateNoticeText(version);
    reply = g_dbus_connection_call_sync(
        bus_, kService, kPath, kInterface, "Notify",
        g_variant_new("(susssasa{sv}i)", kUpdateNoticeAppName, id_, "system-software-update",
                      kUpdateNoticeTitle, text.c_str(), &actions, &hints,
                      static_cast<int>(kUpdateNoticeMilliseconds)),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
  }
  if (!reply) {
    LogLine("[Kavi] 無法顯示更新通知\n");
    return false;
  }
  g_variant_get(reply, "(u)", &id_);
  g_variant_unref(reply);
  if (timer_) g_source_remove(timer_);
  timer_ = g_timeout_add(kUpdateNoticeMilliseconds, &UpdateNotification::OnTimeout, this);
  return true;
}

void UpdateNotification::Close() {
  if (!id_) return;
  if (bus_)
    g_dbus_connection_call(bus_, kService, kPath, kInterface, "CloseNotification",
                           g_variant_new("(u)", id_), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           kCallTimeoutMs, nullptr, nullptr, nullptr);
  Forget();
}

void UpdateNotification::Forget() {
  id_ = 0;
  if (timer_) g_source_remove(timer_);
  timer_ = 0;
}

gboolean UpdateNotification::OnTimeout(gpointer self) {
  auto* notification = static_cast<UpdateNotification*>(self);
  notification->timer_ = 0;
  notification->Close();
  return G_SOURCE_REMOVE;
}

void UpdateNotification::OnSignal(GDBusConnection*, const char*, const char*, const char*,
                                  const char* signal, GVariant* parameters, gpointer self) {
  auto* notification = static_cast<UpdateNotification*>(self);
  guint32 id = 0;
  if (g_strcmp0(signal, "ActionInvoked") == 0) {
    const char* key = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &key);
    if (id == 0 || id != notification->id_) return;
    notification->Close();
    if (notification->on_activate_) notification->on_activate_();
  } else if (g_strcmp0(signal, "NotificationClosed") == 0) {
    guint32 reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    if (id != 0 && id == notification->id_) notification->Forget();
  }
}

}  // namespace kavi::win
