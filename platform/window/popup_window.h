// SPDX-License-Identifier: Apache-2.0
// The candidate window's X11 side: an override-redirect ARGB popup that never takes focus,
// its cairo surface, its input events, and what it needs to know about the screen.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

namespace kavi::win {

struct ScreenArea {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct PopupEvent {
  enum class Type { kNone, kExpose, kMotion, kButtonRelease, kWheel, kDpiChanged };
  Type type = Type::kNone;
  int x = 0;  // window coordinates, pixels
  int y = 0;
  int root_x = 0;
  int root_y = 0;
  int button = 0;       // ButtonRelease: 1 left, 2 middle, 3 right
  int wheel_delta = 0;  // Wheel: positive away from the user
};

class PopupWindow {
 public:
  // Connects to the display (empty name: the environment's) and makes the hidden window.
  // *no_display tells a missing display apart from a window the display refused.
  static std::unique_ptr<PopupWindow> Create(const std::string& display_name, bool* no_display,
                                             std::string* message);
  ~PopupWindow();
  PopupWindow(const PopupWindow&) = delete;
  PopupWindow& operator=(const PopupWindow&) = delete;

  int ConnectionFd() const;
  unsigned long WindowId() const;
  // Whether the connection to the display broke (the X server ended or went away). Every call
  // then does nothing; the owner drops this object and opens a new one when it wants to retry.
  bool Lost() const;

  // The desktop's Xft.dpi resource, else 96. Read again only after it changed.
  double Dpi();
  // The work area of the monitor nearest the rectangle: the XRandR monitor clipped by
  // _NET_WORKAREA when a window manager publishes one; the whole screen when neither is known.
  // The monitors and work areas are read again only after they changed.
  ScreenArea WorkAreaNear(const ScreenArea& anchor);
  // The shortest time between two frames any monitor shows, in milliseconds.
  double FrameIntervalMs();

  // Sends nothing when the window already stands there, shown.
  void MoveResizeShow(int x, int y, int width, int height);
  void Hide();
  // Cuts the window to a rounded rectangle (radius in pixels) so the corners are see-through
  // even without a compositor.
  void SetRoundedShape(int width, int height, int radius);

  // The window's pixels on this side: an image surface of the given size (the window's, once
  // shown), in shared memory with the X server (MIT-SHM) when the server is local. Drawing into
  // it shows nothing until Present, so a frame can be drawn before the window is shown. Null when
  // no image can be made. Waits, if it must, until the server has read the frame presented last (a
  // lost display is never waited for: its calls return).
  cairo_surface_t* FrameBuffer(int width, int height);
  // Sends these areas of the frame buffer to the window; the whole window when empty. Not
  // through cairo's own X surfaces: they wait for shared-memory acknowledgements that a lost
  // display never sends.
  void Present(const std::vector<ScreenArea>& areas);
  void ReleaseFrameBuffer();
  // Whether frames travel through shared memory.
  bool SharedMemory() const;
  // Draws a one-line notice without any text engine of our own (fallback painting).
  void DrawNotice(const std::string& text);
  void Flush();
  // Waits until the X server has handled every request sent so far.
  void RoundTrip();

  bool PointerPosition(int* root_x, int* root_y) const;

  // The next queued event without blocking; false when none is queued.
  bool NextEvent(PopupEvent* event);
  // Events Xlib has already read off the connection: the connection's descriptor will not
  // signal them again.
  bool HasQueuedEvents() const;

 private:
  struct State;
  explicit PopupWindow(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace kavi::win
