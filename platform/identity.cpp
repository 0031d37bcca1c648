// SPDX-License-Identifier: Apache-2.0
#include "platform/identity.h"

#include <elf.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavi::win {

std::string CurrentUserSid() {
  // The effective uid as the kernel reports the process's credentials; without /proc there is no
  // identity to read, as a process without a readable token has none.
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Uid:", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    unsigned long real = 0, effective = 0;
    if (fields >> real >> effective) return std::to_string(effective);
    break;
  }
  return {};
}

std::string InstallationId() {
  std::string source;
  std::ifstream in("/etc/machine-id");
  std::getline(in, source);
  if (source.empty()) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) source = host;
  }
  // FNV-1a: the id names a folder; the machine id itself is not spread into files.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : source) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

uint16_t ProcessArchitecture(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/exe", std::ios::binary);
  unsigned char header[EI_NIDENT + 4] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return kArchUnknown;
  if (header[EI_MAG0] != ELFMAG0 || header[EI_MAG1] != ELFMAG1 || header[EI_MAG2] != ELFMAG2 ||
      header[EI_MAG3] != ELFMAG3)
    return kArchUnknown;
  // e_machine follows e_type at offset 18 in both ELF classes, in the file's byte order.
  unsigned lo = header[EI_NIDENT + 2], hi = header[EI_NIDENT + 3];
  uint16_t machine = header[EI_DATA] == ELFDATA2MSB ? static_cast<uint16_t>((lo << 8) | hi)
                                                    : static_cast<uint16_t>((hi << 8) | lo);
  switch (machine) {
    case EM_386: return kArchX86;
    case EM_X86_64: return kArchX64;
    case EM_AARCH64: return kArchArm64;
    default: return kArchUnknown;
  }
}

bool ThreadBelongsToProcess(uint32_t pid, uint32_t tid) {
  if (pid == 0 || tid == 0) return false;
  std::error_code ec;
  return std::filesystem::exists(
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid), ec);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

}  // namespace kavi::win
