// SPDX-License-Identifier: Apache-2.0
// A real server (PipeServer on a thread, fake engine) on a private socket, and helpers to talk
// to it with the reference client or with raw packets.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "server/engine/engine_lock.h"
#include "server/serve/pipe_server.h"
#include "tests/common/temp_dir.h"
#include "tests/fake_engine/fake_engine.h"

namespace kavi::win::testing {

// Reply kinds as the wire carries them.
constexpr uint16_t kState = static_cast<uint16_t>(ReplyKind::State);
constexpr uint16_t kOk = static_cast<uint16_t>(ReplyKind::Ok);
constexpr uint16_t kRefused = static_cast<uint16_t>(ReplyKind::Refused);
constexpr uint16_t kBusy = static_cast<uint16_t>(ReplyKind::Busy);

// Records what sessions asked of the candidate window.
class RecordingWindow : public CandidateWindowPort {
 public:
  void ShowReply(const PipeResponse& reply) override {
    std::lock_guard<std::mutex> l(mutex);
    ++shows;
    last_shown = reply;
  }
  void SetAnchor(const ScreenRect& caret, bool has_anchor) override {
    std::lock_guard<std::mutex> l(mutex);
    anchor = caret;
    anchored = has_anchor;
  }
  void ShowExpandedPanel(std::vector<PanelItem> rows, int highlighted, int, bool) override {
    std::lock_guard<std::mutex> l(mutex);
    panel_rows = std::move(rows);
    panel_highlight = highlighted;
    panel_open = true;
  }
  void SetPanelHighlight(int row) override {
    std::lock_guard<std::mutex> l(mutex);
    panel_highlight = row;
  }
  void ClearExpandedPanel() override {
    std::lock_guard<std::mutex> l(mutex);
    panel_open = false;
  }
  void ClearContent() override {
    std::lock_guard<std::mutex> l(mutex);
    ++clears;
    panel_open = false;
  }
  void SetTheme(const std::string&, bool, const std::string&) override {}
  void PreviewTheme(const std::string& id, bool, const ScreenRect&) override {
    std::lock_guard<std::mutex> l(mutex);
    previewed = id;
  }

  std::mutex mutex;
  int shows = 0, clears = 0;
  PipeResponse last_shown{};
  ScreenRect anchor{};
  bool anchored = false;
  std::vector<PanelItem> panel_rows;
  // Read by tests while a session that ends on its own thread may clear them.
  std::atomic<int> panel_highlight{-1};
  std::atomic<bool> panel_open{false};
  std::string previewed;
};

// The fake engine's state as the sessions left it: they change it under the engine lock.
inline std::string FakeInput() {
  std::lock_guard<std::mutex> hold(EngineLock());
  return Fake().input;
}
inline int FakeClearCalls() {
  std::lock_guard<std::mutex> hold(EngineLock());
  return Fake().clear_calls;
}
inline int FakeKeyCalls() {
  std::lock_guard<std::mutex> hold(EngineLock());
  return Fake().process_key_calls;
}

class ServerTest : public ::testing::Test {
 protected:
  int WindowClears() {
    std::lock_guard<std::mutex> l(window_.mutex);
    return window_.clears;
  }
  int WindowShows() {
    std::lock_guard<std::mutex> l(window_.mutex);
    return window_.shows;
  }

  void SetUp() override {
    Fake().Reset();
    socket_ = dir_ / "Kavi.sock";
    services_.window = &window_;
    services_.shutdown = [this] { server_->Stop(); };
  }

  void TearDown() override { StopServer(); }

  void StartServer() {
    server_ = std::make_unique<PipeServer>(CurrentUserSid(), socket_, services_, shared_);
    std::string message;
    ASSERT_EQ(server_->Listen(&message), PipeServer::ListenResult::Listening) << message;
    serve_thread_ = std::thread([this] { server_->Serve(); });
  }

  void StopServer() {
    if (!server_) return;
    server_->Stop();
    if (serve_thread_.joinable()) serve_thread_.join();
    server_->Teardown();
    server_.reset();
  }

  ClientOptions Options() const {
    ClientOptions options;
    options.socket_path = socket_;
    options.start_server = false;
    // Generous: the suite runs on a loaded machine; the protocol does not depend on it.
    options.transaction_timeout_ms = 5000;
    return options;
  }

  std::unique_ptr<KaviClient> NewClient() { return std::make_unique<KaviClient>(Options()); }

  // A client that has focus for context `context`.
  std::unique_ptr<KaviClient> FocusedClient(uint64_t context = 1) {
    auto client = NewClient();
    auto reply = client->Send(RequestKind::FocusIn, context);
    EXPECT_TRUE(reply.has_value());
    if (reply) {
      EXPECT_EQ(reply->kind, kState);
    }
    return client;
  }

  static std::string Text(const char* field, size_t n) {
    return std::string(TextFieldView(field, n));
  }
  template <size_t N>
  static std::string Text(const char (&field)[N]) {
    return std::string(TextFieldView(field, N));
  }

  TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  std::filesystem::path socket_;
  ServerShared shared_;
  SessionServices services_;
  RecordingWindow window_;
  std::unique_ptr<PipeServer> server_;
  std::thread serve_thread_;
};

// A connection that sends hand-made packets.
class RawConnection {
 public:
  explicit RawConnection(const std::filesystem::path& socket) : fd_(ConnectSeqpacket(socket)) {}
  bool valid() const { return fd_.valid(); }

  PipeRequest Request(RequestKind kind) {
    PipeRequest r = MakeRequest(kind);
    r.sequence = ++sequence_;
    r.process_id = CurrentProcessId();
    r.thread_id = CurrentThreadId();
    r.session_nonce = nonce_;
    r.architecture = OwnArchitecture();
    return r;
  }

  bool Send(const void* data, size_t size) { return SendPacket(fd_.get(), data, size); }
  bool Send(const PipeRequest& r) { return Send(&r, sizeof r); }

  // The next reply, or nullopt when the server closed the connection (or said nothing in time).
  std::optional<PipeResponse> Receive(int timeout_ms = 2000) {
    PipeResponse reply;
    ssize_t n = ReceivePacketWithin(fd_.get(), &reply, sizeof reply, timeout_ms);
    if (n != static_cast<ssize_t>(kResponseSize)) return std::nullopt;
    return reply;
  }

  // True when the server closed the connection.
  bool Closed(int timeout_ms = 2000) {
    char byte;
    return ReceivePacketWithin(fd_.get(), &byte, 1, timeout_ms) == 0;
  }

  bool Handshake() {
    if (!Send(Request(RequestKind::Handshake))) return false;
    auto reply = Receive();
    if (!reply || reply->kind != kOk) return false;
    nonce_ = reply->session_nonce;
    return nonce_ != 0;
  }

  uint64_t sequence_ = 0;
  uint64_t nonce_ = 0;

 private:
  UniqueFd fd_;
};

}  // namespace kavi::win::testing
