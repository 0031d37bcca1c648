// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_refresh.h"

#include <string>
#include <vector>

#include "companion/gk_client.h"
#include "platform/log.h"

namespace kavi::win {

GkRefreshThread::GkRefreshThread(GKClient* client) : client_(client) {
  thread_ = std::thread([this] { Run(); });
}

GkRefreshThread::~GkRefreshThread() {
  Stop();
}

void GkRefreshThread::Stop() {
  stop_ = true;
  cancellation_.Cancel();
  client_->Interrupt();
  if (thread_.joinable()) thread_.join();
}

void GkRefreshThread::Run() {
  // A session that connects, and every list change it announces, fetch the list again.
  client_->RunSession(stop_, [this](GkEventKind) {
    if (stop_ || !client_->IsPaired()) return;
    std::string error;
    if (!client_->FetchTwoFactor(nullptr, &error, &cancellation_)) LogLine(kListRefreshFailedLog);
  });
}

std::unique_ptr<GkRefreshThread> StartGkRefresh(GKClient* client) {
  return std::make_unique<GkRefreshThread>(client);
}

}  // namespace kavi::win
