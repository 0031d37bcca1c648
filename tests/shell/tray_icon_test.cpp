// SPDX-License-Identifier: Apache-2.0
// The tray on a private X server and a private session bus: the toolbar window under real
// pointer events (xdotool), the GTK menu and confirmation, the update notice over D-Bus, and
// the panel icon's registration and menu.
#include "shell/tray_icon.h"

#include <gtest/gtest.h>

#include "shell/deferred_tray.h"

#include <atomic>
#include <cstdlib>

#include "shell/toolbar_flags.h"
#include "tests/candidate/session_bus.h"
#include "tests/candidate/x_server.h"
#include "tests/common/temp_dir.h"
#include "tests/common/x_top_level.h"
#include "tests/shell/desktop_standins.h"
#include "tests/shell/shell_test_support.h"

namespace kavi::win {
namespace {

using testing::TempDir;
using testing::WaitFor;

// One X server and one session bus for the whole binary: GTK and GIO keep their first
// display and bus for the life of the process.
class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    x_ = std::make_unique<testing::PrivateXServer>();
    bus_ = std::make_unique<testing::PrivateSessionBus>();
    setenv("DISPLAY", x_->name().c_str(), 1);
    // Xvfb names its display a moment before it accepts every client.
    WaitFor([this] {
      Display* display = XOpenDisplay(x_->name().c_str());
      if (display) XCloseDisplay(display);
      return display != nullptr;
    });
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
    // No portal and no dconf on the private bus: the palette follows settings.ini only.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    // The widgets are read back through GTK itself; starting the accessibility bus on the
    // private bus would only slow every test down.
    setenv("NO_AT_BRIDGE", "1", 1);
  }
  void TearDown() override {
    bus_.reset();
    x_.reset();
  }
  static const std::string& display() { return instance->x_->name(); }
  static const std::string& bus() { return instance->bus_->address(); }
  static DesktopEnvironment* instance;

 private:
  std::unique_ptr<testing::PrivateXServer> x_;
  std::unique_ptr<testing::PrivateSessionBus> bus_;
};
DesktopEnvironment* DesktopEnvironment::instance =
    static_cast<DesktopEnvironment*>(::testing::AddGlobalTestEnvironment(new DesktopEnvironment));

bool XDo(const std::string& arguments) {
  return testing::XDoTool(DesktopEnvironment::display(), arguments);
}

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (dir_.path() / "config").c_str(), 1);
    XDo("mousemove 5 5");
  }

  void Start(ToolbarActions actions = {}) {
    TrayIconOptions options;
    options.actions = std::move(actions);
    options.shutdown = [this] { ++shutdowns_; };
    options.user_root = dir_.path() / "user";
    options.version = "0.5.1";
    options.icon_dir = dir_.path() / "icons";
    options.ready_timeout_ms = 20000;
    tray_ = std::make_unique<TrayIcon>(std::move(options));
    ASSERT_TRUE(tray_->ready());
  }

  // Counts the toolbar buttons' actions.
  ToolbarActions Counting() {
    ToolbarActions a;
    a.toggle_input_mode = [this] { ++clicks_[1]; };
    a.toggle_script = [this] { ++clicks_[2]; };
    a.translate = [this](int, int) { ++clicks_[3]; };
    a.toggle_recording = [this] { ++clicks_[4]; };
    a.open_settings = [this] { ++clicks_[5]; };
    a.about = [this] { ++clicks_[10]; };
    return a;
  }

  ToolbarSnapshot ShownToolbar() {
    tray_->SetClientFocus(true);
    ToolbarSnapshot s;
    EXPECT_TRUE(WaitFor([&] { return (s = tray_->Snapshot()).visible; }));
    return s;
  }

  // A screen point inside a toolbar button.
  static std::string At(const ToolbarSnapshot& s, int x, int y) {
    return std::to_string(s.origin.x + x) + " " + std::to_string(s.origin.y + y);
  }

  TempDir dir_;
  std::unique_ptr<TrayIcon> tray_;
  std::atomic<int> clicks_[11] = {};
  std::atomic<int> shutdowns_{0};
};

TEST_F(TrayIconTest, ShowsWhileAClientHasFocusAndHides120msAfterItLeaves) {
  Start();
  EXPECT_FALSE(tray_->Snapshot().visible);
  const ToolbarSnapshot shown = ShownToolbar();
  EXPECT_EQ(shown.width, 160);
  EXPECT_NE(shown.xid, 0u);

  // Focus moving straight to another client keeps the toolbar up.
  tray_->SetClientFocus(false);
  tray_->SetClientFocus(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_TRUE(tray_->Snapshot().visible);

  const auto left = std::chrono::steady_clock::now();
  tray_->SetClientFocus(false);
  ASSERT_TRUE(WaitFor([&] { return !tray_->Snapshot().visible; }));
  EXPECT_GE(std::chrono::steady_clock::now() - left, std::chrono::milliseconds(kFocusHideDelayMs));
}

// Whether the toolbar window is mapped, as the X server sees it (a DeferredTray does not hand
// out its tray).
bool ToolbarMapped() {
  for (const testing::TopLevelWindow& window :
       testing::TopLevelWindows(DesktopEnvironment::display()))
    if (window.title == "KaviToolbarWindow" && window.viewable) return true;
  return false;
}

// The server builds its tray while it already serves: a client's focus that arrived first shows
// the toolbar once it is there, and an update notice waits for a tray to show it in.
TEST_F(TrayIconTest, ADeferredTrayShowsWhatArrivedBeforeIt) {
  DeferredTray deferred;
  EXPECT_FALSE(deferred.ShowUpdateNotice("0.6.0"));
  deferred.SetAsciiMode(true);
  deferred.SetClientFocus(true);
  TrayIconOptions options;
  options.user_root = dir_.path() / "user";
  options.version = "0.5.1";
  options.icon_dir = dir_.path() / "icons";
  options.ready_timeout_ms = 20000;
  deferred.Build(std::move(options));
  EXPECT_TRUE(WaitFor([] { return ToolbarMapped(); }));
  EXPECT_TRUE(WaitFor([&] { return deferred.ShowUpdateNotice("0.6.0"); }));

  deferred.SetClientFocus(false);
  EXPECT_TRUE(WaitFor([] { return !ToolbarMapped(); }));
  deferred.Destroy();
  EXPECT_FALSE(deferred.ShowUpdateNotice("0.6.0"));
}

TEST_F(TrayIconTest, ScriptButtonRunsTheSettingsProgramWhichTogglesTheConfiguration) {
  const std::filesystem::path settings_program =
      std::filesystem::path(KAVI_BINARY_DIR) / "bin" / kSettingsProgramName;
  Start(MakeToolbarActions(SettingsLauncher(settings_program), {}));
  const ToolbarSnapshot s = ShownToolbar();
  const std::filesystem::path config = dir_.path() / "config" / "Kavi" / "config.json";
  ASSERT_TRUE(XDo("mousemove " + At(s, 65, 15) + " click 1"));
  ASSERT_TRUE(WaitFor([&] {
    return testing::ReadFile(config).find("\"charset\": \"zht\"") != std::string::npos;
  })) << testing::ReadFile(config);
}

TEST_F(TrayIconTest, SmallMovesClickAndDragsMoveTheWindowFlushToTheEdge) {
  Start(Counting());
  ToolbarSnapshot s = ShownToolbar();
  ASSERT_TRUE(
      XDo("mousemove " + At(s, 60, 15) + " mousedown 1 mousemove " + At(s, 63, 15) + " mouseup 1"));
  ASSERT_TRUE(WaitFor([&] { return clicks_[2] == 1; })) << "a 3-pixel move still clicks";
  EXPECT_EQ(tray_->Snapshot().origin, s.origin);

  ASSERT_TRUE(
      XDo("mousemove " + At(s, 60, 15) + " mousedown 1 mousemove " + At(s, 50, 15) + " mouseup 1"));
  ToolbarSnapshot moved;
  ASSERT_TRUE(WaitFor([&] { return (moved = tray_->Snapshot()).origin.x == s.origin.x - 10; }));
  EXPECT_EQ(moved.origin.y, s.origin.y);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(clicks_[2], 1) << "a 10-pixel drag clicks nothing";

  // Far past the bottom-right corner of the 1920x1080 screen.
  ASSERT_TRUE(XDo("mousemove " + At(moved, 10, 15) + " mousedown 1 mousemove 1919 1079 mouseup 1"));
  ASSERT_TRUE(WaitFor([&] {
    return tray_->Snapshot().origin == ToolbarPoint{1920 - 160, 1080 - 36};
  })) << tray_->Snapshot().origin.x
      << "," << tray_->Snapshot().origin.y;
  ASSERT_TRUE(XDo("mousemove " + At({true, {}, {1760, 1044}}, 10, 15) +
                  " mousedown 1 mousemove 0 0 mouseup 1"));
  ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().origin == ToolbarPoint{0, 0}; }));
  EXPECT_EQ(clicks_[1] + clicks_[2] + clicks_[3] + clicks_[4] + clicks_[5], 1);
}

TEST_F(TrayIconTest, MiniToolbarCollapsesAndExpands) {
  Start(Counting());
  ToolbarFlags(dir_.path() / "user").Write(kMiniToolbarValue, 1);
  ToolbarSnapshot s = ShownToolbar();
  ASSERT_TRUE(
      WaitFor([&] { return (s = tray_->Snapshot()).shape == ToolbarShape::kMiniCollapsed; }));
  EXPECT_EQ(s.width, ToolbarSize(ToolbarShape::kMiniCollapsed).width);

  // A press expands it; the script button stays under the pointer and clicks.
  ASSERT_TRUE(XDo("mousemove " + At(s, 12, 15) + " click 1"));
  ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().shape == ToolbarShape::kMiniExpanded; }));
  ASSERT_TRUE(WaitFor([&] { return clicks_[2] == 1; }));
  s = tray_->Snapshot();
  ASSERT_TRUE(XDo("mousemove " + At(s, 79, 15) + " click 1"));
  ASSERT_TRUE(WaitFor([&] { return clicks_[5] == 1; })) << "the expanded settings button";

  // Leaving collapses it after 300 ms.
  ASSERT_TRUE(XDo("mousemove 5 5"));
  ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().shape == ToolbarShape::kMiniCollapsed; }));

  ToolbarFlags(dir_.path() / "user").Write(kMiniToolbarValue, 0);
  ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().shape == ToolbarShape::kStandard; }));
}

TEST_F(TrayIconTest, RightClickOpensTheFullMenuAndHidingAsksFirst) {
  Start(Counting());
  TrayDisplaySettings settings;
  settings.simplified_output = false;
  settings.voice_output_language = "de";
  tray_->ApplySettings(settings);
  const ToolbarSnapshot s = ShownToolbar();
  ASSERT_TRUE(XDo("mousemove " + At(s, 10, 15) + " click 3"));
  std::vector<TrayMenuItem> items;
  ASSERT_TRUE(WaitFor([&] { return !(items = tray_->OpenMenuItems()).empty(); }));

  TrayMenuState state;
  state.traditional_output = true;
  state.voice_output_language = "de";
  state.version = "0.5.1";
  const std::vector<TrayMenuItem> expected = BuildTrayMenu(state);
  ASSERT_EQ(items.size(), expected.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].id, expected[i].id) << i;
    EXPECT_EQ(items[i].label, expected[i].label) << i;
    EXPECT_EQ(items[i].kind, expected[i].kind) << i;
    ASSERT_EQ(items[i].children.size(), expected[i].children.size()) << i;
    for (size_t j = 0; j < items[i].children.size(); ++j) {
      EXPECT_EQ(items[i].children[j].label, expected[i].children[j].label);
      EXPECT_EQ(items[i].children[j].checked, expected[i].children[j].checked) << j;
    }
  }
  EXPECT_EQ(items[4].label, "切換至簡體");

  ASSERT_TRUE(tray_->ActivateOpenMenuItem(static_cast<int>(TrayMenuId::kAbout)));
  EXPECT_TRUE(WaitFor([&] { return clicks_[10] == 1; }));

  const ToolbarFlags flags(dir_.path() / "user");
  auto hide = [&](bool ok) {
    ASSERT_TRUE(XDo("mousemove " + At(s, 10, 15) + " click 3"));
    ASSERT_TRUE(WaitFor([&] { return !tray_->OpenMenuItems().empty(); }));
    ASSERT_TRUE(tray_->ActivateOpenMenuItem(static_cast<int>(TrayMenuId::kHideToolbar)));
    ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().dialog_open; }));
    ASSERT_TRUE(tray_->AnswerConfirmation(ok));
  };
  hide(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(flags.Read(kToolbarHiddenValue), 0u) << "cancelling changes nothing";
  EXPECT_TRUE(tray_->Snapshot().visible);
  hide(true);
  EXPECT_EQ(flags.Read(kToolbarHiddenValue), 1u);
  EXPECT_TRUE(WaitFor([&] { return !tray_->Snapshot().visible; }));
  tray_->SetClientFocus(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(tray_->Snapshot().visible) << "hidden stays hidden with focus";
  flags.Write(kToolbarHiddenValue, 0);
  EXPECT_TRUE(WaitFor([&] { return tray_->Snapshot().visible; }));
}

TEST_F(TrayIconTest, UpdateNoticeReachesTheNotificationServerAndItsActionOpensAbout) {
  testing::FakeNotificationServer server(DesktopEnvironment::bus());
  Start(Counting());
  tray_->ShowUpdateNotice("0.6.0");
  std::vector<testing::ReceivedNotice> notices;
  ASSERT_TRUE(WaitFor([&] { return !(notices = server.notices()).empty(); }));
  EXPECT_EQ(notices[0].summary, "霜楓更新已準備完成");
  EXPECT_EQ(notices[0].body, "新版 0.6.0 已下載並驗證。點擊打開關於頁安裝。");
  EXPECT_EQ(notices[0].actions, (std::vector<std::string>{"default", "打開關於頁"}));
  EXPECT_EQ(notices[0].timeout, 30000);
  ASSERT_TRUE(WaitFor([&] { return tray_->Snapshot().notice_shown; }));

  server.InvokeAction(notices[0].id + 100, "default");
  server.InvokeAction(notices[0].id, "default");
  ASSERT_TRUE(WaitFor([&] { return clicks_[10] == 1; }));
  EXPECT_FALSE(tray_->Snapshot().notice_shown) << "a click removes it";
  EXPECT_TRUE(WaitFor([&] { return !server.closed().empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(clicks_[10], 1) << "another notice's action is not ours";
}

// dbusmenu's layout below a node, one line per item (labels indented by depth, separators as
// "-").
std::vector<std::string> MenuLabels(GVariant* node, const std::string& prefix) {
  std::vector<std::string> labels;
  GVariant* children = g_variant_get_child_value(node, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    GVariant* properties = g_variant_get_child_value(child, 1);
    const char* type = nullptr;
    const char* label = "";
    if (g_variant_lookup(properties, "type", "&s", &type) && g_strcmp0(type, "separator") == 0)
      labels.push_back(prefix + "-");
    else if (g_variant_lookup(properties, "label", "&s", &label))
      labels.push_back(prefix + label);
    g_variant_unref(properties);
    for (std::string& l : MenuLabels(child, prefix + "  ")) labels.push_back(l);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  return labels;
}

std::vector<std::string> ModelLabels(const std::vector<TrayMenuItem>& items,
                                     const std::string& prefix) {
  std::vector<std::string> labels;
  for (const TrayMenuItem& item : items) {
    labels.push_back(prefix + (item.kind == TrayMenuItem::Kind::kSeparator ? "-" : item.label));
    for (std::string& l : ModelLabels(item.children, prefix + "  ")) labels.push_back(l);
  }
  return labels;
}

TEST_F(TrayIconTest, PanelIconRegistersWithTheWatcherAndCarriesTheSameMenu) {
  testing::FakeStatusNotifierWatcher watcher(DesktopEnvironment::bus());
  Start();
  std::vector<testing::FakeStatusNotifierWatcher::Item> items;
  ASSERT_TRUE(WaitFor([&] { return !(items = watcher.items()).empty(); }));
  const std::string path = items[0].service[0] == '/' ? items[0].service : "/StatusNotifierItem";

  auto property = [&](const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(
        watcher.bus(), items[0].sender.c_str(), path.c_str(), "org.freedesktop.DBus.Properties",
        "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
    std::string value;
    if (reply) {
      GVariant* inner = nullptr;
      g_variant_get(reply, "(v)", &inner);
      value = g_variant_is_of_type(inner, G_VARIANT_TYPE_STRING) ||
                      g_variant_is_of_type(inner, G_VARIANT_TYPE_OBJECT_PATH)
                  ? g_variant_get_string(inner, nullptr)
                  : "";
      g_variant_unref(inner);
      g_variant_unref(reply);
    }
    return value;
  };
  // The library registers the item and then fills in its properties and menu as its main loop
  // gets to them: each is waited for, so a loaded machine only makes the test slower.
  EXPECT_TRUE(WaitFor([&] { return property("Id") == "kavi"; })) << property("Id");
  EXPECT_TRUE(WaitFor([&] { return property("IconName") == "kavi-zh"; })) << property("IconName");
  tray_->SetAsciiMode(true);
  EXPECT_TRUE(WaitFor([&] { return property("IconName") == "kavi-en"; })) << property("IconName");
  std::string menu_path;
  ASSERT_TRUE(WaitFor([&] { return !(menu_path = property("Menu")).empty(); }));

  auto menu_labels = [&] {
    const char* wanted[] = {"label", "type", nullptr};
    GVariant* layout = g_dbus_connection_call_sync(
        watcher.bus(), items[0].sender.c_str(), menu_path.c_str(), "com.canonical.dbusmenu",
        "GetLayout", g_variant_new("(ii^as)", 0, -1, wanted), nullptr, G_DBUS_CALL_FLAGS_NONE, 3000,
        nullptr, nullptr);
    if (!layout) return std::vector<std::string>{};
    GVariant* root = g_variant_get_child_value(layout, 1);
    std::vector<std::string> labels = MenuLabels(root, "");
    g_variant_unref(root);
    g_variant_unref(layout);
    return labels;
  };
  TrayMenuState state;
  state.version = "0.5.1";
  const std::vector<std::string> expected = ModelLabels(BuildTrayMenu(state), "");
  std::vector<std::string> labels;
  EXPECT_TRUE(WaitFor([&] { return (labels = menu_labels()) == expected; }));
  EXPECT_EQ(labels, expected);
}

}  // namespace
}  // namespace kavi::win
