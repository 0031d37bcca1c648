// SPDX-License-Identifier: Apache-2.0
// Whether a client process is the application of the active window, given the process that
// owns that window.
//
// - The owner itself passes.
// - A descendant of the owner (a console program in a terminal, a helper of an application)
//   passes when it is in the foreground of its terminal: a background job (&) of the shell does
//   not. A descendant without a terminal passes only while it stays in the owner's session: a
//   program that left it (setsid, a daemon) is in the background.
// - A program inside a terminal multiplexer (tmux, screen) descends from the multiplexer's
//   server, not from the terminal. It passes when it is in the foreground of its pane and a
//   client of the same multiplexer runs in the foreground of the active terminal. Which of the
//   multiplexer's panes that client shows cannot be seen from outside: a foreground program of
//   another pane or window of an attached session passes too; detached sessions and
//   background jobs do not.
// - Processes whose executable cannot be read (non-dumpable ones) are judged by the same
//   process tree, which /proc shows for them as for any other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/process.h"

namespace kavi::win {

// The processes of the system, as the rule needs them (tests give a table of their own).
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  virtual std::optional<ProcessStatus> Status(uint32_t pid) const = 0;
  virtual std::vector<uint32_t> Pids() const = 0;
  virtual std::optional<std::filesystem::path> Executable(uint32_t pid) const = 0;
};

// The live table of /proc.
class LiveProcessTable final : public ProcessTable {
 public:
  std::optional<ProcessStatus> Status(uint32_t pid) const override;
  std::vector<uint32_t> Pids() const override;
  std::optional<std::filesystem::path> Executable(uint32_t pid) const override;
};

// The command names of multiplexer servers.
inline constexpr const char* kMultiplexerServerNames[] = {"tmux: server", "screen", "SCREEN"};

bool BelongsToWindowOwner(uint32_t client, uint32_t owner, const ProcessTable& processes);

}  // namespace kavi::win
