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
