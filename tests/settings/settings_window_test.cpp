// SPDX-License-Identifier: Apache-2.0
// The settings window as a user meets it: KaviSettings started with a display on a private
// Xvfb, found as a real X window, driven with xdotool, and read back through the files and a
// running KaviServer. With KAVI_SETTINGS_SHOTS=DIR it also leaves a picture of every page there
// (docs/settings/ is made this way).
// gtest first: Xlib's macros (None, Bool) would break its headers.
#include "tests/e2e/server_process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "tests/candidate/x_server.h"

#undef FocusIn

namespace kavi::win::testing {
namespace {

using DisplayPtr = std::unique_ptr<Display, int (*)(Display*)>;

struct FoundWindow {
  Window id = 0;
  std::string title;
  int x = 0, y = 0;
  unsigned width = 0, height = 0;
};

std::string WindowTitle(Display* display, Window window) {
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom name = XInternAtom(display, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data) XFree(data);
  return title;
}

// The viewable top-level windows whose title holds `part`.
std::vector<FoundWindow> FindWindows(Display* display, const std::string& part) {
  std::vector<FoundWindow> found;
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return found;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) ||
        attributes.map_state != IsViewable)
      continue;
    const std::string title = WindowTitle(display, children[i]);
    if (title.find(part) == std::string::npos) continue;
    found.push_back({children[i], title, attributes.x, attributes.y,
                     static_cast<unsigned>(attributes.width),
                     static_cast<unsigned>(attributes.height)});
  }
  if (children) XFree(children);
  return found;
}

struct Picture {
  size_t colours = 0;  // distinct colours (of every third pixel both ways)
  size_t hash = 0;     // of every pixel: equal for equal pictures
};

// The window's area of the screen, saved as a PNG when `png` is not empty.
Picture Capture(Display* display, const FoundWindow& window, const std::filesystem::path& png) {
  XImage* image = XGetImage(display, DefaultRootWindow(display), window.x, window.y, window.width,
                            window.height, AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_RGB24, static_cast<int>(window.width), static_cast<int>(window.height));
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  std::set<unsigned long> colours;
  Picture picture;
  for (unsigned y = 0; y < window.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
    for (unsigned x = 0; x < window.width; ++x) {
      row[x] = static_cast<uint32_t>(XGetPixel(image, static_cast<int>(x), static_cast<int>(y)) &
                                     0xFFFFFF);
      if (x % 3 == 0 && y % 3 == 0) colours.insert(row[x]);
      picture.hash = picture.hash * 1000003u + row[x];
    }
  }
  XDestroyImage(image);
  picture.colours = colours.size();
  cairo_surface_mark_dirty(surface);
  if (!png.empty()) cairo_surface_write_to_png(surface, png.c_str());
  cairo_surface_destroy(surface);
  return picture;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where screenshots go when they are wanted.
std::filesystem::path ShotsFolder() {
  const char* folder = std::getenv("KAVI_SETTINGS_SHOTS");
  return folder ? std::filesystem::path(folder) : std::filesystem::path();
}

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.name().empty());
    display_.reset(XOpenDisplay(x_.name().c_str()));
    ASSERT_TRUE(display_);
    std::filesystem::create_directories(home_.config_dir());
  }

  // Starts KaviSettings with a display; the window whose title holds `title` once it shows.
  std::optional<FoundWindow> Open(const std::vector<std::string>& args, const std::string& title,
                                  const std::vector<std::string>& extra_env = {}) {
    std::vector<std::string> all = {"--config-dir", home_.config_dir().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<std::string> env = home_.Environment(x_.name());
    env.push_back("GSK_RENDERER=cairo");
    env.push_back("GTK_A11Y=none");
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    settings_ = SpawnChild(ServerHome::Bin("KaviSettings"), all, env);
    EXPECT_GT(settings_, 0);
    std::optional<FoundWindow> window;
    WaitUntil(
        [&] {
          const std::vector<FoundWindow> found = FindWindows(display_.get(), title);
          if (!found.empty()) window = found.front();
          return window.has_value();
        },
        30000);
    return window;
  }

  // The window's place and size now (a window manager-less X moves it when it is placed).
  FoundWindow Now(FoundWindow window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_.get(), window.id, &attributes)) {
      window.x = attributes.x;
      window.y = attributes.y;
      window.width = static_cast<unsigned>(attributes.width);
      window.height = static_cast<unsigned>(attributes.height);
    }
    return window;
  }

  // Waits until the window has drawn more than a blank frame.
  bool Drawn(const FoundWindow& window) {
    return WaitUntil([&] { return Capture(display_.get(), Now(window), {}).colours > 20; }, 15000);
  }

  // Waits until the window has drawn and stays the same for a while: the server's answers are
  // in, and --key has put the keyboard on its control and scrolled the page to it.
  bool Settled(const FoundWindow& window) {
    size_t last = 0;
    int same = 0;
    return WaitUntil(
        [&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          const Picture now = Capture(display_.get(), Now(window), {});
          same = now.colours > 20 && now.hash == last ? same + 1 : 0;
          last = now.hash;
          return same >= 5;
        },
        15000);
  }

  void Shoot(const FoundWindow& window, const std::filesystem::path& png) {
    Settled(window);
    Capture(display_.get(), Now(window), png);
  }

  void Close() {
    if (settings_ <= 0) return;
    ::kill(settings_, SIGTERM);
    ::waitpid(settings_, nullptr, 0);
    settings_ = -1;
  }

  void TearDown() override { Close(); }

  // Gives the window the keyboard and presses keys in it.
  bool Keys(const FoundWindow& window, const std::string& keys) {
    const std::string id = std::to_string(window.id);
    return XDoTool(x_.name(), "windowfocus --sync " + id) &&
           XDoTool(x_.name(), "key --clearmodifiers " + keys);
  }

  PrivateXServer x_;
  DisplayPtr display_{nullptr, XCloseDisplay};
  ServerHome home_;
  pid_t settings_ = -1;
};

// Each page opens from its switch (the command line's page names open the window page that
// holds their keys), with the page's title in the window's.
TEST_F(SettingsWindowTest, EveryPageOpensFromItsSwitch) {
  struct Case {
    const char* page;
    const char* title;
    bool own_page;  // a window page of its own, pictured for the README
  };
  const Case cases[] = {
      {"input", "輸入 – 霜楓設定", true},      {"appearance", "外觀 – 霜楓設定", true},
      {"voice", "語音 – 霜楓設定", true},      {"account", "帳號 – 霜楓設定", true},
      {"dictionary", "詞庫 – 霜楓設定", true}, {"packs", "方案包 – 霜楓設定", true},
      {"network", "網路 – 霜楓設定", true},    {"about", "關於 – 霜楓設定", true},
      {"sound", "輸入 – 霜楓設定", false},     {"translate", "輸入 – 霜楓設定", false},
  };
  // A real server answers the pages' questions (the schemes, the voice models, ...).
  home_.StartServer(x_.name());
  const std::filesystem::path shots = ShotsFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    std::optional<FoundWindow> window = Open({std::string("--page=") + c.page}, c.title);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, c.title);
    EXPECT_TRUE(Drawn(*window));
    if (!shots.empty() && c.own_page) {
      Shoot(*window, shots / (std::string(c.page) + ".png"));
      Close();
      std::optional<FoundWindow> dark =
          Open({std::string("--page=") + c.page}, c.title, {"ADW_DEBUG_COLOR_SCHEME=prefer-dark"});
      ASSERT_TRUE(dark);
      EXPECT_TRUE(Drawn(*dark));
      Shoot(*dark, shots / (std::string(c.page) + "-dark.png"));
    }
    Close();
  }
}

// The command line stays the command line with a display: it prints and exits, no window.
TEST_F(SettingsWindowTest, SetGetAndListStayOnTheCommandLineWithADisplay) {
  std::vector<std::string> env = home_.Environment(x_.name());
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--config-dir", home_.config_dir().string()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = SpawnChild(ServerHome::Bin("KaviSettings"), all, env);
    int status = -1;
    for (int i = 0; i < 3000; ++i) {
      if (::waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -2;  // still running: it opened a window
  };
  EXPECT_EQ(run({"--set", "page_size=7"}), 0);
  EXPECT_EQ(run({"--get", "page_size"}), 0);
  EXPECT_EQ(run({"--list"}), 0);
  EXPECT_NE(run({"--set", "page_size=99"}), 0);
  EXPECT_TRUE(FindWindows(display_.get(), "霜楓設定").empty());
  EXPECT_NE(ReadFile(home_.config_dir() / "config.json").find("\"page_size\": 7"),
            std::string::npos)
      << ReadFile(home_.config_dir() / "config.json");
}

// A key pressed in the window reaches the file at once, and the running server's next State.
TEST_F(SettingsWindowTest, AChangeInTheWindowReachesTheRunningServer) {
  home_.StartServer(x_.name());
  KaviClient client(home_.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  PipeResponse state = Type(client, "shi");
  EXPECT_EQ(+state.page_size, 10u);
  client.SendKey(keys::kEscape, 0, 1);

  // --key=page_size puts the keyboard on the page size's spin button: Up makes it 11.
  std::optional<FoundWindow> window = Open({"--key=page_size"}, "輸入 – 霜楓設定");
  ASSERT_TRUE(window);
  ASSERT_TRUE(Settled(*window));
  ASSERT_TRUE(Keys(*window, "Up"));
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(home_.config_dir() / "config.json").find("\"page_size\": 11") !=
           std::string::npos;
  }));
  ASSERT_TRUE(WaitUntil(
      [&] {
        state = Type(client, "shi");
        client.SendKey(keys::kEscape, 0, 1);
        return state.page_size == 11;
      },
      15000));
  EXPECT_EQ(+state.candidate_count, 11u);
}

// The fuzzy sounds' switches write the user's pinyin options file.
TEST_F(SettingsWindowTest, AFuzzySoundSwitchWritesThePinyinOptions) {
  std::optional<FoundWindow> window = Open({"--key=fuzzy"}, "輸入 – 霜楓設定");
  ASSERT_TRUE(window);
  ASSERT_TRUE(Settled(*window));
  // The first switch (z = zh) has the keyboard.
  ASSERT_TRUE(Keys(*window, "space"));
  const std::filesystem::path file = home_.config_dir() / "pinyin.custom.yaml";
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(file).find("fuzzy: [zh_z]") != std::string::npos; }))
      << ReadFile(file);
}

// --translate-popup=X,Y opens the popup near that point.
TEST_F(SettingsWindowTest, TheTranslationPopupOpensNearItsPoint) {
  std::optional<FoundWindow> popup = Open({"--translate-popup=600,300"}, "翻譯");
  ASSERT_TRUE(popup);
  EXPECT_TRUE(Drawn(*popup));
  // Just below and right of the point.
  EXPECT_TRUE(WaitUntil([&] {
    *popup = Now(*popup);
    return popup->x > 600 && popup->x < 660 && popup->y > 300 && popup->y < 360;
  })) << popup->x
      << "," << popup->y;
  EXPECT_GT(popup->width, 200u);
  if (!ShotsFolder().empty()) Shoot(*popup, ShotsFolder() / "translate-popup.png");
}

}  // namespace
}  // namespace kavi::win::testing
