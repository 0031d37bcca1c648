// SPDX-License-Identifier: Apache-2.0
// Admission, handshake and validation over a real socket.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

using Protocol = ServerTest;

TEST_F(Protocol, HandshakeIssuesANonceAndTheClientUsesIt) {
  StartServer();
  RawConnection raw(socket_);
  ASSERT_TRUE(raw.valid());
  PipeRequest hello = raw.Request(RequestKind::Handshake);
  hello.context_id = 0;
  ASSERT_TRUE(raw.Send(hello));
  auto reply = raw.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(+reply->kind, static_cast<uint16_t>(ReplyKind::Ok));
  EXPECT_EQ(reply->result, 1);
  EXPECT_NE(+reply->session_nonce, 0u);
  EXPECT_EQ(+reply->sequence, +hello.sequence);
  EXPECT_EQ(reply->tail_flag, 1);
  raw.nonce_ = reply->session_nonce;

  ASSERT_TRUE(raw.Send(raw.Request(RequestKind::QueryServerPid)));
  reply = raw.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(+reply->kind, static_cast<uint16_t>(ReplyKind::Ok));
  EXPECT_EQ(+reply->value, CurrentProcessId());
}

TEST_F(Protocol, FirstRequestMustBeAHandshakeWithTheRightArchitecture) {
  StartServer();
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Send(raw.Request(RequestKind::FocusIn)));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    PipeRequest hello = raw.Request(RequestKind::Handshake);
    hello.architecture = 0;
    ASSERT_TRUE(raw.Send(hello));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    PipeRequest hello = raw.Request(RequestKind::Handshake);
    hello.architecture = OwnArchitecture() == kArchArm64 ? kArchX64 : kArchArm64;
    ASSERT_TRUE(raw.Send(hello));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    PipeRequest hello = raw.Request(RequestKind::Handshake);
    hello.process_id = CurrentProcessId() + 1;
    ASSERT_TRUE(raw.Send(hello));
    EXPECT_TRUE(raw.Closed());
  }
}

TEST_F(Protocol, VersionMismatchGetsExactlyOneReplyWrongMagicNone) {
  StartServer();
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest old = raw.Request(RequestKind::KeyEvent);
    old.version = 12;
    old.context_id = 77;
    ASSERT_TRUE(raw.Send(old));
    auto reply = raw.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(+reply->kind, static_cast<uint16_t>(ReplyKind::Refused));
    EXPECT_EQ(std::string(TextFieldView(reply->commit_text)), "protocol-version-mismatch");
    EXPECT_EQ(+reply->context_id, 77u);
    EXPECT_EQ(+reply->sequence, +old.sequence);
    EXPECT_EQ(+reply->process_id, 0u);
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    PipeRequest wrong = raw.Request(RequestKind::Handshake);
    wrong.magic = 0x12345678;
    ASSERT_TRUE(raw.Send(wrong));
    EXPECT_TRUE(raw.Closed());
  }
  {
    // A bad size field with the right magic is a header failure too.
    RawConnection raw(socket_);
    PipeRequest wrong = raw.Request(RequestKind::Handshake);
    wrong.size = 171;
    ASSERT_TRUE(raw.Send(wrong));
    auto reply = raw.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::string(TextFieldView(reply->commit_text)), "protocol-version-mismatch");
    EXPECT_TRUE(raw.Closed());
  }
}

TEST_F(Protocol, ShortLongAndReplayedPacketsEndTheSession) {
  StartServer();
  {
    RawConnection raw(socket_);
    PipeRequest hello = raw.Request(RequestKind::Handshake);
    ASSERT_TRUE(raw.Send(&hello, 100));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    char big[200] = {};
    PipeRequest hello = raw.Request(RequestKind::Handshake);
    std::memcpy(big, &hello, sizeof hello);
    ASSERT_TRUE(raw.Send(big, sizeof big));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest first = raw.Request(RequestKind::QueryServerPid);
    ASSERT_TRUE(raw.Send(first));
    ASSERT_TRUE(raw.Receive());
    ASSERT_TRUE(raw.Send(first));  // the same sequence again
    EXPECT_TRUE(raw.Closed());
  }
}

TEST_F(Protocol, NonceArchitectureAndThreadMustMatchAfterTheHandshake) {
  StartServer();
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest r = raw.Request(RequestKind::QueryServerPid);
    r.session_nonce ^= 1;
    ASSERT_TRUE(raw.Send(r));
    EXPECT_TRUE(raw.Closed());
  }
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest r = raw.Request(RequestKind::QueryServerPid);
    r.thread_id = 1;  // init's thread, not ours
    ASSERT_TRUE(raw.Send(r));
    EXPECT_TRUE(raw.Closed());
  }
  {
    // Another thread of the client process is fine.
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest r = raw.Request(RequestKind::QueryServerPid);
    std::optional<PipeResponse> reply;
    std::thread other([&] {
      r.thread_id = CurrentThreadId();
      raw.Send(r);
      reply = raw.Receive();
    });
    other.join();
    ASSERT_TRUE(reply);
    EXPECT_EQ(+reply->kind, static_cast<uint16_t>(ReplyKind::Ok));
  }
}

TEST_F(Protocol, AClientOfAnotherUserIsDroppedBeforeAnyReply) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to drop to another uid";
  StartServer();
  // Let the other user reach the socket so that the server's own check is what stops it.
  ::chmod(dir_.c_str(), 0755);
  ::chmod(socket_.c_str(), 0666);
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipefd[0]);
    char verdict = 'x';
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
      RawConnection raw(socket_);
      if (!raw.valid()) {
        verdict = 'c';
      } else {
        PipeRequest hello = raw.Request(RequestKind::Handshake);
        raw.Send(hello);
        verdict = raw.Receive(2000) ? 'r' : 'n';
      }
    }
    (void)!::write(pipefd[1], &verdict, 1);
    ::_exit(0);
  }
  ::close(pipefd[1]);
  char verdict = 0;
  ASSERT_EQ(::read(pipefd[0], &verdict, 1), 1);
  ::close(pipefd[0]);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(verdict, 'n') << "c: could not connect, r: got a reply, x: could not drop root";
}

TEST_F(Protocol, ASecondListenerOnALivePathIsASquatterAndAStaleSocketIsReplaced) {
  StartServer();
  PipeServer second(CurrentUserSid(), socket_, services_, shared_);
  std::string message;
  EXPECT_EQ(second.Listen(&message), PipeServer::ListenResult::Squatted);
  StopServer();

  // A socket file left by a dead server: connect is refused, so it may be replaced.
  {
    UniqueFd stale(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket_.c_str());
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  StartServer();
  auto client = NewClient();
  EXPECT_TRUE(client->Connect());
}

TEST_F(Protocol, ClientBacksOffAfterFailuresAndCountsHandshakes) {
  // Nobody listens: every attempt fails and the wait doubles up to its cap.
  auto client = NewClient();
  EXPECT_FALSE(client->Connect());
  EXPECT_EQ(client->failure_count(), 1);
  uint64_t wait = client->BackoffRemainingMs();
  EXPECT_GT(wait, 100u);
  EXPECT_LE(wait, 200u);
  EXPECT_FALSE(client->Connect());  // refused at once while backing off
  EXPECT_EQ(client->failure_count(), 1);

  // A listener that closes every connection makes the handshake fail.
  UniqueFd listener;
  std::string message;
  ASSERT_EQ(ListenSeqpacket(socket_, &listener, &message), BindResult::Bound);
  std::atomic<bool> done{false};
  std::thread closer([&] {
    while (!done) {
      UniqueFd c = AcceptConnection(listener.get());
    }
  });
  int before = HandshakeFailuresInProcess();
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(client->BackoffRemainingMs() + 5));
    EXPECT_FALSE(client->Connect());
  }
  EXPECT_EQ(HandshakeFailuresInProcess(), before + 3);
  EXPECT_EQ(client->failure_count(), 4);
  done = true;
  ConnectSeqpacket(socket_);
  closer.join();
  listener.reset();
  ::unlink(socket_.c_str());

  StartServer();
  std::this_thread::sleep_for(std::chrono::milliseconds(client->BackoffRemainingMs() + 5));
  EXPECT_TRUE(client->Connect());
  EXPECT_EQ(client->failure_count(), 0);
  EXPECT_EQ(HandshakeFailuresInProcess(), 0);
}

TEST_F(Protocol, ATransactionThatTimesOutClosesTheConnectionAndForgetsTheNonce) {
  // A server that shakes hands and then never answers.
  UniqueFd listener;
  std::string message;
  ASSERT_EQ(ListenSeqpacket(socket_, &listener, &message), BindResult::Bound);
  std::atomic<bool> done{false};
  std::thread silent([&] {
    // The client probes for a listener first: skip connections that close without a word.
    UniqueFd peer;
    PipeRequest hello;
    do {
      peer = AcceptConnection(listener.get());
    } while (peer.valid() && ReceivePacket(peer.get(), &hello, sizeof hello) != kRequestSize);
    PipeResponse ok = MakeSimpleReply(hello, ReplyKind::Ok, true);
    ok.session_nonce = 0xABCDEF;
    SendPacket(peer.get(), &ok, sizeof ok);
    PipeRequest ignored;
    ReceivePacket(peer.get(), &ignored, sizeof ignored);
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ClientOptions options;
  options.socket_path = socket_;
  options.start_server = false;
  KaviClient client(options);  // the default 250 ms
  ASSERT_TRUE(client.Connect());
  EXPECT_EQ(client.nonce(), 0xABCDEFu);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Send(RequestKind::QueryServerPid));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(240));
  EXPECT_FALSE(client.connected());
  EXPECT_EQ(client.nonce(), 0u);
  done = true;
  silent.join();
}

}  // namespace
}  // namespace kavi::win::testing
