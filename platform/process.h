#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavi::win {

// Starts program in a session of its own, detached from the caller (no shared terminal, no
// wait). True when the process was created.
bool SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& args,
                   std::string* message);

// The parent process id of pid; 0 when unknown.
uint32_t ParentProcessId(uint32_t pid);

// The executable a process runs (/proc/<pid>/exe); nullopt when it cannot be read (another
// user's process, a non-dumpable one) or when the file was replaced since the process started.
std::optional<std::filesystem::path> ProcessExecutable(uint32_t pid);

// True when a debugger or any other tracer is attached to the process (TracerPid), or when
// that cannot be read.
bool ProcessIsTraced(uint32_t pid);

}  // namespace kavi::win
