// SPDX-License-Identifier: Apache-2.0
// The running server's floating toolbar on a private X display: it follows the client's focus,
// and its script button starts KaviSettings, whose change reaches the configuration.
#include "tests/e2e/server_process.h"

#include <string>

#include "tests/candidate/x_server.h"
#include "tests/common/temp_dir.h"
#include "tests/common/x_top_level.h"

// Xlib's event names (from the X server helper) shadow the request kinds of the same name.
#undef FocusIn
#undef FocusOut

namespace kavi::win::testing {
namespace {

struct ToolbarWindow {
  bool viewable = false;
  int x = 0, y = 0;
};

// The toolbar, found by its title among the top-level windows.
ToolbarWindow FindToolbar(const std::string& display) {
  ToolbarWindow found;
  for (const TopLevelWindow& window : TopLevelWindows(display)) {
    if (window.title != "KaviToolbarWindow" || !window.viewable) continue;
    found.viewable = true;
    found.x = window.x;
    found.y = window.y;
  }
  return found;
}

TEST(ToolbarEndToEnd, FollowsTheClientsFocusAndItsScriptButtonChangesTheSetting) {
  PrivateXServer x;
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  home.StartServer(x.name());
  EXPECT_FALSE(FindToolbar(x.name()).viewable) << "no client has the focus yet";

  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  ToolbarWindow toolbar;
  ASSERT_TRUE(WaitUntil([&] { return (toolbar = FindToolbar(x.name())).viewable; }));

  // The script button (简/正) sits at x 54 to 75 of the standard toolbar.
  ASSERT_TRUE(XDoTool(x.name(), "mousemove " + std::to_string(toolbar.x + 65) + " " +
                                    std::to_string(toolbar.y + 15) + " click 1"));
  ASSERT_TRUE(WaitUntil([&] {
    return ReadFile(home.config_dir() / "config.json").find("\"charset\": \"zht\"") !=
           std::string::npos;
  }));

  ASSERT_TRUE(client.Send(RequestKind::FocusOut, 1));
  EXPECT_TRUE(WaitUntil([&] { return !FindToolbar(x.name()).viewable; }));
}

}  // namespace
}  // namespace kavi::win::testing
