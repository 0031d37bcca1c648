// SPDX-License-Identifier: Apache-2.0
// Which processes count as the application of the active window, over hand-made process trees.
#include <gtest/gtest.h>

#include <map>

#include "server/session/window_owner_rule.h"

namespace kavi::win::testing {
namespace {

class FakeProcesses : public ProcessTable {
 public:
  // pid, parent, process group, session, terminal, the terminal's foreground group, name, exe
  void Add(uint32_t pid, uint32_t parent, uint32_t group, uint32_t session, uint32_t terminal,
           int32_t terminal_group, std::string name, std::string exe = {}) {
    ProcessStatus s;
    s.pid = pid;
    s.parent = parent;
    s.process_group = group;
    s.session = session;
    s.terminal = terminal;
    s.terminal_foreground_group = terminal_group;
    s.name = std::move(name);
    statuses_[pid] = s;
    if (!exe.empty()) executables_[pid] = exe;
  }
  std::optional<ProcessStatus> Status(uint32_t pid) const override {
    auto it = statuses_.find(pid);
    return it == statuses_.end() ? std::nullopt : std::optional(it->second);
  }
  std::vector<uint32_t> Pids() const override {
    std::vector<uint32_t> pids;
    for (const auto& [pid, status] : statuses_) pids.push_back(pid);
    return pids;
  }
  std::optional<std::filesystem::path> Executable(uint32_t pid) const override {
    auto it = executables_.find(pid);
    return it == executables_.end() ? std::nullopt : std::optional(it->second);
  }

 private:
  std::map<uint32_t, ProcessStatus> statuses_;
  std::map<uint32_t, std::filesystem::path> executables_;
};

constexpr uint32_t kTerminal = 100;  // owns the active window
constexpr uint32_t kTty = 34816, kPaneTty = 34817;

// A terminal (100) whose shell (101) runs a foreground program (200) and a background job (201),
// and started a daemon (202) that left the session; the terminal's own helper (300); a tmux
// server (400) with a pane whose foreground is 402 and a background job 403; a stranger (600).
// With a tmux client (500) in the foreground of the terminal when `tmux_attached`.
FakeProcesses Desktop(bool tmux_attached) {
  FakeProcesses p;
  const int32_t terminal_group = tmux_attached ? 500 : 200;
  p.Add(kTerminal, 1, 100, 100, 0, -1, "xterm", "/usr/bin/xterm");
  p.Add(101, kTerminal, 101, 101, kTty, terminal_group, "bash", "/usr/bin/bash");
  p.Add(200, 101, 200, 101, kTty, terminal_group, "kavi-client", "/opt/kavi/kavi-client");
  p.Add(201, 101, 201, 101, kTty, terminal_group, "kavi-client", "/opt/kavi/kavi-client");
  p.Add(202, 101, 202, 202, 0, -1, "kavi-client", "/opt/kavi/kavi-client");
  p.Add(300, kTerminal, 100, 100, 0, -1, "xterm-helper");
  p.Add(400, 1, 400, 400, 0, -1, "tmux: server", "/usr/bin/tmux");
  p.Add(401, 400, 401, 401, kPaneTty, 402, "bash", "/usr/bin/bash");
  p.Add(402, 401, 402, 401, kPaneTty, 402, "kavi-client", "/opt/kavi/kavi-client");
  p.Add(403, 401, 403, 401, kPaneTty, 402, "kavi-client", "/opt/kavi/kavi-client");
  if (tmux_attached) p.Add(500, 101, 500, 101, kTty, 500, "tmux: client", "/usr/bin/tmux");
  p.Add(600, 1, 600, 600, 0, -1, "stranger", "/usr/bin/stranger");
  return p;
}

TEST(WindowOwnerRule, ForegroundProgramsPassBackgroundOnesDoNot) {
  struct Case {
    const char* what;
    uint32_t client;
    bool tmux_attached;
    bool passes;
  };
  const Case cases[] = {
      {"the window's own process", kTerminal, false, true},
      {"the terminal's foreground program", 200, false, true},
      {"a background job of the shell", 201, false, false},
      {"a program that left the session (setsid)", 202, false, false},
      {"a helper of the window's program, without a terminal", 300, false, true},
      {"an unrelated process", 600, false, false},
      {"a pane's foreground program while tmux shows in the terminal", 402, true, true},
      {"a pane's background job", 403, true, false},
      {"a pane's foreground program of a detached tmux", 402, false, false},
      {"the terminal's program while tmux holds the terminal", 200, true, false},
  };
  for (const Case& c : cases) {
    const FakeProcesses processes = Desktop(c.tmux_attached);
    EXPECT_EQ(BelongsToWindowOwner(c.client, kTerminal, processes), c.passes) << c.what;
  }
}

TEST(WindowOwnerRule, LoopsAndMissingProcessesEndTheWalk) {
  FakeProcesses p;
  p.Add(10, 11, 10, 10, 0, -1, "a");
  p.Add(11, 10, 11, 11, 0, -1, "b");  // a loop that never reaches the owner
  EXPECT_FALSE(BelongsToWindowOwner(10, kTerminal, p));
  EXPECT_FALSE(BelongsToWindowOwner(12, kTerminal, p));  // gone
}

}  // namespace
}  // namespace kavi::win::testing
