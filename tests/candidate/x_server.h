// SPDX-License-Identifier: Apache-2.0
// A private Xvfb for the window tests, so pointer moves of other test binaries sharing a
// display cannot reach these windows; plus small X helpers for looking at the result.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

extern char** environ;

namespace kavi::win::testing {

class PrivateXServer {
 public:
  // A display of its own at a number of its own choosing, far above the ones "-displayfd" hands
  // out, so that a test that kills and restarts it does not race other tests for the number.
  struct FixedNumber {};
  explicit PrivateXServer(FixedNumber) {
    for (int n = 400 + static_cast<int>(getpid() % 400), tries = 0; tries < 400; ++tries, ++n) {
      const std::string number = std::to_string(400 + n % 400);
      if (std::filesystem::exists("/tmp/.X" + number + "-lock") ||
          std::filesystem::exists("/tmp/.X11-unix/X" + number))
        continue;
      name_ = ":" + number;
      if (Restart()) return;
      name_.clear();
    }
  }

  PrivateXServer() {
    // Xvfb picks a free display number itself and reports it, so parallel runs cannot collide.
    int report[2];
    if (pipe(report) == 0) {
      const char* argv[] = {"Xvfb",         "-displayfd", "3",   "-screen", "0",
                            "1920x1080x24", "-nolisten",  "tcp", nullptr};
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_adddup2(&actions, report[1], 3);
      pid_t pid = 0;
      const int rc =
          posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      close(report[1]);
      std::string number;
      char c = 0;
      while (rc == 0 && read(report[0], &c, 1) == 1 && c != '\n') number.push_back(c);
      close(report[0]);
      if (rc == 0 && !number.empty()) {
        pid_ = pid;
        name_ = ":" + number;
        return;
      }
      if (rc == 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
    }
    // No Xvfb of our own: share the one the test run provides.
    if (const char* display = std::getenv("DISPLAY")) name_ = display;
  }
  ~PrivateXServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

  // Ends the X server: every client loses its connection.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    const std::string number = name_.substr(1);
    std::filesystem::remove("/tmp/.X11-unix/X" + number);
    std::filesystem::remove("/tmp/.X" + number + "-lock");
  }
  // Starts a new X server on the same display; true once it accepts connections. It does not
  // reset when its last client leaves, so the probe below cannot make the next client fail.
  bool Restart() {
    Kill();
    if (name_.empty()) return false;
    const std::string display = name_;
    const char* argv[] = {"Xvfb", display.c_str(), "-screen", "0", "1920x1080x24",
                          "-nolisten", "tcp", "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    pid_ = pid;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) {  // ours failed: the number is taken
        pid_ = -1;
        return false;
      }
      if (Display* d = XOpenDisplay(display.c_str())) {
        XCloseDisplay(d);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Runs xdotool against the display; true on success.
inline bool XDoTool(const std::string& display, const std::string& arguments) {
  const std::string command = "DISPLAY=" + display + " xdotool " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace kavi::win::testing
