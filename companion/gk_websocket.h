// SPDX-License-Identifier: Apache-2.0
// The companion client's WebSocket: one TLS connection to the companion service upgraded to a
// WebSocket (Boost.Beast over OpenSSL), used from one thread with blocking calls that each have
// a time-out. Abort, from any thread, makes the blocked call (or the next one) fail at once, so
// that shutdown and re-pairing never wait for the network.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "net/http_cancellation.h"

namespace kavi::win {

struct GkWebSocketOptions {
  std::string host;  // an IPv6 literal keeps its brackets
  uint16_t port = 443;
  std::string target;  // path and query
  std::filesystem::path extra_ca_bundle;
  std::string user_agent;
  std::chrono::milliseconds resolve_timeout{5000};
  std::chrono::milliseconds connect_timeout{5000};
  std::chrono::milliseconds send_timeout{15000};
  std::chrono::milliseconds receive_timeout{30000};
};

inline constexpr char kGkWebSocketHttpPrefix[] = "GK WebSocket HTTP ";
inline constexpr char kGkWebSocketClosed[] = "GK WebSocket closed";
inline constexpr char kGkWebSocketTimedOut[] = "GK WebSocket timed out";
inline constexpr char kGkWebSocketAborted[] = "GK WebSocket aborted";

class GkWebSocket final : public HttpTransferHandle {
 public:
  GkWebSocket();
  ~GkWebSocket() override;
  GkWebSocket(const GkWebSocket&) = delete;
  GkWebSocket& operator=(const GkWebSocket&) = delete;

  // Resolves, connects, verifies the server's certificate against the system's store and the
  // extra bundle, and upgrades. A refused upgrade fails with "GK WebSocket HTTP <status>".
  bool Connect(const GkWebSocketOptions& options, std::string* error);
  // The next message, waiting up to the receive time-out. False when the socket closed, the
  // time-out passed, Abort was called or the connection failed.
  bool Read(std::string* message, std::string* error);
  // Sends one binary message.
  bool Write(std::string_view message, std::string* error);
  // Closes with status 1000 (normal closure), then drops the connection.
  void Close();
  // Any thread.
  void Abort() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kavi::win
