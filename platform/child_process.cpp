// SPDX-License-Identifier: Apache-2.0
#include "platform/child_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace kavi::win {
namespace {

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// Everything the child needs, prepared before the fork: after it only async-signal-safe calls
// may run.
struct ExecPlan {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  std::string directory;
  int input_fd = -1;   // the child's standard input (read end)
  int output_fd = -1;  // the child's standard output (write end)
  int error_fd = -1;   // its standard error
  int report_fd = -1;  // a failed exec writes errno here
  pid_t parent = 0;
};

[[noreturn]] void ExecChild(const ExecPlan& plan) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) ::_exit(127);  // the parent died before the line above
  ::setpgid(0, 0);
  // The server blocks signals for its watcher thread and ignores SIGPIPE; the child starts
  // with the defaults.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction default_action;
  std::memset(&default_action, 0, sizeof(default_action));
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &default_action, nullptr);
  if (::dup2(plan.input_fd, STDIN_FILENO) < 0 || ::dup2(plan.output_fd, STDOUT_FILENO) < 0 ||
      ::dup2(plan.error_fd, STDERR_FILENO) < 0 ||
      (!plan.directory.empty() && ::chdir(plan.directory.c_str()) != 0)) {
    const int error = errno;
    (void)!::write(plan.report_fd, &error, sizeof(error));
    ::_exit(127);
  }
  // No other descriptor of the server reaches the program (the report pipe closes at the exec).
  ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
  ::execve(plan.argv[0], plan.argv.data(), environ);
  const int error = errno;
  (void)!::write(plan.report_fd, &error, sizeof(error));
  ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(pid_t pid, int input_fd, int output_fd)
    : pid_(pid), input_fd_(input_fd), output_fd_(output_fd) {}

ChildProcess::~ChildProcess() {
  Kill();
}

bool ChildProcess::Running() {
  std::lock_guard<std::mutex> lock(reap_mutex_);
  if (reaped_) return false;
  int status = 0;
  const pid_t waited = ::waitpid(pid_, &status, WNOHANG);
  if (waited == 0) return true;
  reaped_ = true;
  // What the child left behind in its group goes with it.
  ::kill(-pid_, SIGKILL);
  return false;
}

bool ChildProcess::Write(std::string_view bytes, size_t piece_bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(input_fd_, bytes.data(), std::min(bytes.size(), piece_bytes));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

ChildProcess::ReadResult ChildProcess::Read(int wait_ms, size_t max_bytes, std::string* out) {
  pollfd fd{output_fd_, POLLIN, 0};
  const int ready = ::poll(&fd, 1, wait_ms);
  if (ready < 0) return errno == EINTR ? ReadResult::kNoData : ReadResult::kWaitFailed;
  if (ready == 0) return ReadResult::kNoData;
  const size_t before = out->size();
  out->resize(before + max_bytes);
  ssize_t got;
  do {
    got = ::read(output_fd_, out->data() + before, max_bytes);
  } while (got < 0 && errno == EINTR);
  out->resize(before + static_cast<size_t>(got > 0 ? got : 0));
  if (got > 0) return ReadResult::kData;
  if (got == 0) return ReadResult::kEnded;
  return errno == EAGAIN ? ReadResult::kNoData : ReadResult::kReadFailed;
}

void ChildProcess::Terminate() {
  std::lock_guard<std::mutex> lock(reap_mutex_);
  if (reaped_) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
}

void ChildProcess::Kill() {
  CloseFd(&input_fd_);
  CloseFd(&output_fd_);
  std::lock_guard<std::mutex> lock(reap_mutex_);
  if (reaped_) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);  // in case it had not yet made its own group
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

ProcessLauncher::ProcessLauncher() : thread_(&ProcessLauncher::Run, this) {}

ProcessLauncher::~ProcessLauncher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ProcessLauncher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || task_; });
    if (stopping_) return;
    task_();
    task_ = nullptr;
    changed_.notify_all();
  }
}

std::unique_ptr<ChildProcess> ProcessLauncher::Launch(const ChildCommand& command, Failure* failure,
                                                      std::string* detail) {
  ExecPlan plan;
  plan.storage.push_back(command.program.string());
  plan.storage.insert(plan.storage.end(), command.args.begin(), command.args.end());
  for (std::string& s : plan.storage) plan.argv.push_back(s.data());
  plan.argv.push_back(nullptr);
  plan.directory = command.working_directory.string();
  plan.parent = ::getpid();

  int input[2] = {-1, -1}, output[2] = {-1, -1}, report[2] = {-1, -1};
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0 ||
      ::pipe2(report, O_CLOEXEC) != 0) {
    *detail = std::string("pipe: ") + std::strerror(errno);
    for (int* fd : {&input[0], &input[1], &output[0], &output[1], &report[0], &report[1]})
      CloseFd(fd);
    *failure = Failure::kPipes;
    return nullptr;
  }
  // The server's end of the output is polled, never read blocking.
  ::fcntl(output[0], F_SETFL, O_NONBLOCK);
  int log_fd = -1;
  if (!command.stderr_log.empty())
    log_fd = ::open(command.stderr_log.c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  plan.input_fd = input[0];
  plan.output_fd = output[1];
  plan.error_fd = log_fd >= 0 ? log_fd : output[1];
  plan.report_fd = report[1];

  pid_t pid = -1;
  int fork_error = 0;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !task_; });
    bool done = false;
    task_ = [&] {
      pid = ::fork();
      if (pid == 0) ExecChild(plan);
      fork_error = errno;
      done = true;
    };
    changed_.notify_all();
    changed_.wait(lock, [&] { return done; });
  }
  CloseFd(&input[0]);
  CloseFd(&output[1]);
  CloseFd(&log_fd);
  CloseFd(&report[1]);
  if (pid < 0) {
    *detail = std::string("fork: ") + std::strerror(fork_error);
    for (int* fd : {&input[1], &output[0], &report[0]}) CloseFd(fd);
    *failure = Failure::kStart;
    return nullptr;
  }
  // The exec closes the report pipe; bytes in it are the errno of a failed start.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &exec_error, sizeof(exec_error));
  } while (got < 0 && errno == EINTR);
  CloseFd(&report[0]);
  auto child = std::make_unique<ChildProcess>(pid, input[1], output[0]);
  if (got > 0) {
    *detail = command.program.string() + ": " + std::strerror(exec_error);
    child.reset();  // reaps it
    *failure = Failure::kStart;
    return nullptr;
  }
  *failure = Failure::kNone;
  detail->clear();
  return child;
}

}  // namespace kavi::win
