// SPDX-License-Identifier: Apache-2.0
// A private D-Bus session bus for one test, and a settings portal on it that the test drives:
// the desktop's colour-scheme preference without touching the user's own session.
#pragma once

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

extern char** environ;

namespace kavi::win::testing {

class PrivateSessionBus {
 public:
  PrivateSessionBus() {
    int report[2];
    if (pipe(report) != 0) return;
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=3", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, report[1], 3);
    const int rc =
        posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    char c = 0;
    while (rc == 0 && read(report[0], &c, 1) == 1 && c != '\n') address_.push_back(c);
    close(report[0]);
    if (rc != 0) pid_ = -1;
  }
  ~PrivateSessionBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// org.freedesktop.portal.Settings with org.freedesktop.appearance color-scheme only.
class FakeSettingsPortal {
 public:
  FakeSettingsPortal(const std::string& address, uint32_t color_scheme) : value_(color_scheme) {
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus_) return;
    std::atomic<bool> ready{false};
    thread_ = std::thread([this, &ready] {
      g_main_context_push_thread_default(context_);
      static const char kXml[] =
          "<node><interface name='org.freedesktop.portal.Settings'>"
          "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
          "<arg type='v' direction='out'/></method>"
          "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
          "</interface></node>";
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
      static const GDBusInterfaceVTable kVTable = {&FakeSettingsPortal::OnCall, nullptr, nullptr};
      g_dbus_connection_register_object(bus_, "/org/freedesktop/portal/desktop",
                                        node->interfaces[0], &kVTable, this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      GVariant* owned = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 0u), nullptr,
          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      if (owned) g_variant_unref(owned);
      ready = true;
      g_main_loop_run(loop_);
      g_main_context_pop_thread_default(context_);
    });
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FakeSettingsPortal() {
    if (thread_.joinable()) {
      g_main_context_invoke(
          context_,
          [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
          },
          loop_);
      thread_.join();
    }
    if (bus_) {
      g_dbus_connection_close_sync(bus_, nullptr, nullptr);
      g_object_unref(bus_);
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }
  bool ok() const { return bus_ != nullptr; }

  // Changes the preference and announces it as the portal does.
  void Set(uint32_t color_scheme) {
    value_ = color_scheme;
    g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/portal/desktop",
                                  "org.freedesktop.portal.Settings", "SettingChanged",
                                  g_variant_new("(ssv)", "org.freedesktop.appearance",
                                                "color-scheme", g_variant_new_uint32(color_scheme)),
                                  nullptr);
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  }

 private:
  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    const gchar* name_space = nullptr;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(&s&s)", &name_space, &key);
    if (std::string(name_space) != "org.freedesktop.appearance" ||
        std::string(key) != "color-scheme") {
      g_dbus_method_invocation_return_dbus_error(
          invocation, "org.freedesktop.portal.Error.NotFound", "Requested setting not found");
      return;
    }
    // Read() answers with the value wrapped twice, as the portal does.
    const uint32_t value = static_cast<FakeSettingsPortal*>(self)->value_;
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(value))));
  }

  std::atomic<uint32_t> value_;
  GDBusConnection* bus_ = nullptr;
  GMainContext* context_ = g_main_context_new();
  GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
  std::thread thread_;
};

}  // namespace kavi::win::testing
