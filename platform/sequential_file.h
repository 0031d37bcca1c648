// SPDX-License-Identifier: Apache-2.0
// Reading a file front to back in large pieces (hashing, serving downloads).
#pragma once

#include <cstddef>
#include <filesystem>

namespace kavi::win {

class SequentialFile {
 public:
  SequentialFile() = default;
  ~SequentialFile();
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;

  // Opens for reading and tells the system the file will be read once, in order.
  bool Open(const std::filesystem::path& path);
  // Up to `size` bytes; 0 at the end, -1 on a read error.
  long Read(void* buffer, size_t size);

 private:
  int fd_ = -1;
};

}  // namespace kavi::win
