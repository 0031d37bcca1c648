// SPDX-License-Identifier: Apache-2.0
#include "server/serve/pipe_server.h"

#include <system_error>

#include "platform/log.h"
#include "server/session/client_session.h"

namespace kavi::win {

PipeServer::PipeServer(std::string user_sid, std::filesystem::path socket_path,
                       const SessionServices& services, ServerShared& shared)
    : user_sid_(std::move(user_sid)),
      socket_path_(std::move(socket_path)),
      services_(services),
      shared_(shared) {}

PipeServer::~PipeServer() {
  Stop();
  Teardown();
}

PipeServer::ListenResult PipeServer::Listen(std::string* message) {
  switch (ListenSeqpacket(socket_path_, &listener_, message)) {
    case BindResult::Bound:
      RememberSocketFile();
      return ListenResult::Listening;
    case BindResult::Squatted:
      return ListenResult::Squatted;
    case BindResult::Failed:
      break;
  }
  return ListenResult::Failed;
}

void PipeServer::Serve() {
  if (!listener_.valid()) return;
  while (!stop_) {
    {
      std::unique_lock<std::mutex> lock(threads_mutex_);
      slot_free_.wait(
          lock, [this] { return stop_ || threads_.size() - finished_.size() < kMaxSessions; });
    }
    ReapFinished();
    if (stop_) break;
    const int fds[1] = {listener_.get()};
    bool ready[1] = {false};
    const Wakeup::WaitResult woke = wakeup_.Wait(fds, kSocketCheckMs, ready);
    if (stop_) break;
    RebindIfRemoved();
    if (woke != Wakeup::WaitResult::kReady) continue;
    UniqueFd client = AcceptConnection(listener_.get());
    if (stop_) break;
    if (client.valid()) StartSession(std::move(client));
  }
}

void PipeServer::StartSession(UniqueFd client) {
  shared_.pipes.Add(client.get());
  std::lock_guard<std::mutex> lock(threads_mutex_);
  const uint64_t id = next_id_++;
  threads_.emplace(id, std::thread([this, id, client = std::move(client)]() mutable {
                     ServeClient(std::move(client), user_sid_, services_, shared_);
                     std::lock_guard<std::mutex> done(threads_mutex_);
                     finished_.push_back(id);
                     slot_free_.notify_all();
                   }));
}

void PipeServer::RememberSocketFile() {
  if (!FileIdentity(socket_path_, &socket_device_, &socket_inode_)) socket_inode_ = 0;
}

void PipeServer::RebindIfRemoved() {
  uint64_t device = 0;
  uint64_t inode = 0;
  if (FileIdentity(socket_path_, &device, &inode)) return;  // ours, or another's: left alone
  UniqueFd listener;
  std::string message;
  if (ListenSeqpacket(socket_path_, &listener, &message) != BindResult::Bound) {
    LogLine("[Kavi] socket file " + socket_path_.string() + " is gone and cannot be bound again: " +
            message);
    return;
  }
  // Clients still queued on the old listener are let go; they reconnect to the new one.
  listener_ = std::move(listener);
  RememberSocketFile();
  LogLine("[Kavi] socket file " + socket_path_.string() + " was gone; listening there again");
}

void PipeServer::Stop() {
  if (stop_.exchange(true)) return;
  shared_.pipes.DisconnectAll();
  {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    slot_free_.notify_all();
  }
  wakeup_.Wake();
}

void PipeServer::Teardown() {
  shared_.pipes.DisconnectAll();
  std::map<uint64_t, std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    threads.swap(threads_);
    finished_.clear();
  }
  for (auto& [id, thread] : threads)
    if (thread.joinable()) thread.join();
  if (listener_.valid()) {
    listener_.reset();
    // Only the file this server bound: a path taken over by somebody else stays theirs.
    uint64_t device = 0;
    uint64_t inode = 0;
    if (FileIdentity(socket_path_, &device, &inode) && device == socket_device_ &&
        inode == socket_inode_) {
      std::error_code ignored;
      std::filesystem::remove(socket_path_, ignored);
    }
  }
}

size_t PipeServer::live_sessions() {
  std::lock_guard<std::mutex> lock(threads_mutex_);
  return threads_.size() - finished_.size();
}

void PipeServer::ReapFinished() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    for (uint64_t id : finished_) {
      auto it = threads_.find(id);
      if (it == threads_.end()) continue;
      done.push_back(std::move(it->second));
      threads_.erase(it);
    }
    finished_.clear();
  }
  for (std::thread& t : done) t.join();
}

}  // namespace kavi::win
