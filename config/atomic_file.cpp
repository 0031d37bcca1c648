#include "config/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kavi::win {

namespace {

constexpr char kCreateFailed[] = "無法建立暫存配置";
constexpr char kReplaceFailed[] = "原子更新配置失敗";

thread_local AtomicWriteStep injected_fault = AtomicWriteStep::kNone;

bool Injected(AtomicWriteStep step) {
  return injected_fault == step;
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Makes the rename itself durable; the file is already in place, so a failure here is not one
// of the write.
void FlushDirectory(const std::filesystem::path& directory) {
  int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

ScopedAtomicWriteFault::ScopedAtomicWriteFault(AtomicWriteStep step) : previous_(injected_fault) {
  injected_fault = step;
}

ScopedAtomicWriteFault::~ScopedAtomicWriteFault() {
  injected_fault = previous_;
}

namespace server {

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* message) {
  if (message != nullptr) message->clear();
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  int fd = Injected(AtomicWriteStep::kCreate)
               ? -1
               : ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (message != nullptr) *message = kCreateFailed;
    return false;
  }
  bool ok = !Injected(AtomicWriteStep::kWrite) && WriteAll(fd, bytes);
  ok = ok && !Injected(AtomicWriteStep::kFlush) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && !Injected(AtomicWriteStep::kRename) &&
       std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    if (message != nullptr) *message = kReplaceFailed;
    return false;
  }
  FlushDirectory(target.parent_path());
  return true;
}

}  // namespace server
}  // namespace kavi::win
