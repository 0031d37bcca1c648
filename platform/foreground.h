// Is a client process the one the user is typing into?
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace kavi::win {

// Asks the X server for the active window's _NET_WM_PID. A client is in the foreground when
// that pid is the client or one of its ancestors (a terminal running a console client). With no
// X display, or no window manager publishing an active window, every client is foreground.
class ForegroundProbe {
 public:
  ForegroundProbe();
  ~ForegroundProbe();
  ForegroundProbe(const ForegroundProbe&) = delete;
  ForegroundProbe& operator=(const ForegroundProbe&) = delete;

  bool IsForeground(uint32_t pid);

 private:
  struct Connection;
  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  bool tried_ = false;
};

}  // namespace kavi::win
