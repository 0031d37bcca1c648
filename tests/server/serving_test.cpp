// SPDX-License-Identifier: Apache-2.0
// The accept loop and the connection's edges: stopping without the socket file, rebinding a
// deleted one, connections that never shake hands, and a client connecting to a full backlog.
#include <sys/socket.h>

#include <future>

#include "server/session/client_session.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

using Serving = ServerTest;

// Runs fn on a thread of its own; true when it returned within timeout_ms. A call that hangs is
// left behind (the test fails either way).
template <typename Fn>
bool ReturnsWithin(int timeout_ms, Fn fn) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([done, fn]() mutable {
    fn();
    done->set_value();
  }).detach();
  return finished.wait_for(std::chrono::milliseconds(timeout_ms)) == std::future_status::ready;
}

TEST_F(Serving, StopEndsTheAcceptLoopEvenWhenTheSocketFileIsGone) {
  StartServer();
  auto client = FocusedClient();
  std::filesystem::remove(socket_);
  server_->Stop();
  // The accept loop must notice without anybody connecting to the (missing) path.
  ASSERT_TRUE(ReturnsWithin(3000, [this] { serve_thread_.join(); }))
      << "the accept loop stayed blocked after Stop";
  EXPECT_FALSE(client->Send(RequestKind::QueryServerPid));
}

TEST_F(Serving, ADeletedSocketFileIsBoundAgain) {
  StartServer();
  auto before = FocusedClient();
  std::filesystem::remove(socket_);
  // A client that connected before keeps its session; new clients find the path again.
  bool rebound = false;
  for (int i = 0; i < 100 && !rebound; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rebound = std::filesystem::exists(socket_);
  }
  ASSERT_TRUE(rebound) << "the socket file was not bound again";
  auto after = NewClient();
  EXPECT_TRUE(after->Send(RequestKind::QueryServerPid));
  EXPECT_TRUE(before->Send(RequestKind::QueryServerPid));
}

TEST_F(Serving, ConnectionsThatNeverShakeHandsAreClosedAndFreeTheirSlots) {
  StartServer();
  // Enough silent connections to take every session slot.
  std::vector<std::unique_ptr<RawConnection>> silent;
  for (size_t i = 0; i < kMaxSessions; ++i) {
    silent.push_back(std::make_unique<RawConnection>(socket_));
    ASSERT_TRUE(silent.back()->valid());
  }
  for (auto& connection : silent)
    EXPECT_TRUE(connection->Closed(kHandshakeTimeoutMs * 4)) << "a silent connection stayed open";
  ClientOptions options = Options();
  KaviClient client(options);
  EXPECT_TRUE(client.Send(RequestKind::QueryServerPid));
}

TEST_F(Serving, ConnectGivesUpOnAListenerThatNeverAccepts) {
  // A listener with a full backlog: connect() would block until somebody accepts.
  UniqueFd listener;
  std::string message;
  ASSERT_EQ(ListenSeqpacket(socket_, &listener, &message), BindResult::Bound) << message;
  ASSERT_EQ(::listen(listener.get(), 0), 0);
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 8; ++i) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_.c_str(), sizeof address.sun_path - 1);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    queued.push_back(std::move(fd));
  }
  auto client = std::make_shared<KaviClient>(Options());
  auto connected = std::make_shared<std::atomic<bool>>(true);
  ASSERT_TRUE(ReturnsWithin(3000, [client, connected] { *connected = client->Connect(); }))
      << "connect blocked on a full backlog";
  EXPECT_FALSE(*connected);
}

}  // namespace
}  // namespace kavi::win::testing
