// SPDX-License-Identifier: Apache-2.0
// The foreground rule for framework bridges: the pure rule, the recognition of the installed
// bridge from a real process's executable, and sessions of a real server that apply it.
#include "server/session/foreground_rule.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

TEST(ForegroundRule, BridgePassesOnlyWhileItsContextHasTheFocus) {
  const struct {
    bool bridge, focused, owns_composition, owns_window, passes;
  } cases[] = {
      // Ordinary clients: the active window decides, nothing else.
      {false, false, false, true, true},
      {false, true, true, false, false},
      // The bridge: focused and still the owner.
      {true, true, true, false, true},
      {true, false, true, true, false},  // after its FocusOut
      {true, true, false, true, false},  // another client took the focus
      {true, false, false, false, false},
  };
  for (const auto& c : cases) {
    ForegroundRule rule(c.bridge);
    if (c.focused) rule.FocusGained();
    EXPECT_EQ(rule.Passes(c.owns_composition, [&] { return c.owns_window; }), c.passes)
        << c.bridge << c.focused << c.owns_composition << c.owns_window;
  }
  ForegroundRule bridge(true), client(false);
  EXPECT_TRUE(bridge.PassesFocusIn([] { return false; }));
  EXPECT_FALSE(client.PassesFocusIn([] { return false; }));
  EXPECT_TRUE(client.PassesFocusIn([] { return true; }));
  bridge.FocusGained();
  bridge.FocusLost();
  EXPECT_FALSE(bridge.Passes(true, [] { return true; }));
}

TEST(ForegroundRule, TheBridgeIsKnownByItsInstalledExecutable) {
  const TempDir temp;
  const std::filesystem::path folder = temp.path();
  const std::filesystem::path bridge = folder / "ibus-engine-kavi";
  std::filesystem::copy_file("/bin/sleep", bridge);
  pid_t child = fork();
  if (child == 0) {
    execl(bridge.c_str(), "ibus-engine-kavi", "30", nullptr);
    _exit(127);
  }
  ASSERT_GT(child, 0);
  std::optional<std::filesystem::path> exe;
  for (int i = 0; i < 200 && (!exe || exe->filename() != "ibus-engine-kavi"); ++i) {
    exe = ProcessExecutable(static_cast<uint32_t>(child));
    usleep(5000);
  }
  ASSERT_TRUE(exe);
  EXPECT_EQ(*exe, bridge);
  EXPECT_FALSE(ProcessIsTraced(static_cast<uint32_t>(child)));
  const struct {
    std::optional<std::filesystem::path> exe;
    bool traced;
    std::filesystem::path folder;
    bool bridge;
  } cases[] = {
      {exe, false, folder, true},
      {folder / "." / "ibus-engine-kavi", false, folder, true},
      {exe, true, folder, false},                      // under a debugger
      {exe, false, folder / "other", false},           // not the one beside this server
      {folder / "kavi-client", false, folder, false},  // another program of ours
      {std::nullopt, false, folder, false},            // unreadable
      {exe, false, "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsFrameworkBridge(c.exe, c.traced, c.folder), c.bridge)
        << (c.exe ? c.exe->string() : "-") << " " << c.folder;
  // A replaced executable no longer names the installed bridge.
  std::filesystem::remove(bridge);
  EXPECT_FALSE(ProcessExecutable(static_cast<uint32_t>(child)));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// Sessions of one server, where the window check never passes (the bridge's case: no window
// is its own) and sessions opened while `bridge_` is set are the installed bridge.
class BridgeSessions : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    services_.is_foreground = [this](uint32_t) { return window_owner_.load(); };
    services_.is_framework_bridge = [this](uint32_t) { return bridge_.load(); };
  }
  std::unique_ptr<KaviClient> Connect(bool bridge) {
    bridge_ = bridge;
    auto client = NewClient();
    EXPECT_TRUE(client->Connect());
    bridge_ = false;
    return client;
  }
  static uint16_t Kind(const std::optional<PipeResponse>& reply) { return reply ? reply->kind : 0; }
  std::atomic<bool> bridge_{false};
  std::atomic<bool> window_owner_{false};
};

TEST_F(BridgeSessions, BridgeTypesWhileFocusedAndBackgroundProcessesStayOut) {
  Fake().candidates = {{"你好", ""}};
  StartServer();
  auto bridge = Connect(true);
  auto background = Connect(false);

  // Before any focus the bridge is no foreground application.
  EXPECT_EQ(Kind(bridge->Send(RequestKind::QueryServerPid)), kRefused);
  ASSERT_EQ(Kind(bridge->Send(RequestKind::FocusIn, 3)), kState);
  auto typed = bridge->SendKey('n', 0, 3);
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->result, 1);
  EXPECT_EQ(Kind(bridge->Send(RequestKind::QueryServerPid)), kOk);

  // A background process of the same user gets nothing while the bridge has the focus.
  EXPECT_EQ(Kind(background->Send(RequestKind::FocusIn, 3)), kRefused);
  EXPECT_EQ(Kind(background->Send(RequestKind::QueryServerPid)), kRefused);
  EXPECT_EQ(Kind(background->Send(RequestKind::ToggleAsciiMode, 3)), kRefused);
  EXPECT_EQ(Fake().input, "n");

  // After the framework's FocusOut the bridge is background too.
  ASSERT_EQ(Kind(bridge->Send(RequestKind::FocusOut, 3)), kOk);
  EXPECT_EQ(Kind(bridge->Send(RequestKind::QueryServerPid)), kRefused);
  EXPECT_EQ(Kind(bridge->Send(RequestKind::ToggleAsciiMode, 3)), kRefused);

  // A window owner that takes the focus takes it from the bridge as well.
  ASSERT_EQ(Kind(bridge->Send(RequestKind::FocusIn, 3)), kState);
  window_owner_ = true;
  ASSERT_EQ(Kind(background->Send(RequestKind::FocusIn, 9)), kState);
  window_owner_ = false;
  EXPECT_EQ(Kind(bridge->Send(RequestKind::QueryServerPid)), kRefused);
  auto ignored = bridge->SendKey('a', 0, 3);
  ASSERT_TRUE(ignored);
  EXPECT_EQ(ignored->result, 0);
}

}  // namespace
}  // namespace kavi::win::testing
