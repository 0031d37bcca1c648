// SPDX-License-Identifier: Apache-2.0
// The candidate window of a running server on a private X display: it appears under the caret,
// and clicks and hovering reach the typing client as server commands.
// gtest first: Xlib's macros (None, Bool) would break its headers.
#include "tests/e2e/server_process.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "tests/candidate/x_server.h"

// Xlib's event names shadow the request kinds of the same name.
#undef FocusIn
#undef FocusOut

namespace kavi::win::testing {
namespace {

struct WindowGeometry {
  unsigned long id = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0;
};

// The mapped candidate window of the display, found by its class.
std::optional<WindowGeometry> FindCandidateWindow(Display* display) {
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<WindowGeometry> found;
  for (unsigned i = 0; i < count && !found; ++i) {
    XClassHint hint{};
    if (!XGetClassHint(display, children[i], &hint)) continue;
    bool ours = hint.res_class && std::string(hint.res_class) == "kavi-candidate";
    XFree(hint.res_name);
    XFree(hint.res_class);
    XWindowAttributes attributes;
    if (!ours || !XGetWindowAttributes(display, children[i], &attributes) ||
        attributes.map_state != IsViewable)
      continue;
    found = WindowGeometry{children[i], attributes.x, attributes.y,
                           static_cast<unsigned>(attributes.width),
                           static_cast<unsigned>(attributes.height)};
  }
  if (children) XFree(children);
  return found;
}

// Polls until the server has a command for this client; returns (code, value).
std::optional<std::pair<uint32_t, uint32_t>> PollCommand(KaviClient& client) {
  for (int i = 0; i < 300; ++i) {
    auto reply = client.Send(RequestKind::PollAsync, 1);
    if (reply && reply->kind == static_cast<uint16_t>(ReplyKind::State) && reply->status_code)
      return std::make_pair(+reply->status_code, +reply->value);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

TEST(CandidateWindowEndToEnd, AppearsUnderTheCaretAndClicksComeBackAsCommands) {
  PrivateXServer x;
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  // A vertical list, so that rows are stacked and easy to aim at.
  std::filesystem::create_directories(home.config_dir());
  ASSERT_EQ(home.Settings({"--set", "horizontal=false"}), 0);
  home.StartServer(x.name());
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.name().c_str()),
                                                      XCloseDisplay);
  ASSERT_TRUE(display);
  // A failed request fails the test instead of ending the process.
  XSetErrorHandler([](Display*, XErrorEvent* e) {
    ADD_FAILURE() << "X error " << static_cast<int>(e->error_code) << " on request "
                  << static_cast<int>(e->request_code);
    return 0;
  });

  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  PipeRequest caret = MakeRequest(RequestKind::SetCaretRect);
  caret.context_id = 1;
  caret.rect = {400, 300, 402, 320};
  caret.argument = 1;
  ASSERT_TRUE(client.Transact(caret));
  PipeResponse state = Type(client, "nihao");
  ASSERT_GE(+state.candidate_count, 3u);

  std::optional<WindowGeometry> window;
  ASSERT_TRUE(WaitUntil([&] { return (window = FindCandidateWindow(display.get())).has_value(); }));
  EXPECT_GE(window->y, 320);  // below the caret rectangle
  EXPECT_LE(window->y, 340);
  EXPECT_NEAR(window->x, 400, 40);
  EXPECT_GT(window->height, 3 * 16u);

  // A screenshot of the window's area of the screen: it holds drawn content, not one flat
  // colour. (Reading the root keeps the depth of the screen whatever visual the popup has.)
  XImage* image = XGetImage(display.get(), DefaultRootWindow(display.get()), window->x, window->y,
                            window->width, window->height, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  std::set<unsigned long> colours;
  for (unsigned yy = 0; yy < window->height; yy += 2)
    for (unsigned xx = 0; xx < window->width; xx += 2) colours.insert(XGetPixel(image, xx, yy));
  XDestroyImage(image);
  EXPECT_GT(colours.size(), 10u);

  // Rows are stacked top to bottom: aim at the middle of the second of the shown rows.
  const int rows = static_cast<int>(state.candidate_count);
  const int row_height = static_cast<int>(window->height) / rows;
  const int cx = window->x + static_cast<int>(window->width) / 3;
  auto row_y = [&](int row) { return window->y + row * row_height + row_height / 2; };
  // Hover over row 2, back to row 1: one highlight command per change.
  ASSERT_TRUE(
      XDoTool(x.name(), "mousemove " + std::to_string(cx) + " " + std::to_string(row_y(2))));
  auto hover = PollCommand(client);
  ASSERT_TRUE(hover);
  EXPECT_EQ(hover->first, 3u);
  EXPECT_EQ(hover->second, 2u);
  ASSERT_TRUE(
      XDoTool(x.name(), "mousemove " + std::to_string(cx) + " " + std::to_string(row_y(1))));
  hover = PollCommand(client);
  ASSERT_TRUE(hover);
  EXPECT_EQ(hover->first, 3u);
  EXPECT_EQ(hover->second, 1u);
  // Small moves inside the same row change nothing.
  ASSERT_TRUE(XDoTool(x.name(),
                      "mousemove " + std::to_string(cx + 3) + " " + std::to_string(row_y(1) + 1)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto quiet = client.Send(RequestKind::PollAsync, 1);
  ASSERT_TRUE(quiet);
  EXPECT_EQ(+quiet->kind, static_cast<uint16_t>(ReplyKind::Ok));

  ASSERT_TRUE(XDoTool(x.name(), "click 1"));
  auto click = PollCommand(client);
  ASSERT_TRUE(click);
  EXPECT_EQ(click->first, 1u);
  EXPECT_EQ(click->second, 1u);

  // The client answers the command with the matching request: the second candidate commits.
  auto selected = client.Send(RequestKind::SelectCandidate, 1, click->second);
  ASSERT_TRUE(selected);
  EXPECT_EQ(Field(selected->commit_text), Field(state.candidates[1].text));
}

TEST(CandidateWindowEndToEnd, TheServerOutlivesItsDisplayAndTheWindowComesBackWithANewOne) {
  PrivateXServer x{PrivateXServer::FixedNumber{}};
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  const pid_t server = home.StartServer(x.name());
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  PipeRequest caret = MakeRequest(RequestKind::SetCaretRect);
  caret.context_id = 1;
  caret.rect = {400, 300, 402, 320};
  caret.argument = 1;
  ASSERT_TRUE(client.Transact(caret));
  ASSERT_GE(+Type(client, "ni").candidate_count, 1u);

  x.Kill();
  // Typing goes on without a display.
  PipeResponse state = Type(client, "hao");
  EXPECT_EQ(Field(state.preedit), "ni hao");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(server, 0), 0) << "the server died with its display";
  auto alive = client.Send(RequestKind::QueryServerPid);
  ASSERT_TRUE(alive);
  EXPECT_EQ(+alive->value, static_cast<uint32_t>(server));

  // A display appears again under the same name: the window returns to it.
  ASSERT_TRUE(x.Restart());
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.name().c_str()),
                                                      XCloseDisplay);
  ASSERT_TRUE(display);
  // Windows may come and go while the tree is read.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  std::optional<WindowGeometry> window;
  ASSERT_TRUE(WaitUntil(
      [&] {
        client.Transact(caret);
        Type(client, "a");
        client.SendKey(keys::kBackSpace, 0, 1);
        return (window = FindCandidateWindow(display.get())).has_value();
      },
      15000))
      << "the candidate window did not come back";
  EXPECT_GE(window->y, 320);
}

// kavi-client in a pseudo-terminal whose "terminal window" is a plain X window of the test:
// 80 x 24 cells of 10 x 20 pixels at (300, 200).
class TerminalSession {
 public:
  static constexpr int kLeft = 300, kTop = 200, kCellWidth = 10, kCellHeight = 20;

  TerminalSession(Display* display, ServerHome& home, const std::string& display_name) {
    window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), kLeft, kTop,
                                  80 * kCellWidth, 24 * kCellHeight, 0, 0, 0);
    XMapWindow(display, window_);
    XSync(display, False);
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    winsize size{24, 80, 80 * kCellWidth, 24 * kCellHeight};
    ::ioctl(master_, TIOCSWINSZ, &size);
    const int slave = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    std::vector<std::string> env = home.Environment(display_name);
    env.push_back("WINDOWID=" + std::to_string(window_));
    // A terminal's program reads its keys from the terminal too.
    pid_ = SpawnChild(ServerHome::Bin("kavi-client"),
                      {"--socket", home.socket().string(), "--no-start"}, env, slave, slave);
    ::close(slave);
    drain_ = std::thread([this] {
      char buffer[4096];
      while (::read(master_, buffer, sizeof buffer) > 0) {
      }
    });
  }
  ~TerminalSession() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(master_);
    drain_.join();
  }
  void Type(const std::string& keys) {
    for (char c : keys) {
      ASSERT_EQ(::write(master_, &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  }
  // The keys in one write, as a busy system may deliver what was typed in quick succession.
  void TypeAtOnce(const std::string& keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

 private:
  Window window_ = 0;
  int master_ = -1;
  pid_t pid_ = -1;
  std::thread drain_;
};

TEST(CandidateWindowEndToEnd, KaviClientInATerminalGetsTheWindowUnderItsCursorAfterARestartToo) {
  PrivateXServer x;
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  const pid_t first = home.StartServer(x.name());
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.name().c_str()),
                                                      XCloseDisplay);
  ASSERT_TRUE(display);
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  TerminalSession terminal(display.get(), home, x.name());
  // The preedit line is the terminal's third row; "ni" leaves the cursor in its fifth column.
  const int caret_x = TerminalSession::kLeft + (2 + 2) * TerminalSession::kCellWidth;
  const int caret_bottom = TerminalSession::kTop + 3 * TerminalSession::kCellHeight;
  terminal.Type("ni");
  // kavi-client tells the caret after each key's reply, so while keys arrive the window trails
  // the cursor by a cell: wait until it has come to the cell after "ni".
  std::optional<WindowGeometry> window;
  const auto window_at_caret = [&] {
    window = FindCandidateWindow(display.get());
    return window && std::abs(window->x - caret_x) <= TerminalSession::kCellWidth;
  };
  ASSERT_TRUE(WaitUntil(window_at_caret))
      << "no candidate window under kavi-client's cursor"
      << (window ? " (one at x " + std::to_string(window->x) + ")" : std::string());
  EXPECT_GE(window->y, caret_bottom);
  EXPECT_LE(window->y, caret_bottom + 12);

  // A new server: the client claims the focus and the caret again, and typing goes on.
  KaviClient housekeeping(home.Options());
  ASSERT_EQ(+housekeeping.Send(RequestKind::Shutdown)->kind, static_cast<uint16_t>(ReplyKind::Ok));
  ASSERT_EQ(home.Wait(first), 0);
  home.StartServer(x.name());
  ASSERT_TRUE(WaitUntil(
      [&] {
        // Escape (start over, whatever got through meanwhile) and the letters right after it:
        // the first letter is a key of its own, not the end of an escape sequence.
        terminal.TypeAtOnce("\x1bni");
        return WaitUntil(window_at_caret, 2000);
      },
      20000))
      << "kavi-client stopped typing after the server restarted"
      << (window ? " (a window at x " + std::to_string(window->x) + ")" : std::string());
  EXPECT_GE(window->y, caret_bottom);
}

// The candidate window of the display, mapped or not.
Window AnyCandidateWindow(Display* display) {
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    XClassHint hint{};
    if (!XGetClassHint(display, children[i], &hint)) continue;
    if (hint.res_class && std::string(hint.res_class) == "kavi-candidate") found = children[i];
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  if (children) XFree(children);
  return found;
}

TEST(CandidateWindowEndToEnd, TheActiveWindowsProcessIsFoundWithoutItsPidProperty) {
  PrivateXServer x;
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  home.StartServer(x.name());
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.name().c_str()),
                                                      XCloseDisplay);
  ASSERT_TRUE(display);
  Display* d = display.get();
  const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  auto activate = [&](Window window) {
    XChangeProperty(d, DefaultRootWindow(d), active, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&window), 1);
    XSync(d, False);
  };
  // A window of this test's own connection, without _NET_WM_PID: the X server knows whose it is.
  const Window own = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
  XMapWindow(d, own);
  activate(own);
  KaviClient client(home.Options());
  auto focus = client.Send(RequestKind::FocusIn, 1);
  ASSERT_TRUE(focus);
  EXPECT_EQ(+focus->kind, static_cast<uint16_t>(ReplyKind::State));
  // Another program's window is the active one: this client is in the background.
  const Window servers = AnyCandidateWindow(d);
  ASSERT_NE(servers, 0u);
  activate(servers);
  auto refused = client.Send(RequestKind::FocusIn, 1);
  ASSERT_TRUE(refused);
  EXPECT_EQ(+refused->kind, static_cast<uint16_t>(ReplyKind::Refused));
  // The server keeps its answer between keys; every switch must still be seen at the next one.
  for (int round = 0; round < 20; ++round) {
    const bool mine = round % 2 == 0;
    activate(mine ? own : servers);
    auto reply = client.Send(RequestKind::FocusIn, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(+reply->kind,
              static_cast<uint16_t>(mine ? ReplyKind::State : ReplyKind::Refused))
        << "round " << round;
  }
}

}  // namespace
}  // namespace kavi::win::testing
