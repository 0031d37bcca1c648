// SPDX-License-Identifier: Apache-2.0
// The one connection of a front-end process to the server, as the input contexts see it.
#pragma once

#include <cstdint>
#include <optional>

#include "client/kavi_client.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

class RequestChannel {
 public:
  virtual ~RequestChannel() = default;
  // Connects (and shakes hands) unless connected; false while the server cannot be reached.
  virtual bool EnsureConnected() = 0;
  // Names the current connection; changes on every reconnect, 0 while disconnected. A new
  // connection is a new session on the server: focus must be claimed again.
  virtual uint64_t ConnectionId() const = 0;
  // One request (the channel fills the header) for one reply; nullopt when the server could
  // not be reached or did not answer in time.
  virtual std::optional<PipeResponse> Transact(const PipeRequest& request) = 0;
};

// The channel over the reference client, with its time-outs, back-off and server start.
class ClientChannel : public RequestChannel {
 public:
  explicit ClientChannel(ClientOptions options = {}) : client_(std::move(options)) {}
  bool EnsureConnected() override { return client_.Connect(); }
  uint64_t ConnectionId() const override { return client_.nonce(); }
  std::optional<PipeResponse> Transact(const PipeRequest& request) override {
    return client_.Transact(request);
  }
  KaviClient& client() { return client_; }

 private:
  KaviClient client_;
};

}  // namespace kavi::win
