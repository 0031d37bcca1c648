// SPDX-License-Identifier: Apache-2.0
// The running server's floating toolbar on a private X display: it follows the client's focus,
// and its script button starts KaviSettings, whose change reaches the configuration.
// gtest first: Xlib's macros (None, Bool) would break its headers.
#include "tests/e2e/server_process.h"

#include <X11/Xlib.h>

#include <memory>

#include "tests/candidate/x_server.h"
#include "tests/common/temp_dir.h"

// Xlib's event names shadow the request kinds of the same name.
#undef FocusIn
#undef FocusOut

namespace kavi::win::testing {
namespace {

struct ToolbarWindow {
  bool viewable = false;
  int x = 0, y = 0;
};

// The toolbar, found by its title among the top-level windows.
ToolbarWindow FindToolbar(Display* display) {
  ToolbarWindow found;
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
    return found;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    if (!XFetchName(display, children[i], &name) || !name) continue;
    const bool toolbar = std::string(name) == "KaviToolbarWindow";
    XFree(name);
    XWindowAttributes attributes;
    if (toolbar && XGetWindowAttributes(display, children[i], &attributes)) {
      found.viewable = found.viewable || attributes.map_state == IsViewable;
      if (attributes.map_state == IsViewable) {
        found.x = attributes.x;
        found.y = attributes.y;
      }
    }
  }
  if (children) XFree(children);
  return found;
}

TEST(ToolbarEndToEnd, FollowsTheClientsFocusAndItsScriptButtonChangesTheSetting) {
  PrivateXServer x;
  ASSERT_FALSE(x.name().empty());
  ServerHome home;
  home.StartServer(x.name());
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.name().c_str()),
                                                      XCloseDisplay);
  ASSERT_TRUE(display);
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  EXPECT_FALSE(FindToolbar(display.get()).viewable) << "no client has the focus yet";

  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  ToolbarWindow toolbar;
  ASSERT_TRUE(WaitUntil([&] { return (toolbar = FindToolbar(display.get())).viewable; }));

  // The script button (简/正) sits at x 54 to 75 of the standard toolbar.
  ASSERT_TRUE(XDoTool(x.name(), "mousemove " + std::to_string(toolbar.x + 65) + " " +
                                    std::to_string(toolbar.y + 15) + " click 1"));
  ASSERT_TRUE(WaitUntil([&] {
    return ReadFile(home.config_dir() / "config.json").find("\"charset\": \"zht\"") !=
           std::string::npos;
  }));

  ASSERT_TRUE(client.Send(RequestKind::FocusOut, 1));
  EXPECT_TRUE(WaitUntil([&] { return !FindToolbar(display.get()).viewable; }));
}

}  // namespace
}  // namespace kavi::win::testing
