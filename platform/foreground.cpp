// SPDX-License-Identifier: Apache-2.0
#include "platform/foreground.h"

#include "platform/x11_display.h"

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace kavi::win {
namespace {

// How long after a failed or lost connection the display is tried again.
constexpr auto kReconnectPause = std::chrono::seconds(1);
// How long an answer is trusted without asking the display again (see ActiveWindowOwner).
constexpr auto kLongestKeptAnswer = std::chrono::milliseconds(250);

// The pid of the X client that owns the window's resource, as the XRes extension knows it.
bool ClientPidOfWindow(xcb_connection_t* c, xcb_window_t window, uint32_t* pid) {
  xcb_res_client_id_spec_t wanted{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  xcb_res_query_client_ids_reply_t* reply =
      xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &wanted), nullptr);
  if (!reply) return false;
  bool found = false;
  for (xcb_res_client_id_value_iterator_t it = xcb_res_query_client_ids_ids_iterator(reply);
       it.rem && !found; xcb_res_client_id_value_next(&it)) {
    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
        xcb_res_client_id_value_value_length(it.data) >= 1) {
      *pid = *xcb_res_client_id_value_value(it.data);
      found = *pid != 0;
    }
  }
  std::free(reply);
  return found;
}

}  // namespace

struct ForegroundProbe::Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t active_window = XCB_ATOM_NONE;
  xcb_atom_t wm_pid = XCB_ATOM_NONE;
  bool has_res = false;
  // The last answer, kept until a property of the root (the active window) or of the active
  // window itself (its _NET_WM_PID) changes, so that a key costs no round trip to the display.
  bool known = false;
  Answer answer = Answer::kNoActiveWindow;
  uint32_t owner = 0;
  xcb_window_t watched = 0;  // the active window whose property changes are selected
  std::chrono::steady_clock::time_point known_since{};
  ~Connection() {
    if (xcb) xcb_disconnect(xcb);
  }
};

ForegroundProbe::ForegroundProbe() = default;
ForegroundProbe::~ForegroundProbe() = default;

void ForegroundProbe::Connect() {
  connection_.reset();
  auto c = std::make_unique<Connection>();
  c->xcb = ConnectToDisplay(&c->root);
  if (!c->xcb) return;
  const uint32_t property_changes = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c->xcb, c->root, XCB_CW_EVENT_MASK, &property_changes);
  c->active_window = InternAtom(c->xcb, "_NET_ACTIVE_WINDOW");
  c->wm_pid = InternAtom(c->xcb, "_NET_WM_PID");
  // Client ids (and their pids) came with version 1.2 of the extension.
  xcb_res_query_version_reply_t* version =
      xcb_res_query_version_reply(c->xcb, xcb_res_query_version(c->xcb, 1, 2), nullptr);
  if (version) {
    c->has_res =
        version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2);
    std::free(version);
  }
  connection_ = std::move(c);
}

ForegroundProbe::Answer ForegroundProbe::ActiveWindowOwner(uint32_t* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!connection_ || xcb_connection_has_error(connection_->xcb)) {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_attempt_) return Answer::kNoActiveWindow;
    next_attempt_ = now + kReconnectPause;
    Connect();
    if (!connection_) return Answer::kNoActiveWindow;
  }
  Connection& x = *connection_;
  // Property changes that arrived since the last question; reading them needs no round trip.
  while (xcb_generic_event_t* event = xcb_poll_for_event(x.xcb)) {
    if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
      const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if ((change->window == x.root && change->atom == x.active_window) ||
          (change->window == x.watched && change->atom == x.wm_pid))
        x.known = false;
    }
    std::free(event);
  }
  // The events of a switch made just before a question can still be on their way; an answer
  // older than this is asked again whatever the events say.
  const auto now = std::chrono::steady_clock::now();
  if (x.known && now - x.known_since < kLongestKeptAnswer) {
    *owner = x.owner;
    return x.answer;
  }
  x.answer = AskDisplay(&x.owner);
  x.known = !xcb_connection_has_error(x.xcb);
  x.known_since = now;
  *owner = x.owner;
  return x.answer;
}

ForegroundProbe::Answer ForegroundProbe::AskDisplay(uint32_t* owner) {
  Connection& x = *connection_;
  *owner = 0;
  uint32_t active = 0;
  if (!ReadProperty32(x.xcb, x.root, x.active_window, XCB_ATOM_WINDOW, &active) || active == 0)
    return Answer::kNoActiveWindow;
  if (active != x.watched) {
    // Selecting on another program's window is allowed; a window that is already gone only
    // makes the request fail, and the root's change follows when the window manager notices.
    const uint32_t property_changes = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(x.xcb, active, XCB_CW_EVENT_MASK, &property_changes);
    x.watched = active;
  }
  if (ReadProperty32(x.xcb, active, x.wm_pid, XCB_ATOM_CARDINAL, owner) && *owner != 0)
    return Answer::kOwner;
  if (x.has_res && ClientPidOfWindow(x.xcb, active, owner)) return Answer::kOwner;
  return Answer::kUnknownOwner;
}

}  // namespace kavi::win
