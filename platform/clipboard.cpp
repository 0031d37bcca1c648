// SPDX-License-Identifier: Apache-2.0
#include "platform/clipboard.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace kavi::win {
namespace {

constexpr auto kAnswerTimeout = std::chrono::milliseconds(500);
constexpr uint32_t kMaxTextWords = 1024 * 1024 / 4;  // 1 MiB, in the 32-bit units X counts

struct ConnectionDeleter {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

xcb_atom_t Atom(xcb_connection_t* connection, std::string_view name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data()),
      nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// Waits for the owner's SelectionNotify; false on a time-out or a refusal.
bool AwaitSelection(xcb_connection_t* connection, xcb_window_t window) {
  const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      const bool notify = (event->response_type & 0x7F) == XCB_SELECTION_NOTIFY;
      const auto* selection = reinterpret_cast<xcb_selection_notify_event_t*>(event);
      const bool answered = notify && selection->requestor == window;
      const bool refused = answered && selection->property == XCB_ATOM_NONE;
      std::free(event);
      if (answered) return !refused;
    }
    if (xcb_connection_has_error(connection)) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd readable = {xcb_get_file_descriptor(connection), POLLIN, 0};
    ::poll(&readable, 1, static_cast<int>(left.count()));
  }
}

// Asks the owner for the selection as `target` into a property of `window` and reads it.
bool Convert(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t clipboard,
             xcb_atom_t target, xcb_atom_t property, std::string* text) {
  xcb_convert_selection(connection, window, clipboard, target, property, XCB_CURRENT_TIME);
  xcb_flush(connection);
  if (!AwaitSelection(connection, window)) return false;
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(connection,
                             xcb_get_property(connection, 1, window, property,
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxTextWords),
                             nullptr);
  if (reply == nullptr) return false;
  // An INCR answer (a transfer in pieces) is not text yet; treat it as none.
  const bool usable = reply->type == target && reply->format == 8;
  if (usable) {
    text->assign(static_cast<const char*>(xcb_get_property_value(reply)),
                 static_cast<size_t>(xcb_get_property_value_length(reply)));
  }
  std::free(reply);
  return usable;
}

}  // namespace

std::string ReadClipboardText() {
  int screen_number = 0;
  Connection connection(xcb_connect(nullptr, &screen_number));
  if (!connection || xcb_connection_has_error(connection.get())) return {};
  xcb_connection_t* c = connection.get();
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) return {};
  const xcb_window_t window = xcb_generate_id(c);
  const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screens.data->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
  const xcb_atom_t clipboard = Atom(c, "CLIPBOARD");
  const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
  const xcb_atom_t property = Atom(c, "KAVI_CLIPBOARD");
  std::string text;
  if (clipboard == XCB_ATOM_NONE || property == XCB_ATOM_NONE) return {};
  // UTF-8 first; an owner that offers only the old Latin-1 STRING is read as that.
  if (utf8 == XCB_ATOM_NONE || !Convert(c, window, clipboard, utf8, property, &text)) {
    std::string latin1;
    if (Convert(c, window, clipboard, XCB_ATOM_STRING, property, &latin1)) {
      for (unsigned char byte : latin1) {
        if (byte < 0x80) {
          text.push_back(static_cast<char>(byte));
        } else {
          text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
          text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
      }
    }
  }
  xcb_destroy_window(c, window);
  return text;
}

}  // namespace kavi::win
