// SPDX-License-Identifier: Apache-2.0
#include "platform/terminal_window.h"

#include "platform/x11_display.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace kavi::win {

struct TerminalWindow::Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = 0;
  xcb_window_t named_window = 0;  // from WINDOWID
  xcb_atom_t active_window = XCB_ATOM_NONE;
  ~Connection() {
    if (xcb) xcb_disconnect(xcb);
  }
};

namespace {

xcb_window_t ActiveWindow(xcb_connection_t* c, xcb_window_t root, xcb_atom_t property) {
  uint32_t window = 0;
  return ReadProperty32(c, root, property, XCB_ATOM_WINDOW, &window) ? window : 0;
}

}  // namespace

TerminalWindow::TerminalWindow() {
  auto c = std::make_unique<Connection>();
  c->xcb = ConnectToDisplay(&c->root);
  if (!c->xcb) return;
  if (const char* named = std::getenv("WINDOWID"))
    c->named_window = static_cast<xcb_window_t>(std::strtoul(named, nullptr, 10));
  c->active_window = InternAtom(c->xcb, "_NET_ACTIVE_WINDOW");
  connection_ = std::move(c);
}

TerminalWindow::~TerminalWindow() = default;

std::optional<TerminalCellArea> TerminalWindow::Cells() const {
  if (!connection_ || xcb_connection_has_error(connection_->xcb)) return std::nullopt;
  xcb_connection_t* c = connection_->xcb;
  const xcb_window_t window = connection_->named_window
                                  ? connection_->named_window
                                  : ActiveWindow(c, connection_->root, connection_->active_window);
  if (!window) return std::nullopt;
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  if (!geometry) return std::nullopt;
  const int width = geometry->width;
  const int height = geometry->height;
  std::free(geometry);
  xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, window, connection_->root, 0, 0), nullptr);
  if (!origin) return std::nullopt;
  TerminalCellArea area;
  area.left = origin->dst_x;
  area.top = origin->dst_y;
  std::free(origin);

  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
    return std::nullopt;
  // Terminals that report their pixel size give the exact cell; otherwise the window's size over
  // the grid is close (it also counts borders and scroll bars).
  const int pixels_x = size.ws_xpixel ? size.ws_xpixel : width;
  const int pixels_y = size.ws_ypixel ? size.ws_ypixel : height;
  area.cell_width = pixels_x / size.ws_col;
  area.cell_height = pixels_y / size.ws_row;
  if (area.cell_width <= 0 || area.cell_height <= 0) return std::nullopt;
  return area;
}

}  // namespace kavi::win
