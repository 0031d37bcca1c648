// SPDX-License-Identifier: Apache-2.0
// Runs the KaviSettings program of this build as a separate process, the way the toolbar does.
// Any test that needs the settings changed on disk (a running server picking up a save) can use
// it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/temp_dir.h"

extern char** environ;

namespace kavi::win::testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs KaviSettings with --config-dir `dir` and `args`, in this process's environment without
// its display (on a display, --page and a bare start open the settings window instead of
// printing) plus `extra_env`; output goes through files so that a large page cannot block on a
// full pipe.
inline RunResult RunSettings(const std::filesystem::path& dir, std::vector<std::string> args,
                             std::vector<std::string> extra_env = {}) {
  const std::string program = std::string(KAVI_BINARY_DIR) + "/bin/KaviSettings";
  const TempDir capture;
  const std::string out_path = (capture.path() / "out").string();
  const std::string err_path = (capture.path() / "err").string();
  args.insert(args.begin(), {program, "--config-dir", dir.string()});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> envp;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view entry = *variable;
    if (entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=")) continue;
    envp.push_back(*variable);
  }
  for (std::string& variable : extra_env) envp.push_back(variable.data());
  envp.push_back(nullptr);
  RunResult result;
  pid_t pid;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) return result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace kavi::win::testing
