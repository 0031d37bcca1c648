// SPDX-License-Identifier: Apache-2.0
// The companion client's refresh thread: it keeps the WebSocket session running and fetches the
// 2FA list into the client's cache when the session connects and whenever the companion says
// the list changed. Stopped and joined by its owner before the client goes.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "net/http_cancellation.h"

namespace kavi::win {

class GKClient;

inline constexpr char kListRefreshFailedLog[] = "[Kavi] 二步驗證列表刷新失敗\n";

class GkRefreshThread {
 public:
  explicit GkRefreshThread(GKClient* client);
  ~GkRefreshThread();  // stops
  GkRefreshThread(const GkRefreshThread&) = delete;
  GkRefreshThread& operator=(const GkRefreshThread&) = delete;

  // Sets the stop flag, interrupts the session and the fetch in flight, joins the thread.
  void Stop();

 private:
  void Run();

  GKClient* const client_;
  std::atomic<bool> stop_{false};
  HttpCancellation cancellation_;
  std::thread thread_;
};

// Starts the refresh thread of `client`.
std::unique_ptr<GkRefreshThread> StartGkRefresh(GKClient* client);

}  // namespace kavi::win
