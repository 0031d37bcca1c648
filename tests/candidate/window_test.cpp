// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <cairo.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "candidate/candidate_window.h"
#include "candidate/pointer_commands.h"
#include "candidate/window_placement.h"
#include "config/themes/theme_color.h"
#include "config/themes/theme_loader.h"
#include "tests/candidate/session_bus.h"
#include "tests/candidate/x_server.h"
#include "tests/common/temp_dir.h"
// After the wire records: X's headers define FocusIn and FocusOut as macros.
#include <X11/extensions/Xdamage.h>

namespace kavi::win {
namespace {

using testing::TempDir;

const std::filesystem::path kShippedThemes = std::filesystem::path(KAVI_SOURCE_DIR) / "data/themes";

TEST(WindowPlacementTest, BelowCaretFlipsAboveAndStaysOnScreen) {
  const ScreenRect screen{0, 0, 1920, 1040};
  const struct {
    const char* what;
    ScreenRect caret, work_area;
    double scale;
    int x, y;
  } cases[] = {
      {"below the caret, 6 DIPs away", {100, 200, 102, 220}, screen, 1.0, 100, 226},
      {"near the bottom: above, 9 pixels at 150%", {100, 1000, 102, 1020}, screen, 1.5, 100, 911},
      {"ends at the right edge", {1900, 200, 1902, 220}, screen, 1.0, 1620, 226},
      {"never left of the work area", {-50, 200, -48, 220}, {10, 0, 200, 1040}, 1.0, 10, 226},
      {"taller than the room above", {100, 50, 102, 70}, {0, 20, 1920, 100}, 1.0, 100, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const WindowPosition p = PlaceWindow(c.caret, c.work_area, 300, 80, c.scale);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }

  MaxSize max = MaximumWindowSize(screen, 1.0, true, false);
  EXPECT_EQ(max.width, 980);
  EXPECT_DOUBLE_EQ(max.height, 1040 * 0.92);
  EXPECT_EQ(MaximumWindowSize(screen, 1.0, false, false).width, 420);
  EXPECT_EQ(MaximumWindowSize(screen, 1.0, true, true).width, 1180);
  EXPECT_DOUBLE_EQ(MaximumWindowSize({0, 0, 800, 600}, 2.0, false, false).width, 400 * 0.92);
}

CandidateContent PagedContent() {
  CandidateContent content;
  content.horizontal = false;
  content.reply = EmptyReply();
  content.reply.candidate_count = 3;
  content.reply.menu_count = 4;
  content.reply.page_number = 0;
  content.reply.last_page = 0;
  return content;
}

TEST(PointerCommandsTest, ClicksPageOnTheZoneAndSelectElsewhere) {
  CandidateContent content = PagedContent();
  CandidateLayout layout;
  layout.paging = true;
  layout.items = {{10, 5, 100, 30}, {10, 30, 100, 55}, {10, 55, 100, 80}};
  layout.previous_page = {120, 0, 150, 42};
  layout.next_page = {120, 42, 150, 85};
  // Page 0 has no previous page: the click does nothing.
  EXPECT_EQ(ClickCommand(content, layout, 130, 10), std::nullopt);
  EXPECT_EQ(ClickCommand(content, layout, 130, 60), (PointerCommand{ServerCommand::ChangePage, 1}));
  content.reply.page_number = 2;
  content.reply.last_page = 1;
  EXPECT_EQ(ClickCommand(content, layout, 150, 0), (PointerCommand{ServerCommand::ChangePage, -1}));
  EXPECT_EQ(ClickCommand(content, layout, 130, 60), std::nullopt);
  // Edges of a row count as inside it.
  EXPECT_EQ(ClickCommand(content, layout, 100, 30),
            (PointerCommand{ServerCommand::SelectCandidate, 0}));
  EXPECT_EQ(ClickCommand(content, layout, 50, 31),
            (PointerCommand{ServerCommand::SelectCandidate, 1}));
  EXPECT_EQ(ClickCommand(content, layout, 5, 31), std::nullopt);
  content.reply.candidate_count = 2;  // a rectangle without a row
  EXPECT_EQ(ClickCommand(content, layout, 50, 70), std::nullopt);

  content.panel_mode = true;
  content.panel_rows = {{"a", ""}, {"b", ""}, {"c", ""}};
  EXPECT_EQ(ClickCommand(content, layout, 130, 60), std::nullopt);  // panels do not page
  EXPECT_EQ(ClickCommand(content, layout, 50, 70),
            (PointerCommand{ServerCommand::SelectPanelRow, 2}));

  EXPECT_EQ(WheelCommand(120), (PointerCommand{ServerCommand::ChangePage, -1}));
  EXPECT_EQ(WheelCommand(-1), (PointerCommand{ServerCommand::ChangePage, 1}));
}

// ---- a real window on a private X server ----

struct Posted {
  ServerCommand command;
  int32_t value;
  uint64_t context_id;
  uint64_t nonce;
};

class CommandRecorder {
 public:
  ServerCommandPoster Poster() {
    return [this](ServerCommand command, int32_t value, uint64_t context_id, uint64_t nonce) {
      std::lock_guard lock(mutex_);
      posted_.push_back({command, value, context_id, nonce});
    };
  }
  std::vector<Posted> Snapshot() {
    std::lock_guard lock(mutex_);
    return posted_;
  }
  bool WaitForCount(size_t count) {
    return testing::WaitUntil([&] { return Snapshot().size() >= count; });
  }

 private:
  std::mutex mutex_;
  std::vector<Posted> posted_;
};

struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool viewable = false;
};

class CandidateWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new testing::PrivateXServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_->name().empty()) GTEST_SKIP() << "no X server";
    // A busy server can refuse a connection for a moment.
    testing::WaitUntil(
        [&] { return (display_ = XOpenDisplay(server_->name().c_str())) != nullptr; });
    ASSERT_NE(display_, nullptr);
    settings_ = settings_dir_.path() / "gtk-3.0" / "settings.ini";
  }
  void TearDown() override {
    window_.reset();
    if (display_) XCloseDisplay(display_);
  }

  void Open(std::function<bool()> graphics_available = nullptr,
            ColorSchemeSources color_scheme = {"none", false}) {
    CandidateWindowOptions options;
    // Never the desktop session the tests happen to run in.
    options.color_scheme = std::move(color_scheme);
    options.builtin_themes_dir = kShippedThemes;
    options.user_themes_dir = user_themes_.path();
    options.poster = recorder_.Poster();
    options.display_name = server_->name();
    options.desktop_settings = settings_;
    options.graphics_available = std::move(graphics_available);
    window_ = CandidateWindow::Create(std::move(options));
    ASSERT_NE(window_, nullptr);
  }

  static PipeResponse Reply(std::vector<std::string> texts, uint32_t highlighted = 0) {
    PipeResponse reply = EmptyReply();
    reply.kind = static_cast<uint16_t>(ReplyKind::State);
    reply.context_id = 77;
    reply.session_nonce = 0x1234567890ULL;
    reply.candidate_count = static_cast<uint32_t>(texts.size());
    reply.page_size = reply.candidate_count;
    reply.highlighted = highlighted;
    reply.menu_count = 1;
    reply.last_page = 1;
    for (size_t i = 0; i < texts.size(); ++i) CopyTextField(reply.candidates[i].text, texts[i]);
    return reply;
  }

  Geometry WindowGeometry() {
    XWindowAttributes attributes{};
    Geometry g;
    if (XGetWindowAttributes(display_, window_->WindowId(), &attributes)) {
      g = {attributes.x, attributes.y, attributes.width, attributes.height,
           attributes.map_state == IsViewable};
    }
    return g;
  }

  bool WaitShown() {
    window_->Sync();
    return testing::WaitUntil([&] { return window_->Visible() && WindowGeometry().viewable; });
  }

  // The whole window as the X server shows it, saved as PNG for people to look at.
  void SaveScreenshot(const std::filesystem::path& path) {
    const Geometry g = WindowGeometry();
    XImage* image = XGetImage(display_, window_->WindowId(), 0, 0, static_cast<unsigned>(g.width),
                              static_cast<unsigned>(g.height), AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.width, g.height);
    unsigned char* data = cairo_image_surface_get_data(png);
    for (int y = 0; y < g.height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(data + y * cairo_image_surface_get_stride(png));
      for (int x = 0; x < g.width; ++x) row[x] = static_cast<uint32_t>(XGetPixel(image, x, y));
    }
    cairo_surface_mark_dirty(png);
    EXPECT_EQ(cairo_surface_write_to_png(png, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(png);
    XDestroyImage(image);
  }

  // The window's pixel as 0xRRGGBB.
  uint32_t Pixel(int x, int y) {
    XImage* image = XGetImage(display_, window_->WindowId(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xDEADBEEF;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return static_cast<uint32_t>(pixel & 0xFFFFFF);
  }

  static uint32_t Rgb(const StyleColor& c) {
    auto byte = [](float v) { return static_cast<uint32_t>(std::lround(v * 255)); };
    return (byte(c.r) << 16) | (byte(c.g) << 8) | byte(c.b);
  }

  bool MoveTo(int x, int y) {
    return testing::XDoTool(server_->name(),
                            "mousemove " + std::to_string(x) + " " + std::to_string(y));
  }

  static testing::PrivateXServer* server_;
  Display* display_ = nullptr;
  TempDir settings_dir_;
  TempDir user_themes_;
  std::filesystem::path settings_;
  CommandRecorder recorder_;
  std::unique_ptr<CandidateWindow> window_;
};

testing::PrivateXServer* CandidateWindowTest::server_ = nullptr;

// Native metrics: insets 14 x 6, rows 31 high.
constexpr int kInsetX = 14;
constexpr int kInsetY = 6;
constexpr int kRowHeight = 31;

TEST_F(CandidateWindowTest, ShowsBelowTheCaretDrawsTheThemeAndHides) {
  Open();
  window_->SetTheme("native", false, "");
  window_->ShowReply(Reply({"中文", "輸入", "候選"}, 1));
  window_->SetAnchor({300, 200, 302, 220}, true);
  ASSERT_TRUE(WaitShown());
  Geometry g = WindowGeometry();
  EXPECT_EQ(g.x, 300);
  EXPECT_EQ(g.y, 226);
  EXPECT_EQ(g.height, kInsetY + 3 * kRowHeight + kInsetY);

  const CandidateStyle style = window_->Style();
  EXPECT_EQ(style.theme_id, "native");
  // The second row is highlighted; the first is on the row background; right of the text
  // nothing is drawn.
  const int right = g.width - kInsetX - 4;
  EXPECT_EQ(Pixel(right, kInsetY + kRowHeight + kRowHeight / 2),
            Rgb(style.hilited_candidate_back_color));
  EXPECT_EQ(Pixel(right, kInsetY + kRowHeight / 2), Rgb(style.candidate_back_color));
  // Ink where the first row's text is.
  int ink = 0;
  for (int y = kInsetY; y < kInsetY + kRowHeight; ++y) {
    for (int x = kInsetX + 34; x < kInsetX + 34 + 34; ++x) {
      if ((Pixel(x, y) & 0xFF) < 0x80) ++ink;
    }
  }
  EXPECT_GT(ink, 30);
  SaveScreenshot(std::filesystem::path(KAVI_BINARY_DIR) / "candidate-window-screenshot.png");

  window_->ShowReply(Reply({}));
  window_->Sync();
  EXPECT_FALSE(window_->Visible());
  EXPECT_TRUE(testing::WaitUntil([&] { return !WindowGeometry().viewable; }));

  window_->ShowReply(Reply({"再次"}));
  ASSERT_TRUE(WaitShown());
  window_->ClearContent();
  window_->Sync();
  EXPECT_FALSE(window_->Visible());
  // Content without an anchor stays hidden; an inverted caret too.
  window_->ShowReply(Reply({"再次"}));
  window_->Sync();
  EXPECT_FALSE(window_->Visible());
  window_->SetAnchor({300, 220, 302, 200}, true);
  window_->Sync();
  EXPECT_FALSE(window_->Visible());
}

// What the X server records as drawn on a window: each frame the window sends shows up as
// damage, as a compositor would see it.
class DamageRecorder {
 public:
  DamageRecorder(Display* display, Window window) : display_(display) {
    int error = 0;
    if (XDamageQueryExtension(display, &event_base_, &error)) {
      damage_ = XDamageCreate(display, window, XDamageReportRawRectangles);
    }
    XSync(display, False);
  }
  ~DamageRecorder() {
    if (damage_) XDamageDestroy(display_, damage_);
  }
  bool ok() const { return damage_ != 0; }
  // The rectangles drawn since the last call.
  std::vector<XRectangle> Take() {
    XSync(display_, False);
    std::vector<XRectangle> drawn;
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == event_base_ + XDamageNotify) {
        drawn.push_back(reinterpret_cast<XDamageNotifyEvent*>(&event)->area);
      }
    }
    return drawn;
  }

 private:
  Display* display_;
  int event_base_ = 0;
  Damage damage_ = 0;
};

TEST_F(CandidateWindowTest, SendsOnlyWhatChangedAndOneFrameForABurst) {
  Open();
  window_->SetTheme("native", false, "");
  window_->ShowReply(Reply({"中文", "輸入", "候選"}, 0));
  window_->SetAnchor({300, 200, 302, 220}, true);
  ASSERT_TRUE(WaitShown());
  // Xvfb is local: frames travel through shared memory.
  EXPECT_TRUE(window_->SharedMemoryFrames());
  DamageRecorder damage(display_, window_->WindowId());
  ASSERT_TRUE(damage.ok());
  const Geometry g = WindowGeometry();
  // The first frame, and its repeat for the window's first exposure.
  window_->Sync();
  damage.Take();

  // The same reply again: nothing is drawn or sent.
  window_->ShowReply(Reply({"中文", "輸入", "候選"}, 0));
  window_->SetAnchor({300, 200, 302, 220}, true);
  window_->Sync();
  EXPECT_TRUE(damage.Take().empty());

  // The highlight moves from the first row to the second: those two rows only.
  window_->ShowReply(Reply({"中文", "輸入", "候選"}, 1));
  window_->Sync();
  std::vector<XRectangle> drawn = damage.Take();
  ASSERT_FALSE(drawn.empty());
  for (const XRectangle& r : drawn) {
    EXPECT_GE(r.y, kInsetY - 1);
    EXPECT_LE(r.y + r.height, kInsetY + 2 * kRowHeight + 1) << "reaches the third row";
    EXPECT_LT(r.width * r.height, g.width * g.height / 2);
  }
  EXPECT_EQ(Pixel(g.width - kInsetX - 4, kInsetY + kRowHeight + kRowHeight / 2),
            Rgb(window_->Style().hilited_candidate_back_color));

  // Replies every 2 ms for 80 ms, faster than a screen shows frames (every 16.7 ms at 60 Hz):
  // a handful of frames, the last reply on screen.
  const uint64_t frames_before = window_->FramesSent();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {
    window_->ShowReply(Reply({"詞" + std::to_string(i), "輸入", "候選"}, i == 39 ? 2 : 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  window_->Sync();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  const int frames = static_cast<int>(window_->FramesSent() - frames_before);
  EXPECT_FALSE(damage.Take().empty());
  EXPECT_GE(frames, 1);
  EXPECT_LE(frames, elapsed.count() / 16 + 3) << "in " << elapsed.count() << " ms";
  EXPECT_EQ(Pixel(g.width - kInsetX - 4, kInsetY + 2 * kRowHeight + kRowHeight / 2),
            Rgb(window_->Style().hilited_candidate_back_color));
}

TEST_F(CandidateWindowTest, ClickOnTheSecondRowSelectsItAndHoverReportsChanges) {
  Open();
  window_->SetTheme("native", false, "");
  window_->ShowReply(Reply({"中文", "輸入", "候選"}));
  window_->SetAnchor({400, 300, 402, 320}, true);
  ASSERT_TRUE(WaitShown());
  const Geometry g = WindowGeometry();
  const int x = g.x + g.width / 2;
  auto row_y = [&](int row, int offset) { return g.y + kInsetY + row * kRowHeight + offset; };

  // Back and forth over two rows, with several moves inside each.
  ASSERT_TRUE(MoveTo(x, row_y(0, 10)));
  ASSERT_TRUE(MoveTo(x + 5, row_y(0, 20)));
  ASSERT_TRUE(MoveTo(x, row_y(1, 10)));
  ASSERT_TRUE(MoveTo(x + 7, row_y(1, 12)));
  ASSERT_TRUE(MoveTo(x, row_y(0, 15)));
  ASSERT_TRUE(MoveTo(x, row_y(1, 15)));
  ASSERT_TRUE(testing::XDoTool(server_->name(), "click 1"));
  ASSERT_TRUE(recorder_.WaitForCount(5));
  const std::vector<Posted> posted = recorder_.Snapshot();
  ASSERT_EQ(posted.size(), 5u);
  const std::pair<ServerCommand, int> expected[] = {{ServerCommand::HighlightCandidate, 0},
                                                    {ServerCommand::HighlightCandidate, 1},
                                                    {ServerCommand::HighlightCandidate, 0},
                                                    {ServerCommand::HighlightCandidate, 1},
                                                    {ServerCommand::SelectCandidate, 1}};
  for (size_t i = 0; i < posted.size(); ++i) {
    EXPECT_EQ(posted[i].command, expected[i].first) << i;
    EXPECT_EQ(posted[i].value, expected[i].second) << i;
    EXPECT_EQ(posted[i].context_id, 77u);
    EXPECT_EQ(posted[i].nonce, 0x1234567890ULL);
  }

  // The wheel pages: away from the user is back.
  ASSERT_TRUE(testing::XDoTool(server_->name(), "click 4"));
  ASSERT_TRUE(testing::XDoTool(server_->name(), "click 5"));
  ASSERT_TRUE(recorder_.WaitForCount(7));
  const std::vector<Posted> wheel = recorder_.Snapshot();
  EXPECT_EQ(wheel[5].command, ServerCommand::ChangePage);
  EXPECT_EQ(wheel[5].value, -1);
  EXPECT_EQ(wheel[6].value, 1);
}

TEST_F(CandidateWindowTest, ExpandedPanelRowsAnswerWithPanelCommands) {
  Open();
  window_->SetTheme("native", true, "");
  window_->ShowReply(Reply({"中文"}));
  window_->SetAnchor({100, 100, 102, 120}, true);
  std::vector<PanelItem> rows;
  for (int i = 0; i < 30; ++i) rows.push_back({"詞" + std::to_string(i), ""});
  window_->ShowExpandedPanel(rows, 99, 10, true);
  ASSERT_TRUE(WaitShown());
  const Geometry g = WindowGeometry();
  EXPECT_EQ(g.height, kInsetY + 3 * kRowHeight + kInsetY);
  // Row 13: line 1, column 3; cells are (width - 2 x0) / 10 wide.
  const double cell = (g.width - 2.0 * kInsetX) / 10;
  const int x = g.x + kInsetX + static_cast<int>(3.5 * cell);
  const int y = g.y + kInsetY + kRowHeight + kRowHeight / 2;
  // The highlight was clamped to the last row.
  const CandidateStyle style = window_->Style();
  EXPECT_EQ(Pixel(kInsetX + static_cast<int>(9.5 * cell), kInsetY + 2 * kRowHeight + 3),
            Rgb(style.hilited_candidate_back_color));
  ASSERT_TRUE(MoveTo(x, y));
  ASSERT_TRUE(testing::XDoTool(server_->name(), "click 1"));
  ASSERT_TRUE(recorder_.WaitForCount(2));
  std::vector<Posted> posted = recorder_.Snapshot();
  EXPECT_EQ(posted[0].command, ServerCommand::HighlightPanelRow);
  EXPECT_EQ(posted[0].value, 13);
  EXPECT_EQ(posted[1].command, ServerCommand::SelectPanelRow);
  EXPECT_EQ(posted[1].value, 13);

  window_->SetPanelHighlight(2);
  window_->Sync();
  EXPECT_EQ(Pixel(kInsetX + static_cast<int>(2.5 * cell), kInsetY + 3),
            Rgb(style.hilited_candidate_back_color));
  window_->ClearExpandedPanel();
  window_->Sync();
  EXPECT_EQ(WindowGeometry().height, kInsetY + kRowHeight + kInsetY);  // back to the reply
}

TEST_F(CandidateWindowTest, PreviewShowsASampleIgnoresClicksAndEndsAfterThreeSeconds) {
  Open();
  window_->SetTheme("native", true, "");
  window_->PreviewTheme("ink_wash", true, {200, 200, 202, 220});
  ASSERT_TRUE(WaitShown());
  EXPECT_EQ(window_->Style().theme_id, "ink_wash");
  const Geometry g = WindowGeometry();
  EXPECT_EQ(g.y, 226);
  ASSERT_TRUE(MoveTo(g.x + 40, g.y + g.height / 2));
  ASSERT_TRUE(testing::XDoTool(server_->name(), "click 1"));
  XSync(display_, False);
  window_->Sync();
  EXPECT_TRUE(recorder_.Snapshot().empty());
  EXPECT_TRUE(testing::WaitUntil([&] { return !window_->Visible(); }, 10000));
}

// Light to dark, through the desktop's colour-scheme preference (the settings portal) and
// through GTK's settings.ini when the desktop states none.
TEST_F(CandidateWindowTest, FollowsTheDesktopDarkPreference) {
  CandidateStyle dark_native;
  ResetToBaseStyle(true, &dark_native);
  ASSERT_TRUE(LoadThemeFile(kShippedThemes, "native", true, &dark_native, nullptr));
  for (bool portal : {true, false}) {
    testing::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().empty());
    testing::FakeSettingsPortal settings_portal(bus.address(), 0);
    ASSERT_TRUE(settings_portal.ok());
    std::filesystem::remove(settings_);
    Open(nullptr, {bus.address(), false});
    window_->SetTheme("native", true, "");
    window_->ShowReply(Reply({"中文"}));
    window_->SetAnchor({500, 500, 502, 520}, true);
    ASSERT_TRUE(WaitShown());
    EXPECT_NE(window_->Style().back_color, dark_native.back_color);

    if (portal) {
      settings_portal.Set(1);
    } else {
      settings_dir_.Write(
          "gtk-3.0/settings.ini.tmp",
          "[Settings]\ngtk-theme-name=Adwaita\ngtk-application-prefer-dark-theme=1\n");
      std::filesystem::rename(settings_.string() + ".tmp", settings_);
    }
    ASSERT_TRUE(testing::WaitUntil([&] {
      return window_->Style().back_color == dark_native.back_color;
    })) << (portal ? "portal" : "settings.ini");
    // Above the rows, inside the border: the dark background, once the window has redrawn.
    uint32_t pixel = 0;
    EXPECT_TRUE(testing::WaitUntil([&] {
      window_->Sync();
      return (pixel = Pixel(WindowGeometry().width / 2, 4)) == Rgb(dark_native.back_color);
    })) << std::hex
        << pixel;
    if (portal) {
      // A stated light preference wins over settings.ini.
      settings_dir_.Write("gtk-3.0/settings.ini",
                          "[Settings]\ngtk-application-prefer-dark-theme=1\n");
      settings_portal.Set(2);
      EXPECT_TRUE(testing::WaitUntil(
          [&] { return window_->Style().back_color != dark_native.back_color; }));
    }
    window_.reset();
  }
}

// Where the preference comes from: the portal and its changes; GSettings when no portal
// answers; settings.ini when neither states one.
TEST(DesktopColorSchemeTest, PortalThenGSettingsThenSettingsIni) {
  testing::PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  TempDir dir;
  const std::filesystem::path ini =
      dir.Write("settings.ini", "[Settings]\ngtk-application-prefer-dark-theme=true\n");
  {
    testing::FakeSettingsPortal portal(bus.address(), 1);
    ASSERT_TRUE(portal.ok());
    std::atomic<int> changes{0};
    DesktopColorScheme scheme({bus.address(), true}, [&] { ++changes; });
    const std::pair<uint32_t, ColorScheme> steps[] = {{1, ColorScheme::kPreferDark},
                                                      {2, ColorScheme::kPreferLight},
                                                      {0, ColorScheme::kNoPreference}};
    for (auto [value, expected] : steps) {
      if (value != 1) portal.Set(value);
      EXPECT_TRUE(testing::WaitUntil([&] { return scheme.Current() == expected; })) << value;
    }
    EXPECT_EQ(changes.load(), 3);
  }
  EXPECT_TRUE(DesktopPrefersDark(ColorScheme::kNoPreference, ini));
  EXPECT_FALSE(DesktopPrefersDark(ColorScheme::kPreferLight, ini));
  EXPECT_FALSE(DesktopPrefersDark(ColorScheme::kNoPreference, dir.path() / "absent.ini"));
  EXPECT_TRUE(DesktopPrefersDark(ColorScheme::kPreferDark, dir.path() / "absent.ini"));

  // No portal on the bus: GSettings (this process's memory backend stands in for dconf).
  setenv("GSETTINGS_BACKEND", "memory", 1);
  GSettingsSchema* schema = g_settings_schema_source_lookup(g_settings_schema_source_get_default(),
                                                            "org.gnome.desktop.interface", TRUE);
  ASSERT_NE(schema, nullptr) << "gsettings-desktop-schemas is not installed";
  g_settings_schema_unref(schema);
  GSettings* settings = g_settings_new("org.gnome.desktop.interface");
  g_settings_set_string(settings, "color-scheme", "prefer-dark");
  {
    DesktopColorScheme scheme({bus.address(), true}, nullptr);
    EXPECT_TRUE(testing::WaitUntil([&] { return scheme.Current() == ColorScheme::kPreferDark; }));
    g_settings_set_string(settings, "color-scheme", "prefer-light");
    EXPECT_TRUE(testing::WaitUntil([&] { return scheme.Current() == ColorScheme::kPreferLight; }));
  }
  {
    DesktopColorScheme scheme({bus.address(), false}, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(scheme.Current(), ColorScheme::kNoPreference);
  }
  g_object_unref(settings);
}

TEST_F(CandidateWindowTest, ShowsTheNoticeWhileGraphicsAreMissingAndRecovers) {
  std::atomic<bool> available{false};
  ::testing::internal::CaptureStderr();
  Open([&] { return available.load(); });
  window_->SetTheme("native", true, "");
  window_->ShowReply(Reply({"中文"}));
  window_->SetAnchor({600, 300, 602, 320}, true);
  ASSERT_TRUE(WaitShown());
  window_->Sync();
  // The notice: white, whatever the theme says.
  EXPECT_EQ(Pixel(2, 2), 0xFFFFFFu);
  available = true;
  const uint32_t back = Rgb(window_->Style().back_color);
  EXPECT_TRUE(
      testing::WaitUntil([&] { return Pixel(WindowGeometry().width - kInsetX - 2, 3) == back; }));
  const std::string log = ::testing::internal::GetCapturedStderr();
  const std::string line = "[Kavi] 候選窗圖形工廠初始化失敗，將自動重試\n";
  ASSERT_NE(log.find(line), std::string::npos);
  EXPECT_EQ(log.find(line), log.rfind(line)) << "logged more than once:\n" << log;
}

TEST_F(CandidateWindowTest, ScalesWithXftDpiAndFollowsItsChange) {
  Open();
  window_->SetTheme("native", false, "");
  window_->ShowReply(Reply({"中文"}));
  window_->SetAnchor({700, 300, 702, 320}, true);
  ASSERT_TRUE(WaitShown());
  EXPECT_EQ(WindowGeometry().height, kInsetY + kRowHeight + kInsetY);
  const Window root = DefaultRootWindow(display_);
  const Atom resources = XInternAtom(display_, "RESOURCE_MANAGER", False);
  const std::string dpi = "Xft.antialias:\t1\nXft.dpi:\t144\n";
  XChangeProperty(display_, root, resources, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(dpi.data()), static_cast<int>(dpi.size()));
  XFlush(display_);
  const bool scaled = testing::WaitUntil([&] { return WindowGeometry().height == 64; });
  const Geometry g = WindowGeometry();
  XDeleteProperty(display_, root, resources);
  XFlush(display_);
  ASSERT_TRUE(scaled) << g.height;  // 43 DIPs at 150%
  EXPECT_EQ(g.y, 320 + 9);
  EXPECT_TRUE(testing::WaitUntil([&] { return WindowGeometry().height == 43; }));
}

TEST_F(CandidateWindowTest, OversizedBackgroundImageFallsBackToTheThemeColourOnce) {
  Open();
  const std::filesystem::path image = settings_dir_.path() / "wide.png";
  cairo_surface_t* wide = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 10000, 100);
  cairo_surface_write_to_png(wide, image.c_str());
  cairo_surface_destroy(wide);
  ::testing::internal::CaptureStderr();
  window_->SetTheme("native", true, image.string());
  window_->ShowReply(Reply({"中文"}));
  window_->SetAnchor({700, 300, 702, 320}, true);
  ASSERT_TRUE(WaitShown());
  window_->SetTheme("native", true, image.string());
  window_->Sync();
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(log, "[Kavi] 候選窗背景圖片載入失敗，降級使用主題底色\n");
  EXPECT_EQ(Pixel(WindowGeometry().width / 2, 4), Rgb(window_->Style().back_color));
}

TEST_F(CandidateWindowTest, OperationsFromManyThreadsSettleOnTheLastState) {
  Open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 150; ++i) {
        window_->ShowReply(Reply({"甲", "乙", "丙"}, static_cast<uint32_t>(i % 3)));
        window_->SetAnchor({100 + i, 100, 102 + i, 120}, true);
        if (i % 10 == t) window_->ShowExpandedPanel({{"子", ""}, {"丑", ""}}, 1, 2, true);
        window_->SetPanelHighlight(i % 2);
        if (i % 10 == 5) window_->ClearExpandedPanel();
        if (i % 50 == t) window_->SetTheme(t % 2 ? "pine" : "native", t % 2 == 0, "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  window_->SetTheme("native", false, "");
  window_->ClearExpandedPanel();
  window_->ShowReply(Reply({"甲", "乙"}));
  window_->SetAnchor({900, 500, 902, 520}, true);
  ASSERT_TRUE(WaitShown());
  const Geometry g = WindowGeometry();
  EXPECT_EQ(g.x, 900);
  EXPECT_EQ(g.y, 526);
  EXPECT_EQ(g.height, kInsetY + 2 * kRowHeight + kInsetY);
}

TEST(CandidateWindowAbsentTest, NoDisplayMeansNoWindowAndOneLogLine) {
  CandidateWindowOptions options;
  options.display_name = ":4095";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CandidateWindow::Create(options), nullptr);
  EXPECT_EQ(CandidateWindow::Create(options), nullptr);
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(log, "[Kavi] 無法連線到 X 顯示，候選窗停用\n");
}

}  // namespace
}  // namespace kavi::win
