// SPDX-License-Identifier: Apache-2.0
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

extern char** environ;

namespace kavi::win {

bool SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& log_file, std::string* message) {
  std::vector<std::string> storage;
  storage.push_back(program.string());
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  // Opened here rather than in the child, so that a log that cannot be opened falls back to
  // /dev/null instead of failing the start.
  int log_fd = -1;
  if (!log_file.empty())
    log_fd = ::open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (log_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, log_fd, STDERR_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (log_fd >= 0) ::close(log_fd);
  if (rc != 0) {
    if (message) *message = "cannot start " + program.string() + ": " + std::strerror(rc);
    return false;
  }
  if (message) message->clear();
  return true;
}

bool SpawnOrphan(const std::filesystem::path& program, const std::vector<std::string>& args,
                 std::string* message) {
  std::vector<std::string> storage;
  storage.push_back(program.string());
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    if (message) *message = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here to the exec.
    ::setsid();
    if (::fork() == 0) {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      const int null_fd = ::open("/dev/null", O_RDONLY);
      if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
      ::execv(argv[0], argv.data());
      const int error = errno;
      [[maybe_unused]] ssize_t written = ::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::_exit(0);
  }
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    if (message) *message = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    if (message) *message = "cannot start " + program.string() + ": " + std::strerror(error);
    return false;
  }
  if (message) message->clear();
  return true;
}

void IgnoreBrokenPipeSignal() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::optional<ProcessStatus> ReadProcessStatus(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // The command name may hold spaces and parentheses: it runs to the last ')'.
  const size_t open = line.find('(');
  const size_t close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open)
    return std::nullopt;
  ProcessStatus status;
  status.pid = pid;
  status.name = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  if (!(rest >> state >> status.parent >> status.process_group >> status.session >>
        status.terminal >> status.terminal_foreground_group))
    return std::nullopt;
  return status;
}

std::vector<uint32_t> ProcessIds() {
  std::vector<uint32_t> pids;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
      pids.push_back(static_cast<uint32_t>(std::stoul(name)));
  }
  return pids;
}

uint32_t ParentProcessId(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  // The command name may hold spaces and parentheses: the fields resume after the last ')'.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  uint32_t ppid = 0;
  rest >> state >> ppid;
  return ppid;
}

std::optional<std::filesystem::path> ProcessExecutable(uint32_t pid) {
  std::error_code error;
  std::filesystem::path exe =
      std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  if (error || exe.empty()) return std::nullopt;
  // The kernel marks an executable that was deleted or replaced since the start.
  static constexpr std::string_view kDeleted = " (deleted)";
  const std::string& text = exe.native();
  if (text.size() >= kDeleted.size() &&
      text.compare(text.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    return std::nullopt;
  return exe;
}

bool ProcessIsTraced(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::strtoul(line.c_str() + 10, nullptr, 10) != 0;
  }
  return true;
}

}  // namespace kavi::win
