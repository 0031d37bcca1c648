// SPDX-License-Identifier: Apache-2.0
// The reference client of the server: connects (starting the server when none runs), shakes
// hands, and exchanges one request for one reply with the client-side time-outs and the
// reconnect back-off.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/ipc.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr int kTransactionTimeoutMs = 250;
inline constexpr int kCompanionTimeoutMs = 45000;  // kinds that wait for the user's phone
inline constexpr int kConnectWaitMs = 100;
inline constexpr int kStartWaitMs = 200;
// A server started by the client writes its log beside its socket: "<socket>.log".
inline constexpr char kServerLogSuffix[] = ".log";
inline constexpr int kMaxBackoffFailures = 6;
inline constexpr uint64_t kMaxBackoffMs = 5000;
inline constexpr int kHandshakeFailuresBeforeNotice = 3;
inline constexpr char kHandshakeNotice[] =
    "霜楓輸入組件版本不一致或未能完成握手。請先重新啟動 "
    "Windows；若仍無法輸入，請重新安裝最新版本。";

struct ClientOptions {
  std::filesystem::path socket_path;     // empty: this user's and session's server
  std::filesystem::path server_program;  // empty: KaviServer next to this program
  bool start_server = true;
  std::string server_arguments;  // extra arguments for a started server
  // The time-out of an ordinary transaction. Applications keep the default; tests on a loaded
  // machine may allow more.
  int transaction_timeout_ms = kTransactionTimeoutMs;
};

// The architecture code of this process.
uint16_t OwnArchitecture();
std::filesystem::path DefaultSocketPath();

class KaviClient {
 public:
  explicit KaviClient(ClientOptions options = {});

  // Connects and shakes hands unless connected; honours the back-off after failures.
  bool Connect(std::string* message = nullptr);
  bool connected() const { return fd_.valid(); }
  uint64_t nonce() const { return nonce_; }
  void Disconnect();

  // Fills the header (magic, version, size, sequence, process, thread, nonce, architecture),
  // sends the request and waits for the reply. Connects first when needed. On a time-out or a
  // broken connection the connection is closed and the nonce forgotten.
  std::optional<PipeResponse> Transact(PipeRequest request);

  // A request of the given kind with the usual fields.
  std::optional<PipeResponse> Send(RequestKind kind, uint64_t context_id = 0,
                                   uint32_t argument = 0);
  std::optional<PipeResponse> SendKey(uint32_t keysym, uint32_t modifiers, uint64_t context_id);

  // The milliseconds the back-off still forbids a connection attempt.
  uint64_t BackoffRemainingMs() const;
  int failure_count() const { return failures_; }

 private:
  bool ConnectOnce(std::string* message);
  bool Handshake(std::string* message);
  void RecordFailure();

  ClientOptions options_;
  UniqueFd fd_;
  uint64_t sequence_ = 0;
  uint64_t nonce_ = 0;
  int failures_ = 0;
  uint64_t next_attempt_tick_ = 0;
};

// The server program's own use: connect, shake hands, send one request of `kind` with context
// id 0 and an empty text; true only when the reply is Ok.
bool SendHousekeeping(RequestKind kind, const ClientOptions& options);

// Consecutive failed handshakes in this process (reset by a successful one).
int HandshakeFailuresInProcess();

}  // namespace kavi::win
