// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavi::win {

// Starts program in a session of its own, detached from the caller: no shared terminal, standard
// input from /dev/null, standard output to /dev/null and standard error appended to log_file
// (private to the user; /dev/null when empty or when it cannot be opened), no wait. True when
// the process was created.
bool SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& log_file, std::string* message);

// A write to a closed pipe or socket fails with EPIPE instead of ending the process.
void IgnoreBrokenPipeSignal();

// Starts program as an orphan: a grandchild in a session of its own, adopted by the system, so
// the caller neither waits for it nor leaves a zombie behind. True when it was executed; a
// program that cannot be executed gives false with the reason.
bool SpawnOrphan(const std::filesystem::path& program, const std::vector<std::string>& args,
                 std::string* message);

// The parent process id of pid; 0 when unknown.
uint32_t ParentProcessId(uint32_t pid);

// What /proc/<pid>/stat tells about a process's place among the others (readable for every
// process, non-dumpable ones included).
struct ProcessStatus {
  uint32_t pid = 0;
  uint32_t parent = 0;
  uint32_t process_group = 0;
  uint32_t session = 0;
  uint32_t terminal = 0;                 // the controlling terminal's device; 0: none
  int32_t terminal_foreground_group = 0;  // that terminal's foreground process group; -1: none
  std::string name;                      // the command name (at most 15 bytes)
};
std::optional<ProcessStatus> ReadProcessStatus(uint32_t pid);
// Every process id visible in /proc.
std::vector<uint32_t> ProcessIds();

// The executable a process runs (/proc/<pid>/exe); nullopt when it cannot be read (another
// user's process, a non-dumpable one) or when the file was replaced since the process started.
std::optional<std::filesystem::path> ProcessExecutable(uint32_t pid);

// True when a debugger or any other tracer is attached to the process (TracerPid), or when
// that cannot be read.
bool ProcessIsTraced(uint32_t pid);

}  // namespace kavi::win
