// SPDX-License-Identifier: Apache-2.0
// The accept loop: one session thread per connected client, at most 255 at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc.h"
#include "platform/wakeup.h"
#include "server/session/session_services.h"

namespace kavi::win {

inline constexpr size_t kMaxSessions = 255;
// How often the accept loop checks that its socket file is still there.
inline constexpr int kSocketCheckMs = 500;

class PipeServer {
 public:
  PipeServer(std::string user_sid, std::filesystem::path socket_path,
             const SessionServices& services, ServerShared& shared);
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  enum class ListenResult { Listening, Squatted, Failed };
  // Binds the socket path. Squatted: another process listens there, so this server must not.
  ListenResult Listen(std::string* message);

  // Accepts clients until Stop is called; each runs ServeClient on a thread of its own. A socket
  // file that disappears (a cleaner of the runtime directory) is bound again.
  void Serve();
  // From any thread: sets the stop flag, disconnects every client and wakes the accept loop
  // (through a wake-up of its own, so a missing socket file cannot keep it waiting).
  void Stop();
  bool stopping() const { return stop_; }
  // After Serve returned: disconnects what is left and joins every session thread.
  void Teardown();

  size_t live_sessions();

 private:
  void ReapFinished();
  void StartSession(UniqueFd client);
  // Binds the socket path again when its file is gone; the old listener stays until then.
  void RebindIfRemoved();
  void RememberSocketFile();

  const std::string user_sid_;
  const std::filesystem::path socket_path_;
  const SessionServices& services_;
  ServerShared& shared_;

  std::atomic<bool> stop_{false};
  UniqueFd listener_;
  Wakeup wakeup_;
  uint64_t socket_device_ = 0;
  uint64_t socket_inode_ = 0;
  std::mutex threads_mutex_;
  std::condition_variable slot_free_;
  std::map<uint64_t, std::thread> threads_;
  std::vector<uint64_t> finished_;
  uint64_t next_id_ = 0;
};

}  // namespace kavi::win
