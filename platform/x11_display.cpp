// SPDX-License-Identifier: Apache-2.0
#include "platform/x11_display.h"

#include <cstdlib>
#include <cstring>

namespace kavi::win {

bool XDisplayNamed() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

xcb_connection_t* ConnectToDisplay(xcb_window_t* root) {
  if (!XDisplayNamed()) return nullptr;
  const char* display = std::getenv("DISPLAY");
  int screen_number = 0;
  xcb_connection_t* c = xcb_connect(display, &screen_number);
  if (!c) return nullptr;
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return nullptr;
  }
  *root = it.data->root;
  return c;
}

xcb_atom_t InternAtom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

bool ReadProperty32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                    uint32_t* value) {
  if (property == XCB_ATOM_NONE) return false;
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1), nullptr);
  if (!reply) return false;
  const bool ok = reply->format == 32 && xcb_get_property_value_length(reply) >= 4;
  if (ok) std::memcpy(value, xcb_get_property_value(reply), 4);
  std::free(reply);
  return ok;
}

}  // namespace kavi::win
