// SPDX-License-Identifier: Apache-2.0
// A helper program run as a child with its standard input and output on pipes: the server
// writes requests and reads replies. The child runs in a process group of its own, which Kill
// ends whole, and dies with the server (PR_SET_PDEATHSIG).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavi::win {

struct ChildCommand {
  std::filesystem::path program;
  std::vector<std::string> args;  // after the program's own name
  std::filesystem::path working_directory;
  // Standard error is appended to this file (created private to the user); when it is empty
  // or cannot be opened, standard error goes to the output pipe.
  std::filesystem::path stderr_log;
};

class ChildProcess {
 public:
  enum class ReadResult { kData, kNoData, kEnded, kWaitFailed, kReadFailed };

  ChildProcess(pid_t pid, int input_fd, int output_fd);
  // Kills the child's process group.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // False once the child has ended (it is then reaped).
  bool Running();
  // Writes all bytes to the child's input in pieces of at most `piece_bytes`; false when a
  // write fails or takes nothing.
  bool Write(std::string_view bytes, size_t piece_bytes);
  // Waits up to `wait_ms` for output and appends at most `max_bytes` of it: kNoData when none
  // came, kEnded when the child closed its output, kWaitFailed when the pipe cannot be waited
  // on, kReadFailed when it cannot be read.
  ReadResult Read(int wait_ms, size_t max_bytes, std::string* out);
  // Closes both pipes and kills the process group; waits for the child.
  void Kill();
  // Kills the process group without touching the pipes: safe from another thread while one
  // waits for output (which then sees the child end).
  void Terminate();

 private:
  pid_t pid_;
  int input_fd_;
  int output_fd_;
  // Guards the reaping, so that Terminate never signals a process id that was reaped and given
  // to another process.
  std::mutex reap_mutex_;
  bool reaped_ = false;
};

class ProcessLauncher {
 public:
  enum class Failure { kNone, kPipes, kStart };

  ProcessLauncher();
  ~ProcessLauncher();
  ProcessLauncher(const ProcessLauncher&) = delete;
  ProcessLauncher& operator=(const ProcessLauncher&) = delete;

  // Starts the child; null with the failure (and the system's reason in `detail`) when the
  // pipes cannot be made or the program cannot be started.
  std::unique_ptr<ChildProcess> Launch(const ChildCommand& command, Failure* failure,
                                       std::string* detail);

 private:
  // Children are started on this thread, which lives as long as the launcher: a child's death
  // signal fires when the thread that started it ends, and callers' threads may be short-lived
  // (a job thread per transcription).
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> task_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kavi::win
