#include "platform/foreground.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace kavi::win {

struct ForegroundProbe::Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t active_window = XCB_ATOM_NONE;
  xcb_atom_t wm_pid = XCB_ATOM_NONE;
  ~Connection() {
    if (xcb) xcb_disconnect(xcb);
  }
};

namespace {

xcb_atom_t InternAtom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  if (!reply) return XCB_ATOM_NONE;
  xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// Reads a single 32-bit value of a window property; false when absent.
bool ReadCardinal(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                  uint32_t* value) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, property, type, 0, 1), nullptr);
  if (!reply) return false;
  bool ok = reply->format == 32 && xcb_get_property_value_length(reply) >= 4;
  if (ok) std::memcpy(value, xcb_get_property_value(reply), 4);
  std::free(reply);
  return ok;
}

}  // namespace

ForegroundProbe::ForegroundProbe() = default;
ForegroundProbe::~ForegroundProbe() = default;

bool ForegroundProbe::IsForeground(uint32_t pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!tried_) {
    tried_ = true;
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
      auto c = std::make_unique<Connection>();
      int screen_number = 0;
      c->xcb = xcb_connect(display, &screen_number);
      if (c->xcb && !xcb_connection_has_error(c->xcb)) {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c->xcb));
        for (int i = 0; i < screen_number && it.rem; ++i) xcb_screen_next(&it);
        if (it.rem) {
          c->root = it.data->root;
          c->active_window = InternAtom(c->xcb, "_NET_ACTIVE_WINDOW");
          c->wm_pid = InternAtom(c->xcb, "_NET_WM_PID");
          connection_ = std::move(c);
        }
      }
    }
  }
  if (!connection_ || xcb_connection_has_error(connection_->xcb)) return true;
  uint32_t active = 0;
  if (!ReadCardinal(connection_->xcb, connection_->root, connection_->active_window,
                    XCB_ATOM_WINDOW, &active) ||
      active == 0)
    return true;
  uint32_t owner = 0;
  if (!ReadCardinal(connection_->xcb, active, connection_->wm_pid, XCB_ATOM_CARDINAL, &owner))
    return false;
  for (uint32_t p = pid, depth = 0; p > 1 && depth < 64; p = ParentProcessId(p), ++depth)
    if (p == owner) return true;
  return false;
}

}  // namespace kavi::win
