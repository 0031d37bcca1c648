// SPDX-License-Identifier: Apache-2.0
// Local message sockets (SOCK_SEQPACKET: one request = one packet, one reply = one packet).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kavi::win {

// Owns a file descriptor; closes it on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct PeerCredentials {
  uint32_t pid = 0;
  uint32_t uid = 0;
};

enum class BindResult { Bound, Squatted, Failed };

// Binds a listening SOCK_SEQPACKET socket at path (mode 0600). A path with a live listener is
// Squatted; a stale socket of a dead server (connect refused) is replaced.
BindResult ListenSeqpacket(const std::filesystem::path& path, UniqueFd* listener,
                           std::string* message);
// Waits for a connection; returns an invalid fd on failure.
UniqueFd AcceptConnection(int listener);
// Connects to path; invalid fd on failure (errno kept). Blocks while the listener's backlog is
// full: clients use ConnectSeqpacketWithin.
UniqueFd ConnectSeqpacket(const std::filesystem::path& path);
// Connects to path, waiting at most timeout_ms for a listener to appear or for room in its
// backlog; invalid fd when none accepted the connection in time.
UniqueFd ConnectSeqpacketWithin(const std::filesystem::path& path, int timeout_ms);
// Waits up to timeout_ms for a listener at path to accept connections.
bool WaitForListener(const std::filesystem::path& path, int timeout_ms);
// The identity (device and inode) of the file at path; false when there is none.
bool FileIdentity(const std::filesystem::path& path, uint64_t* device, uint64_t* inode);
bool ReadPeerCredentials(int fd, PeerCredentials* peer);

// Sends one packet; true when all bytes went out.
bool SendPacket(int fd, const void* data, size_t size);
// Receives one packet into buffer; returns its size, 0 on orderly close, -1 on failure. A packet
// longer than capacity is reported with its real size (truncated in the buffer).
ssize_t ReceivePacket(int fd, void* buffer, size_t capacity);
// As ReceivePacket, waiting at most timeout_ms; -2 on time-out.
ssize_t ReceivePacketWithin(int fd, void* buffer, size_t capacity, int timeout_ms);
// Wakes a thread blocked on fd (shutdown both directions) without closing it.
void ShutdownSocket(int fd);

}  // namespace kavi::win
