// SPDX-License-Identifier: Apache-2.0
// Helpers of the tray tests: what the server logs, and a stand-in settings program.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "tests/common/temp_dir.h"

namespace kavi::win::testing {

// Everything written to stderr while the object lives.
class CapturedLog {
 public:
  CapturedLog() : file_(std::tmpfile()), saved_(::dup(STDERR_FILENO)) {
    ::fflush(stderr);
    ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~CapturedLog() {
    ::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    std::fclose(file_);
  }
  std::string Text() const {
    ::fflush(stderr);
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }

 private:
  FILE* file_;
  int saved_;
};

// A program that writes its arguments, space-separated, as one line to `record` (atomically).
inline std::filesystem::path WriteArgumentRecorder(const std::filesystem::path& dir,
                                                   const std::filesystem::path& record) {
  const std::filesystem::path program = dir / "record-args";
  WriteFile(program, "#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + record.string() + ".tmp' && mv '" +
                         record.string() + ".tmp' '" + record.string() + "'\n");
  std::filesystem::permissions(program, std::filesystem::perms(0755));
  return program;
}

inline bool WaitFor(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline bool WaitForFile(const std::filesystem::path& file) {
  return WaitFor([&] { return std::filesystem::exists(file); });
}

}  // namespace kavi::win::testing
