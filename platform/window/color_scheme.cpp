// SPDX-License-Identifier: Apache-2.0
#include "platform/window/color_scheme.h"

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>

#include "platform/window/desktop_theme.h"

namespace kavi::win {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kPortalSettings[] = "org.freedesktop.portal.Settings";
constexpr char kAppearance[] = "org.freedesktop.appearance";
constexpr char kColorSchemeKey[] = "color-scheme";
constexpr char kGnomeInterfaceSchema[] = "org.gnome.desktop.interface";
constexpr int kPortalTimeoutMs = 2000;

// The portal's values: 0 no preference, 1 prefer dark, 2 prefer light.
ColorScheme FromPortal(GVariant* value) {
  GVariant* inner = g_variant_ref(value);
  // Read() wraps the value in one variant more than ReadOne() does.
  while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
    GVariant* next = g_variant_get_variant(inner);
    g_variant_unref(inner);
    inner = next;
  }
  ColorScheme scheme = ColorScheme::kNoPreference;
  if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) {
    const uint32_t v = g_variant_get_uint32(inner);
    scheme = v == 1   ? ColorScheme::kPreferDark
             : v == 2 ? ColorScheme::kPreferLight
                      : ColorScheme::kNoPreference;
  }
  g_variant_unref(inner);
  return scheme;
}

ColorScheme FromGSettings(GSettings* settings) {
  gchar* value = g_settings_get_string(settings, kColorSchemeKey);
  const ColorScheme scheme = std::strcmp(value, "prefer-dark") == 0    ? ColorScheme::kPreferDark
                             : std::strcmp(value, "prefer-light") == 0 ? ColorScheme::kPreferLight
                                                                       : ColorScheme::kNoPreference;
  g_free(value);
  return scheme;
}

// Never starts a bus of its own (GIO's autolaunch would spawn one when the session has none).
std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
    return address;
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::filesystem::path socket = std::filesystem::path(runtime) / "bus";
    std::error_code error;
    if (std::filesystem::exists(socket, error)) return "unix:path=" + socket.string();
  }
  return {};
}

}  // namespace

struct DesktopColorScheme::Listener {
  ColorSchemeSources sources;
  std::function<void()> on_change;
  std::atomic<ColorScheme>* scheme = nullptr;
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GDBusConnection* bus = nullptr;
  guint subscription = 0;
  GSettings* settings = nullptr;

  ~Listener() {
    if (settings) g_object_unref(settings);
    if (bus) {
      if (subscription) g_dbus_connection_signal_unsubscribe(bus, subscription);
      g_object_unref(bus);
    }
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }

  void Set(ColorScheme value) {
    if (scheme->exchange(value) != value && on_change) on_change();
  }

  static void OnSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self) {
    const gchar* name_space = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &name_space, &key, &value);
    if (std::strcmp(name_space, kAppearance) == 0 && std::strcmp(key, kColorSchemeKey) == 0) {
      static_cast<Listener*>(self)->Set(FromPortal(value));
    }
    g_variant_unref(value);
  }

  static void OnGSettingsChanged(GSettings* settings, const gchar*, gpointer self) {
    static_cast<Listener*>(self)->Set(FromGSettings(settings));
  }

  // True when a portal answered.
  bool AskPortal() {
    const std::string address =
        sources.bus_address.empty() ? SessionBusAddress() : sources.bus_address;
    if (address.empty() || address == "none") return false;
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus) return false;
    // Subscribed before asking, so that a change between the answer and the subscription is
    // not lost.
    subscription = g_dbus_connection_signal_subscribe(
        bus, kPortalName, kPortalSettings, "SettingChanged", kPortalPath, kAppearance,
        G_DBUS_SIGNAL_FLAGS_NONE, &Listener::OnSettingChanged, this, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kPortalName, kPortalPath, kPortalSettings, "Read",
        g_variant_new("(ss)", kAppearance, kColorSchemeKey), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kPortalTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    Set(FromPortal(value));
    g_variant_unref(value);
    g_variant_unref(reply);
    return true;
  }

  // Only when the installed schema has the key (GNOME 42 on): GSettings aborts on a missing one.
  void UseGSettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kGnomeInterfaceSchema, TRUE);
    if (!schema) return;
    const bool has_key = g_settings_schema_has_key(schema, kColorSchemeKey);
    if (has_key) settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    if (!settings) return;
    g_signal_connect(settings, "changed::color-scheme", G_CALLBACK(&Listener::OnGSettingsChanged),
                     this);
    Set(FromGSettings(settings));
  }

  void Run() {
    g_main_context_push_thread_default(context);
    if (!AskPortal() && sources.gsettings) UseGSettings();
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  }
};

DesktopColorScheme::DesktopColorScheme(ColorSchemeSources sources, std::function<void()> on_change)
    : listener_(std::make_unique<Listener>()) {
  listener_->sources = std::move(sources);
  listener_->on_change = std::move(on_change);
  listener_->scheme = &scheme_;
  thread_ = std::thread([this] { listener_->Run(); });
}

DesktopColorScheme::~DesktopColorScheme() {
  // The loop may not be running yet: quitting through the context reaches it either way.
  g_main_context_invoke(
      listener_->context,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      listener_->loop);
  thread_.join();
}

bool DesktopPrefersDark(ColorScheme scheme, const std::filesystem::path& settings_ini) {
  if (scheme == ColorScheme::kPreferDark) return true;
  if (scheme == ColorScheme::kPreferLight) return false;
  return ReadPreferDarkTheme(settings_ini);
}

}  // namespace kavi::win
