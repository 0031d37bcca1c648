// SPDX-License-Identifier: Apache-2.0
// The real KaviServer (libovra.so) as a child process with private folders, and the helpers
// the end-to-end tests share.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "platform/server_endpoint.h"
#include "tests/common/child_process.h"

namespace kavi::win::testing {

inline std::string Field(const char* f, size_t n) {
  return std::string(TextFieldView(f, n));
}
template <size_t N>
std::string Field(const char (&f)[N]) {
  return Field(f, N);
}

// A home of its own for every test: runtime, configuration and data folders.
class ServerHome {
 public:
  ServerHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavi-e2e-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "run");
  }
  ~ServerHome() {
    for (pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(root_);
  }

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path config_dir() const { return root_ / "config" / "Kavi"; }
  std::filesystem::path local_dir() const { return root_ / "data" / "Kavi"; }
  std::filesystem::path socket() const {
    SessionEnvironment env;
    env.uid = ::getuid();
    env.display = display_;
    env.runtime_dir = (root_ / "run").string();
    return ServerEndpointFor(env).socket;
  }

  std::vector<std::string> Environment(const std::string& display = {}) const {
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (root_ / "run").string(),
                                    "XDG_CONFIG_HOME=" + (root_ / "config").string(),
                                    "XDG_DATA_HOME=" + (root_ / "data").string(),
                                    "HOME=" + root_.string(), "PATH=/usr/bin:/bin"};
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    return env;
  }

  // A non-negative output_fd receives the child's standard output and error.
  pid_t Spawn(const std::filesystem::path& program, const std::vector<std::string>& args,
              const std::string& display = {}, int output_fd = -1) {
    pid_t pid = SpawnChild(program, args, Environment(display), output_fd);
    EXPECT_GT(pid, 0);
    children_.push_back(pid);
    return pid;
  }

  // Exit code of a child, or -1 on a signal or time-out.
  int Wait(pid_t pid, int timeout_ms = 30000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  static std::filesystem::path Bin(const std::string& name) {
    return std::filesystem::path(KAVI_BINARY_DIR) / "bin" / name;
  }

  // Starts KaviServer and waits until it serves, and until its engine has loaded the scheme
  // (it loads while the server already listens; a request that needs it may otherwise outlast
  // the client's 250 ms time-out on a busy machine).
  pid_t StartServer(const std::string& display = {}, int output_fd = -1) {
    display_ = display;
    pid_t pid = Spawn(Bin("KaviServer"), {}, display, output_fd);
    EXPECT_TRUE(WaitForListener(socket(), 30000));
    KaviClient warm_up(Options());
    bool answered = false;
    for (int i = 0; i < 100 && !answered; ++i) {
      answered = warm_up.Send(static_cast<RequestKind>(46)).has_value();
      if (!answered)
        std::this_thread::sleep_for(std::chrono::milliseconds(warm_up.BackoffRemainingMs() + 50));
    }
    EXPECT_TRUE(answered);
    return pid;
  }

  ClientOptions Options() const {
    ClientOptions o;
    o.socket_path = socket();
    o.start_server = false;
    // Generous: the suite runs on a loaded machine; the protocol does not depend on it.
    o.transaction_timeout_ms = 5000;
    return o;
  }

  // Runs KaviSettings on this home's configuration; its exit code.
  int Settings(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--config-dir", config_dir().string()};
    all.insert(all.end(), args.begin(), args.end());
    return Wait(Spawn(Bin("KaviSettings"), all));
  }

 private:
  std::filesystem::path root_;
  std::string display_;  // of the server started last: the socket depends on it
  std::vector<pid_t> children_;
};

// Types letters and named keys as key presses; returns the last reply.
inline PipeResponse TypeKeys(KaviClient& client, const std::vector<uint32_t>& keys,
                             uint64_t context = 1) {
  PipeResponse last{};
  for (uint32_t key : keys) {
    auto reply = client.SendKey(key, 0, context);
    EXPECT_TRUE(reply);
    if (reply) last = *reply;
  }
  return last;
}

inline PipeResponse Type(KaviClient& client, const std::string& letters, uint64_t context = 1) {
  std::vector<uint32_t> keys(letters.begin(), letters.end());
  return TypeKeys(client, keys, context);
}

}  // namespace kavi::win::testing
