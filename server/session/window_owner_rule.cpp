// SPDX-License-Identifier: Apache-2.0
#include "server/session/window_owner_rule.h"

#include <string_view>

namespace kavi::win {
namespace {

constexpr int kMaxDepth = 64;  // deeper trees are loops or not worth following

bool InTerminalForeground(const ProcessStatus& status) {
  return status.terminal != 0 &&
         status.terminal_foreground_group == static_cast<int32_t>(status.process_group);
}

bool IsMultiplexerServer(std::string_view name) {
  for (const char* server : kMultiplexerServerNames)
    if (name == server) return true;
  return false;
}

bool DescendsFrom(uint32_t pid, uint32_t ancestor, const ProcessTable& processes) {
  for (int depth = 0; pid > 1 && depth < kMaxDepth; ++depth) {
    std::optional<ProcessStatus> status = processes.Status(pid);
    if (!status) return false;
    if (status->parent == ancestor) return true;
    pid = status->parent;
  }
  return false;
}

// Whether a client of the multiplexer whose server is `server` runs in the foreground of the
// window owner's terminal.
bool MultiplexerShownBy(uint32_t server, uint32_t owner, const ProcessTable& processes) {
  const std::optional<std::filesystem::path> program = processes.Executable(server);
  if (!program) return false;
  for (uint32_t pid : processes.Pids()) {
    if (pid == server) continue;
    const std::optional<std::filesystem::path> executable = processes.Executable(pid);
    if (!executable || *executable != *program) continue;
    const std::optional<ProcessStatus> status = processes.Status(pid);
    if (status && InTerminalForeground(*status) && DescendsFrom(pid, owner, processes))
      return true;
  }
  return false;
}

}  // namespace

std::optional<ProcessStatus> LiveProcessTable::Status(uint32_t pid) const {
  return ReadProcessStatus(pid);
}

std::vector<uint32_t> LiveProcessTable::Pids() const {
  return ProcessIds();
}

std::optional<std::filesystem::path> LiveProcessTable::Executable(uint32_t pid) const {
  return ProcessExecutable(pid);
}

bool BelongsToWindowOwner(uint32_t client, uint32_t owner, const ProcessTable& processes) {
  if (client == owner) return true;
  const std::optional<ProcessStatus> self = processes.Status(client);
  if (!self) return false;
  uint32_t multiplexer = 0;
  uint32_t pid = self->parent;
  for (int depth = 0; pid > 1 && depth < kMaxDepth; ++depth) {
    if (pid == owner) {
      if (self->terminal != 0) return InTerminalForeground(*self);
      const std::optional<ProcessStatus> owner_status = processes.Status(owner);
      return owner_status && owner_status->session == self->session;
    }
    const std::optional<ProcessStatus> status = processes.Status(pid);
    if (!status) return false;
    if (multiplexer == 0 && IsMultiplexerServer(status->name)) multiplexer = pid;
    pid = status->parent;
  }
  return multiplexer != 0 && InTerminalForeground(*self) &&
         MultiplexerShownBy(multiplexer, owner, processes);
}

}  // namespace kavi::win
