// SPDX-License-Identifier: Apache-2.0
// Who a process is: user, installation, architecture, threads. (Which desktop it belongs to is
// in server_endpoint.h.)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kavi::win {

// Architecture codes of the wire protocol.
inline constexpr uint16_t kArchUnknown = 0;
inline constexpr uint16_t kArchX86 = 1;
inline constexpr uint16_t kArchX64 = 2;
inline constexpr uint16_t kArchArm64 = 3;

// The user's identity string: the effective uid in decimal. Empty when it cannot be read.
std::string CurrentUserSid();
// This installation of the program among those that may share one user-data folder (machines
// syncing it, a home on a network share): 16 hex digits derived from the machine's id
// (/etc/machine-id), else from its host name. Stable across restarts.
std::string InstallationId();
// The architecture of the process's executable (ELF e_machine); kArchUnknown when unknown.
uint16_t ProcessArchitecture(uint32_t pid);
// True when thread tid belongs to process pid.
bool ThreadBelongsToProcess(uint32_t pid, uint32_t tid);
uint32_t CurrentProcessId();
uint32_t CurrentThreadId();

}  // namespace kavi::win
