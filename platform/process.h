#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavi::win {

// Starts program in a session of its own, detached from the caller (no shared terminal, no
// wait). True when the process was created.
bool SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& args,
                   std::string* message);

// The parent process id of pid; 0 when unknown.
uint32_t ParentProcessId(uint32_t pid);

}  // namespace kavi::win
