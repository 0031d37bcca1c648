// SPDX-License-Identifier: Apache-2.0
// Admission, handshake and validation over a real socket.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <functional>

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
  EXPECT_EQ(+reply->kind, kOk);
  EXPECT_EQ(reply->result, 1);
  EXPECT_NE(+reply->session_nonce, 0u);
  EXPECT_EQ(+reply->sequence, +hello.sequence);
  EXPECT_EQ(reply->tail_flag, 1);
  raw.nonce_ = reply->session_nonce;

  ASSERT_TRUE(raw.Send(raw.Request(RequestKind::QueryServerPid)));
  reply = raw.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(+reply->kind, kOk);
  EXPECT_EQ(+reply->value, CurrentProcessId());
}

// Each of these ends the session without a word: a first request that is no handshake, a
// handshake from another architecture or process, a packet of the wrong magic or size, and after
// the handshake a wrong nonce or a thread of another process.
TEST_F(Protocol, PacketsThatEndTheSessionWithoutAReply) {
  StartServer();
  const uint32_t other_architecture = OwnArchitecture() == kArchArm64 ? kArchX64 : kArchArm64;
  const struct {
    const char* what;
    bool after_handshake;
    RequestKind kind;
    std::function<void(PipeRequest&)> change;
    size_t size = sizeof(PipeRequest);
  } cases[] = {
      {"focus first", false, RequestKind::FocusIn, {}},
      {"no architecture", false, RequestKind::Handshake,
       [](PipeRequest& r) { r.architecture = 0; }},
      {"another architecture", false, RequestKind::Handshake,
       [&](PipeRequest& r) { r.architecture = other_architecture; }},
      {"another process", false, RequestKind::Handshake,
       [](PipeRequest& r) { r.process_id = CurrentProcessId() + 1; }},
      {"wrong magic", false, RequestKind::Handshake, [](PipeRequest& r) { r.magic = 0x12345678; }},
      {"short", false, RequestKind::Handshake, {}, 100},
      {"long", false, RequestKind::Handshake, {}, 200},
      {"wrong nonce", true, RequestKind::QueryServerPid,
       [](PipeRequest& r) { r.session_nonce ^= 1; }},
      {"init's thread", true, RequestKind::QueryServerPid, [](PipeRequest& r) { r.thread_id = 1; }},
  };
  for (const auto& c : cases) {
    RawConnection raw(socket_);
    if (c.after_handshake) {
      ASSERT_TRUE(raw.Handshake()) << c.what;
    }
    PipeRequest request = raw.Request(c.kind);
    if (c.change) c.change(request);
    char packet[200] = {};
    std::memcpy(packet, &request, sizeof request);
    ASSERT_TRUE(raw.Send(packet, c.size)) << c.what;
    EXPECT_TRUE(raw.Closed()) << c.what;
  }
}

TEST_F(Protocol, VersionOrSizeMismatchGetsExactlyOneReplyThatCopiesOnlySequenceAndContext) {
  StartServer();
  for (bool old_version : {true, false}) {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest request = raw.Request(RequestKind::KeyEvent);
    request.context_id = 77;
    if (old_version) {
      request.version = 12;
    } else {
      request.size = 171;  // a bad size field with the right magic is a header failure too
    }
    ASSERT_TRUE(raw.Send(request));
    auto reply = raw.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(+reply->version, 13);
    EXPECT_EQ(+reply->kind, kRefused);
    EXPECT_EQ(std::string(TextFieldView(reply->commit_text)), "protocol-version-mismatch");
    EXPECT_EQ(+reply->context_id, 77u);
    EXPECT_EQ(+reply->sequence, +request.sequence);
    EXPECT_EQ(+reply->process_id, 0u);
    EXPECT_EQ(+reply->session_nonce, 0u);
    EXPECT_EQ(reply->tail_flag, 1);
    EXPECT_TRUE(raw.Closed());
  }
}

TEST_F(Protocol, AReplayedSequenceEndsTheSessionAndAnotherThreadOfTheClientIsServed) {
  StartServer();
  {
    RawConnection raw(socket_);
    ASSERT_TRUE(raw.Handshake());
    PipeRequest first = raw.Request(RequestKind::QueryServerPid);
    ASSERT_TRUE(raw.Send(first));
    ASSERT_TRUE(raw.Receive());
    ASSERT_TRUE(raw.Send(first));  // the same sequence again
    EXPECT_TRUE(raw.Closed());
  }
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
  EXPECT_EQ(+reply->kind, kOk);
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
