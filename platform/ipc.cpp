// SPDX-License-Identifier: Apache-2.0
#include "platform/ipc.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kavi::win {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

bool FillAddress(const std::filesystem::path& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  const std::string& s = path.native();
  if (s.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, s.c_str(), s.size() + 1);
  return true;
}

UniqueFd NewSocket() {
  return UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
}

}  // namespace

UniqueFd ConnectSeqpacket(const std::filesystem::path& path) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    errno = ENAMETOOLONG;
    return UniqueFd();
  }
  UniqueFd fd = NewSocket();
  if (!fd.valid()) return fd;
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int saved = errno;
    fd.reset();
    errno = saved;
  }
  return fd;
}

BindResult ListenSeqpacket(const std::filesystem::path& path, UniqueFd* listener,
                           std::string* message) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    if (message) *message = "socket path too long: " + path.string();
    return BindResult::Failed;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    UniqueFd probe = ConnectSeqpacket(path);
    if (probe.valid()) {
      if (message) *message = "another process listens on " + path.string();
      return BindResult::Squatted;
    }
    if (errno != ECONNREFUSED || !S_ISSOCK(st.st_mode)) {
      if (message) *message = "cannot replace " + path.string() + ": " + std::strerror(errno);
      return BindResult::Squatted;
    }
    ::unlink(path.c_str());
  }
  UniqueFd fd = NewSocket();
  if (!fd.valid()) {
    if (message) *message = std::string("socket: ") + std::strerror(errno);
    return BindResult::Failed;
  }
  mode_t old_mask = ::umask(0177);
  int rc = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  int saved = errno;
  ::umask(old_mask);
  if (rc != 0) {
    if (message) *message = "bind " + path.string() + ": " + std::strerror(saved);
    return saved == EADDRINUSE ? BindResult::Squatted : BindResult::Failed;
  }
  ::chmod(path.c_str(), 0600);
  if (::listen(fd.get(), 64) != 0) {
    if (message) *message = std::string("listen: ") + std::strerror(errno);
    return BindResult::Failed;
  }
  *listener = std::move(fd);
  if (message) message->clear();
  return BindResult::Bound;
}

UniqueFd AcceptConnection(int listener) {
  for (;;) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EINTR && errno != ECONNABORTED) return UniqueFd();
  }
}

UniqueFd ConnectSeqpacketWithin(const std::filesystem::path& path, int timeout_ms) {
  constexpr auto kRetryPause = std::chrono::milliseconds(2);
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    errno = ENAMETOOLONG;
    return UniqueFd();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    // Non-blocking, so that a full backlog answers EAGAIN instead of holding the caller.
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return fd;
    int rc;
    do {
      rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
      const int flags = ::fcntl(fd.get(), F_GETFL);
      ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
      return fd;
    }
    const int saved = errno;
    // No listener yet, a stale socket file, or no room in the backlog: try again until the
    // deadline. Anything else will not get better.
    if (saved != ENOENT && saved != ECONNREFUSED && saved != EAGAIN) {
      errno = saved;
      return UniqueFd();
    }
    if (std::chrono::steady_clock::now() + kRetryPause >= deadline) {
      errno = saved;
      return UniqueFd();
    }
    std::this_thread::sleep_for(kRetryPause);
  }
}

bool WaitForListener(const std::filesystem::path& path, int timeout_ms) {
  return ConnectSeqpacketWithin(path, timeout_ms).valid();
}

bool FileIdentity(const std::filesystem::path& path, uint64_t* device, uint64_t* inode) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  *device = static_cast<uint64_t>(st.st_dev);
  *inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool ReadPeerCredentials(int fd, PeerCredentials* peer) {
  ucred cred;
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  peer->pid = static_cast<uint32_t>(cred.pid);
  peer->uid = static_cast<uint32_t>(cred.uid);
  return true;
}

bool SendPacket(int fd, const void* data, size_t size) {
  for (;;) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<size_t>(n) == size;
    if (errno != EINTR) return false;
  }
}

ssize_t ReceivePacket(int fd, void* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, capacity, MSG_TRUNC);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

ssize_t ReceivePacketWithin(int fd, void* buffer, size_t capacity, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left < 0) left = 0;
    pollfd p{fd, POLLIN, 0};
    int rc = ::poll(&p, 1, static_cast<int>(left));
    if (rc > 0) return ReceivePacket(fd, buffer, capacity);
    if (rc == 0) return -2;
    if (errno != EINTR) return -1;
  }
}

void ShutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace kavi::win
