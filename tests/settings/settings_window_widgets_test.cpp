// SPDX-License-Identifier: Apache-2.0
// The settings window built in this process on a private Xvfb, beside a real KaviServer: its
// widgets are looked up by type and title, the way a user finds them, and driven through the
// same GTK calls a click makes; what they write is read back from the files and the server.
// gtest first: Xlib's macros (None, Bool) would break its headers.
#include "tests/e2e/server_process.h"

#include <adwaita.h>
#include <stdlib.h>

#include <functional>
#include <optional>

#include "tools/settings/settings_store.h"
#include "tools/settings/window/settings_window.h"
// Last: Xlib's macros (Status) would break the headers above.
#include "tests/candidate/x_server.h"

#undef FocusIn

namespace kavi::win::testing {
namespace {

// GTK starts once per process, on one display: an X server of its own for the whole binary.
const std::string& SharedDisplay() {
  static PrivateXServer* x = new PrivateXServer();
  return x->name();
}

bool StartGtk() {
  static const bool started = [] {
    ::setenv("GSK_RENDERER", "cairo", 1);
    ::setenv("GTK_A11Y", "none", 1);
    const std::string display = SharedDisplay();
    if (display.empty()) return false;
    ::setenv("DISPLAY", display.c_str(), 1);
    if (!gtk_init_check()) return false;
    adw_init();
    return true;
  }();
  return started;
}

// Runs GTK's main loop until `done` or the time-out.
bool Pump(const std::function<bool()>& done, int timeout_ms = 15000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!g_main_context_iteration(nullptr, false))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void Walk(GtkWidget* widget, const std::function<void(GtkWidget*)>& visit) {
  visit(widget);
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child))
    Walk(child, visit);
}

// The first row of `type` whose title is `title`.
GtkWidget* Row(GtkWidget* root, GType type, const std::string& title) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* widget) {
    if (found == nullptr && G_TYPE_CHECK_INSTANCE_TYPE(widget, type) &&
        ADW_IS_PREFERENCES_ROW(widget) &&
        title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(widget)))
      found = widget;
  });
  return found;
}

// The first widget of `type` inside `root`.
GtkWidget* Inside(GtkWidget* root, GType type) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* widget) {
    if (found == nullptr && G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) found = widget;
  });
  return found;
}

GtkWidget* Named(GtkWidget* root, const std::string& name) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* widget) {
    if (found == nullptr && name == gtk_widget_get_name(widget)) found = widget;
  });
  return found;
}

std::vector<std::string> ComboItems(GtkWidget* combo) {
  std::vector<std::string> items;
  GListModel* model = adw_combo_row_get_model(ADW_COMBO_ROW(combo));
  if (model == nullptr || !GTK_IS_STRING_LIST(model)) return items;
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i)
    items.emplace_back(gtk_string_list_get_string(GTK_STRING_LIST(model), i));
  return items;
}

// Whether a row titled `title` is inside `root`.
bool HasRowTitled(GtkWidget* root, const std::string& title) {
  bool found = false;
  Walk(root, [&](GtkWidget* widget) {
    if (ADW_IS_PREFERENCES_ROW(widget) &&
        title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(widget)))
      found = true;
  });
  return found;
}

class SettingsWidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartGtk());
    std::filesystem::create_directories(home_.config_dir());
    // The window finds the server the way KaviSettings does: from the session's environment.
    Remember("XDG_RUNTIME_DIR", (home_.root() / "run").string());
    Remember("DISPLAY", SharedDisplay());
  }

  void TearDown() override {
    if (window_ != nullptr) {
      gtk_window_destroy(window_);
      Pump([] { return false; }, 100);
    }
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

  void Remember(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  GtkWidget* Open(WindowPage page) {
    SettingsWindow* window = SettingsWindow::Open(nullptr, home_.config_dir(), {});
    window->Present(page, "");
    window_ = window->window();
    return GTK_WIDGET(window_);
  }

  ConfigRecord Stored() {
    ConfigRecord record;
    std::string message;
    EXPECT_TRUE(SettingsStore(home_.config_dir()).Load(&record, &message)) << message;
    return record;
  }

  ServerHome home_;
  GtkWindow* window_ = nullptr;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The scheme list is the running server's catalogue; choosing one saves it.
TEST_F(SettingsWidgetsTest, TheSchemeListIsTheRunningServersCatalogue) {
  home_.StartServer(SharedDisplay());
  GtkWidget* window = Open(WindowPage::kInput);
  GtkWidget* scheme = Row(window, ADW_TYPE_COMBO_ROW, "輸入方案");
  ASSERT_NE(scheme, nullptr);
  ASSERT_TRUE(Pump([&] { return ComboItems(scheme).size() >= 6; }));
  // Named from the scheme files beside the program; this test's program has none beside it, so
  // a scheme shows by its id.
  const std::vector<std::string> items = ComboItems(scheme);
  EXPECT_EQ(items[adw_combo_row_get_selected(ADW_COMBO_ROW(scheme))], "base_pinyin");
  const auto wubi = std::find(items.begin(), items.end(), "wubi86");
  ASSERT_NE(wubi, items.end());
  EXPECT_TRUE(gtk_widget_get_sensitive(scheme));

  adw_combo_row_set_selected(ADW_COMBO_ROW(scheme), static_cast<guint>(wubi - items.begin()));
  EXPECT_EQ(Stored().engine.schema, "wubi86");
}

// A change made elsewhere (the command line, the toolbar) shows in the open window.
TEST_F(SettingsWidgetsTest, ChangesMadeElsewhereShowInTheOpenWindow) {
  GtkWidget* window = Open(WindowPage::kInput);
  GtkWidget* page_size =
      Inside(Row(window, ADW_TYPE_ACTION_ROW, "每頁候選數"), GTK_TYPE_SPIN_BUTTON);
  ASSERT_NE(page_size, nullptr);
  EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(page_size)), 10);
  GtkWidget* an_ang = Named(window, "an_ang");
  ASSERT_NE(an_ang, nullptr);
  EXPECT_FALSE(gtk_switch_get_active(GTK_SWITCH(an_ang)));

  ASSERT_EQ(home_.Settings({"--set", "page_size=13", "--set", "fuzzy=an_ang"}), 0);
  EXPECT_TRUE(Pump([&] {
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(page_size)) == 13 &&
           gtk_switch_get_active(GTK_SWITCH(an_ang));
  }));
  // The window's next save keeps what it read: turning l_n on keeps an_ang.
  gtk_switch_set_active(GTK_SWITCH(Named(window, "l_n")), true);
  std::string problem;
  EXPECT_EQ(SettingsStore(home_.config_dir()).PinyinOptions(&problem).fuzzy,
            (std::vector<std::string>{"l_n", "an_ang"}));
}

// A value the key refuses changes nothing on disk, and the control shows the stored value again.
TEST_F(SettingsWidgetsTest, ARefusedValueChangesNothing) {
  GtkWidget* window = Open(WindowPage::kInput);
  GtkWidget* strokes = Row(window, ADW_TYPE_ENTRY_ROW, "筆畫鍵");
  ASSERT_NE(strokes, nullptr);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(strokes)), "hspnz");
  gtk_editable_set_text(GTK_EDITABLE(strokes), "aaaaa");
  g_signal_emit_by_name(strokes, "apply");
  EXPECT_EQ(Stored().engine.stroke_keys, "hspnz");
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(strokes)), "hspnz");

  gtk_editable_set_text(GTK_EDITABLE(strokes), "ASDFG");
  g_signal_emit_by_name(strokes, "apply");
  EXPECT_EQ(Stored().engine.stroke_keys, "asdfg");
}

// A page whose service cannot be used says why instead of showing controls; with the server
// up, the voice page lists the models.
TEST_F(SettingsWidgetsTest, PagesSayPlainlyWhatTheyCannotReach) {
  struct Case {
    WindowPage page;
    bool server;
    const char* row;
  };
  const Case cases[] = {
      {WindowPage::kVoice, false, "輸入服務沒有執行"},
      {WindowPage::kAccount, false, "輸入服務沒有執行"},
      {WindowPage::kVoice, true, "SenseVoice 模型"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PageInfo(c.page).name);
    if (c.server) home_.StartServer(SharedDisplay());
    GtkWidget* window = Open(c.page);
    EXPECT_TRUE(Pump([&] { return HasRowTitled(window, c.row); }));
    gtk_window_destroy(window_);
    window_ = nullptr;
  }
}

}  // namespace
}  // namespace kavi::win::testing
