// SPDX-License-Identifier: Apache-2.0
// Starting programs under test as children that die with the test process, so that a test that
// crashes leaves no server behind (holding the test runner's output pipe open).
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kavi::win::testing {

// Starts program with args and exactly the environment env; -1 when the fork fails. A
// non-negative output_fd becomes the child's standard output and error, a non-negative input_fd
// its standard input.
inline pid_t SpawnChild(const std::filesystem::path& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, int output_fd = -1,
                        int input_fd = -1) {
  std::vector<std::string> all = {program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_copy = env;
  for (auto& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the test died before the line above
    if (input_fd >= 0) ::dup2(input_fd, STDIN_FILENO);
    if (output_fd >= 0) {
      ::dup2(output_fd, STDOUT_FILENO);
      ::dup2(output_fd, STDERR_FILENO);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace kavi::win::testing
