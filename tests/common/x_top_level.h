// SPDX-License-Identifier: Apache-2.0
// The top-level windows of an X display, read through XCB. A window that goes away while it is
// being read is left out: through Xlib its BadWindow error would go to the process-wide error
// handler, whose default ends the test binary, and which GTK in the same process also claims.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace kavi::win::testing {

struct TopLevelWindow {
  uint32_t id = 0;
  std::string title;  // WM_NAME
  bool viewable = false;
  int x = 0, y = 0;  // on the root window
};

// An XCB reply, freed with free().
template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

inline std::vector<TopLevelWindow> TopLevelWindows(const std::string& display) {
  std::vector<TopLevelWindow> windows;
  int screen_number = 0;
  xcb_connection_t* c = xcb_connect(display.c_str(), &screen_number);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return windows;
  }
  xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && screen.rem > 0; ++i) xcb_screen_next(&screen);
  XcbReply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, screen.data->root), nullptr), &std::free);
  const int count = tree ? xcb_query_tree_children_length(tree.get()) : 0;
  const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
  for (int i = 0; i < count; ++i) {
    const xcb_window_t window = children[i];
    const auto name_cookie =
        xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const auto attributes_cookie = xcb_get_window_attributes(c, window);
    const auto geometry_cookie = xcb_get_geometry(c, window);
    XcbReply<xcb_get_property_reply_t> name(xcb_get_property_reply(c, name_cookie, nullptr),
                                            &std::free);
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributes_cookie, nullptr), &std::free);
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometry_cookie, nullptr),
                                                &std::free);
    if (!name || !attributes || !geometry) continue;  // gone meanwhile
    TopLevelWindow found;
    found.id = window;
    found.title.assign(static_cast<const char*>(xcb_get_property_value(name.get())),
                       xcb_get_property_value_length(name.get()));
    found.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    found.x = geometry->x;
    found.y = geometry->y;
    windows.push_back(std::move(found));
  }
  xcb_disconnect(c);
  return windows;
}

}  // namespace kavi::win::testing
