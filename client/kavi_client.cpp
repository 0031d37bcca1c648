// SPDX-License-Identifier: Apache-2.0
#include "client/kavi_client.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "platform/process.h"
#include "platform/server_endpoint.h"

namespace kavi::win {
namespace {

std::atomic<int> g_handshake_failures{0};
std::atomic<bool> g_notice_shown{false};

void CountHandshakeFailure() {
  if (++g_handshake_failures >= kHandshakeFailuresBeforeNotice && !g_notice_shown.exchange(true)) {
    std::fprintf(stderr, "%s\n", kHandshakeNotice);
  }
}

int TimeoutFor(uint16_t kind, int ordinary_ms) {
  switch (static_cast<RequestKind>(kind)) {
    case RequestKind::CompanionRequest0:
    case RequestKind::CompanionRequest1:
    case RequestKind::CompanionRequest3:
      return std::max(kCompanionTimeoutMs, ordinary_ms);
    default:
      return ordinary_ms;
  }
}

}  // namespace

uint16_t OwnArchitecture() {
#if defined(__x86_64__)
  return kArchX64;
#elif defined(__aarch64__)
  return kArchArm64;
#elif defined(__i386__)
  return kArchX86;
#else
  return kArchUnknown;
#endif
}

std::filesystem::path DefaultSocketPath() {
  return CurrentServerEndpoint().socket;
}

int HandshakeFailuresInProcess() {
  return g_handshake_failures;
}

KaviClient::KaviClient(ClientOptions options) : options_(std::move(options)) {
  if (options_.socket_path.empty()) options_.socket_path = DefaultSocketPath();
  if (options_.server_program.empty()) options_.server_program = ProgramFolder() / "KaviServer";
}

uint64_t KaviClient::BackoffRemainingMs() const {
  uint64_t now = TickCount64();
  return now < next_attempt_tick_ ? next_attempt_tick_ - now : 0;
}

void KaviClient::RecordFailure() {
  failures_ = std::min(failures_ + 1, kMaxBackoffFailures);
  next_attempt_tick_ = TickCount64() + std::min<uint64_t>(100ULL << failures_, kMaxBackoffMs);
  LogLine("[Kavi] TIP 無法連接輸入服務，套用重連退避\n");
}

void KaviClient::Disconnect() {
  fd_.reset();
  nonce_ = 0;
  sequence_ = 0;
}

bool KaviClient::Connect(std::string* message) {
  if (connected()) return true;
  if (BackoffRemainingMs() > 0) {
    if (message) *message = "waiting before the next connection attempt";
    return false;
  }
  if (!ConnectOnce(message)) {
    RecordFailure();
    return false;
  }
  if (!Handshake(message)) {
    Disconnect();
    CountHandshakeFailure();
    RecordFailure();
    return false;
  }
  g_handshake_failures = 0;
  failures_ = 0;
  next_attempt_tick_ = 0;
  return true;
}

bool KaviClient::ConnectOnce(std::string* message) {
  // Each wait is bounded, a listener whose backlog is full included.
  fd_ = ConnectSeqpacketWithin(options_.socket_path, kConnectWaitMs);
  if (fd_.valid()) return true;
  if (!options_.start_server) {
    if (message) *message = "no server listens on " + options_.socket_path.string();
    return false;
  }
  std::vector<std::string> args;
  if (!options_.server_arguments.empty()) args.push_back(options_.server_arguments);
  // The server outlives this client: it must not hold the caller's terminal or output pipe.
  const std::filesystem::path log = options_.socket_path.string() + kServerLogSuffix;
  if (!SpawnDetached(options_.server_program, args, log, message)) return false;
  fd_ = ConnectSeqpacketWithin(options_.socket_path, kStartWaitMs);
  if (!fd_.valid()) {
    if (message) *message = "the server did not start listening in time";
    return false;
  }
  return true;
}

bool KaviClient::Handshake(std::string* message) {
  PipeRequest request = MakeRequest(RequestKind::Handshake);
  request.sequence = ++sequence_;
  request.process_id = CurrentProcessId();
  request.thread_id = CurrentThreadId();
  request.architecture = OwnArchitecture();
  if (!SendPacket(fd_.get(), &request, sizeof request)) {
    if (message) *message = "the handshake could not be sent";
    return false;
  }
  PipeResponse reply;
  ssize_t n = ReceivePacketWithin(fd_.get(), &reply, sizeof reply, options_.transaction_timeout_ms);
  if (n != static_cast<ssize_t>(kResponseSize) || reply.magic != kPipeMagic ||
      reply.version != kProtocolVersion || reply.sequence != request.sequence ||
      reply.context_id != request.context_id ||
      reply.kind != static_cast<uint16_t>(ReplyKind::Ok) || reply.session_nonce == 0) {
    if (message) *message = "the server refused the handshake";
    return false;
  }
  nonce_ = reply.session_nonce;
  return true;
}

std::optional<PipeResponse> KaviClient::Transact(PipeRequest request) {
  if (!Connect()) return std::nullopt;
  request.magic = kPipeMagic;
  request.version = kProtocolVersion;
  request.size = kRequestSize;
  request.sequence = ++sequence_;
  request.process_id = CurrentProcessId();
  request.thread_id = CurrentThreadId();
  request.session_nonce = nonce_;
  request.architecture = OwnArchitecture();
  PipeResponse reply;
  ssize_t n = -1;
  if (SendPacket(fd_.get(), &request, sizeof request))
    n = ReceivePacketWithin(fd_.get(), &reply, sizeof reply,
                            TimeoutFor(request.kind, options_.transaction_timeout_ms));
  if (n != static_cast<ssize_t>(kResponseSize)) {
    LogLine("[Kavi] TIP IPC 請求失敗，關閉連接\n");
    Disconnect();
    return std::nullopt;
  }
  return reply;
}

std::optional<PipeResponse> KaviClient::Send(RequestKind kind, uint64_t context_id,
                                             uint32_t argument) {
  PipeRequest request = MakeRequest(kind);
  request.context_id = context_id;
  request.argument = argument;
  return Transact(request);
}

std::optional<PipeResponse> KaviClient::SendKey(uint32_t keysym, uint32_t modifiers,
                                                uint64_t context_id) {
  PipeRequest request = MakeRequest(RequestKind::KeyEvent);
  request.context_id = context_id;
  request.key_code = keysym;
  request.modifiers = modifiers;
  return Transact(request);
}

bool SendHousekeeping(RequestKind kind, const ClientOptions& options) {
  KaviClient client(options);
  std::optional<PipeResponse> reply = client.Send(kind);
  return reply && reply->kind == static_cast<uint16_t>(ReplyKind::Ok);
}

}  // namespace kavi::win
