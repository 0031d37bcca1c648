// SPDX-License-Identifier: Apache-2.0
// A file that lives only in memory (memfd), reachable by a path for as long as the object
// lives: for libraries that insist on opening files by name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kavi::win {

class MemoryFile {
 public:
  // Null with the system's reason when the file cannot be made or filled.
  static std::unique_ptr<MemoryFile> Create(const std::string& name, std::string_view bytes,
                                            std::string* error);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // "/proc/self/fd/<n>": opening it reads the bytes from the start.
  std::string path() const;

 private:
  explicit MemoryFile(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace kavi::win
