// SPDX-License-Identifier: Apache-2.0
// Which process owns the window the user is typing into (the X display's active window).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace kavi::win {

// Asks the X server for _NET_ACTIVE_WINDOW and the process that owns it: its _NET_WM_PID, else
// the pid that the XRes extension reports for the X client that created it (windows of
// programs that do not set _NET_WM_PID). A display that went away is connected again. The
// answer is kept between questions until the display says the active window (or its pid)
// changed, so that typing does not wait on the X server at every key.
class ForegroundProbe {
 public:
  ForegroundProbe();
  ~ForegroundProbe();
  ForegroundProbe(const ForegroundProbe&) = delete;
  ForegroundProbe& operator=(const ForegroundProbe&) = delete;

  enum class Answer {
    kNoActiveWindow,  // no display, or no window manager publishing an active window
    kOwner,           // *owner is the process of the active window
    kUnknownOwner,    // an active window whose process cannot be told
  };
  Answer ActiveWindowOwner(uint32_t* owner);

 private:
  struct Connection;
  void Connect();
  Answer AskDisplay(uint32_t* owner);

  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  std::chrono::steady_clock::time_point next_attempt_{};
};

}  // namespace kavi::win
