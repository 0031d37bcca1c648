// SPDX-License-Identifier: Apache-2.0
// Stand-ins for the desktop services the tray talks to, on the test's private session bus:
// a notification server and a StatusNotifierWatcher. Each holds a connection of its own and
// answers on a thread of its own.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavi::win::testing {

class BusStandIn {
 public:
  BusStandIn(const std::string& address, const char* name, const char* path, const char* xml)
      : context_(g_main_context_new()) {
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus_) return;
    std::atomic<bool> ready{false};
    thread_ = std::thread([this, name, path, xml, &ready] {
      g_main_context_push_thread_default(context_);
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
      static const GDBusInterfaceVTable kVTable = {&BusStandIn::OnCall, &BusStandIn::OnGet,
                                                   nullptr};
      g_dbus_connection_register_object(bus_, path, node->interfaces[0], &kVTable, this, nullptr,
                                        nullptr);
      g_dbus_node_info_unref(node);
      GVariant* owned = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", name, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
          nullptr, nullptr);
      if (owned) g_variant_unref(owned);
      loop_ = g_main_loop_new(context_, FALSE);
      ready = true;
      g_main_loop_run(loop_);
      g_main_context_pop_thread_default(context_);
    });
    while (!ready) std::this_thread::yield();
  }
  virtual ~BusStandIn() {
    if (loop_) {
      g_main_context_invoke(
          context_,
          [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
          },
          loop_);
    }
    if (thread_.joinable()) thread_.join();
    if (loop_) g_main_loop_unref(loop_);
    if (bus_) {
      g_dbus_connection_close_sync(bus_, nullptr, nullptr);
      g_object_unref(bus_);
    }
    g_main_context_unref(context_);
  }

  GDBusConnection* bus() const { return bus_; }

 protected:
  virtual GVariant* Call(const std::string& sender, const std::string& method,
                         GVariant* parameters) = 0;
  virtual GVariant* Property(const std::string& name) { return nullptr; }

  std::mutex mutex_;

 private:
  static void OnCall(GDBusConnection*, const char* sender, const char*, const char*,
                     const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer self) {
    g_dbus_method_invocation_return_value(
        invocation, static_cast<BusStandIn*>(self)->Call(sender, method, parameters));
  }
  static GVariant* OnGet(GDBusConnection*, const char*, const char*, const char*,
                         const char* property, GError**, gpointer self) {
    return static_cast<BusStandIn*>(self)->Property(property);
  }

  GMainContext* context_;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::thread thread_;
};

struct ReceivedNotice {
  std::string app_name, summary, body;
  std::vector<std::string> actions;
  int32_t timeout = 0;
  uint32_t id = 0;
};

class FakeNotificationServer : public BusStandIn {
 public:
  explicit FakeNotificationServer(const std::string& address)
      : BusStandIn(address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                   "<node><interface name='org.freedesktop.Notifications'>"
                   "<method name='Notify'><arg type='s'/><arg type='u'/><arg type='s'/>"
                   "<arg type='s'/><arg type='s'/><arg type='as'/><arg type='a{sv}'/>"
                   "<arg type='i'/><arg type='u' direction='out'/></method>"
                   "<method name='CloseNotification'><arg type='u'/></method>"
                   "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
                   "<signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
                   "</interface></node>") {}

  std::vector<ReceivedNotice> notices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
  }
  std::vector<uint32_t> closed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }
  // What a click on the notice's button (or body, for "default") sends.
  void InvokeAction(uint32_t id, const char* key) {
    g_dbus_connection_emit_signal(bus(), nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, key), nullptr);
    g_dbus_connection_flush_sync(bus(), nullptr, nullptr);
  }

 private:
  GVariant* Call(const std::string&, const std::string& method, GVariant* p) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (method == "CloseNotification") {
      uint32_t id = 0;
      g_variant_get(p, "(u)", &id);
      closed_.push_back(id);
      return nullptr;
    }
    ReceivedNotice notice;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    GVariantIter* actions = nullptr;
    GVariant* hints = nullptr;
    uint32_t replaces = 0;
    g_variant_get(p, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions,
                  &hints, &notice.timeout);
    notice.app_name = app;
    notice.summary = summary;
    notice.body = body;
    const char* action = nullptr;
    while (g_variant_iter_next(actions, "&s", &action)) notice.actions.push_back(action);
    g_variant_iter_free(actions);
    g_variant_unref(hints);
    notice.id = replaces ? replaces : ++next_id_;
    notices_.push_back(notice);
    return g_variant_new("(u)", notice.id);
  }

  std::vector<ReceivedNotice> notices_;
  std::vector<uint32_t> closed_;
  uint32_t next_id_ = 0;
};

class FakeStatusNotifierWatcher : public BusStandIn {
 public:
  explicit FakeStatusNotifierWatcher(const std::string& address)
      : BusStandIn(address, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                   "<node><interface name='org.kde.StatusNotifierWatcher'>"
                   "<method name='RegisterStatusNotifierItem'><arg type='s'/></method>"
                   "<method name='RegisterStatusNotifierHost'><arg type='s'/></method>"
                   "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
                   "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
                   "<property name='ProtocolVersion' type='i' access='read'/>"
                   "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
                   "<signal name='StatusNotifierHostRegistered'/>"
                   "</interface></node>") {}

  struct Item {
    std::string sender, service;
  };
  std::vector<Item> items() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }

 private:
  GVariant* Call(const std::string& sender, const std::string& method, GVariant* p) override {
    if (method == "RegisterStatusNotifierItem") {
      const char* service = nullptr;
      g_variant_get(p, "(&s)", &service);
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back({sender, service});
    }
    return nullptr;
  }
  GVariant* Property(const std::string& name) override {
    if (name == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
    if (name == "ProtocolVersion") return g_variant_new_int32(0);
    return g_variant_new_strv(nullptr, 0);
  }

  std::vector<Item> items_;
};

}  // namespace kavi::win::testing
