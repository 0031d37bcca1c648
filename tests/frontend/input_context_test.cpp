// SPDX-License-Identifier: Apache-2.0
// The front-end library over a real socket to a server with the fake engine: what a framework
// is told to do for each event, and the commit, acknowledgement, reconnect and poll flows.
#include "frontend/input_context.h"
#include "frontend/composition_journal.h"

#include "frontend/key_mapping.h"
#include "frontend/server_command_requests.h"
#include "protocol/server_command.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

// Records what the framework was told, in order.
class RecordingSink : public FrontendSink {
 public:
  void Commit(const std::string& text) override { events.push_back("commit " + text); }
  void Show(const ContextView& view) override {
    last = view;
    ++shows;
  }
  std::string Committed() const {
    std::string all;
    for (const std::string& e : events)
      if (e.rfind("commit ", 0) == 0) all += e.substr(7);
    return all;
  }
  std::vector<std::string> events;
  ContextView last;
  int shows = 0;
};

class Frontend : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    channel_ = std::make_unique<ClientChannel>(Options());
    connection_ = std::make_unique<FrontendConnection>(*channel_);
  }
  void TearDown() override {
    connection_.reset();
    channel_.reset();
    ServerTest::TearDown();
  }
  void Type(InputContext& context, const std::string& keys) {
    for (char c : keys) EXPECT_TRUE(context.ProcessKey(static_cast<unsigned char>(c), 0)) << c;
  }
  std::unique_ptr<ClientChannel> channel_;
  std::unique_ptr<FrontendConnection> connection_;
};

TEST(FrontendMapping, ModifierBitsAndServerCommands) {
  using namespace framework_state;
  const struct {
    uint32_t state, wire;
  } modifiers[] = {
      {0, 0},
      {kShift | kLock, 0},
      {kControl, keys::kControlMask},
      {kMod1, keys::kAltMask},
      {kMod4, keys::kSuperMask},
      {kSuper, keys::kSuperMask},
      {kRelease | kShift, keys::kReleaseMask},
      {kControl | kMod1 | kSuper | kRelease, keys::kChordMask | keys::kReleaseMask},
  };
  for (const auto& m : modifiers) EXPECT_EQ(WireModifiers(m.state), m.wire) << m.state;

  const struct {
    ServerCommand command;
    RequestKind kind;
    uint32_t value, argument;
  } commands[] = {
      {ServerCommand::SelectCandidate, RequestKind::SelectCandidate, 3, 3},
      {ServerCommand::ChangePage, RequestKind::ChangePage, static_cast<uint32_t>(-1),
       static_cast<uint32_t>(-1)},
      {ServerCommand::HighlightCandidate, RequestKind::HighlightCandidate, 2, 2},
      {ServerCommand::SelectPanelRow, RequestKind::CommitCandidate, 40, 40},
      {ServerCommand::HighlightPanelRow, RequestKind::HoverCandidate, 41, 41},
      {ServerCommand::ToggleInputMode, RequestKind::ToggleAsciiMode, 9, 0},
  };
  for (const auto& c : commands) {
    auto request = RequestForServerCommand(static_cast<uint32_t>(c.command), c.value, 77);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->kind, static_cast<uint16_t>(c.kind));
    EXPECT_EQ(request->argument, c.argument);
    EXPECT_EQ(request->context_id, 77u);
  }
  EXPECT_FALSE(RequestForServerCommand(4, 0, 1));  // unknown codes are ignored
  EXPECT_FALSE(RequestForServerCommand(99, 0, 1));
}

TEST_F(Frontend, TypingShowsThePreeditAndSpaceCommits) {
  Fake().candidates = {{"你好", "nǐ hǎo"}, {"你", ""}};
  StartServer();
  RecordingSink sink;
  InputContext context(*connection_, sink);
  ASSERT_TRUE(context.FocusIn());
  Type(context, "ni");
  EXPECT_EQ(sink.last.preedit, "ni");
  EXPECT_TRUE(sink.last.inline_preedit);
  ASSERT_EQ(sink.last.candidates.size(), 2u);
  EXPECT_EQ(sink.last.candidates[0].comment, "nǐ hǎo");
  EXPECT_TRUE(context.Composing());
  EXPECT_TRUE(context.ProcessKey(keys::kSpace, 0));
  EXPECT_EQ(sink.Committed(), "你好");
  EXPECT_FALSE(context.Composing());
  // Keys the engine does not use, and releases it ignores, go back to the application.
  EXPECT_FALSE(context.ProcessKey('!', 0));
  // Control chords reach the engine with the wire's bits.
  context.ProcessKey('c', framework_state::kControl);
  ASSERT_FALSE(Fake().keys_seen.empty());
  EXPECT_EQ(Fake().keys_seen.back().second, keys::kControlMask);
}

TEST_F(Frontend, ServerSideCommitIsInsertedThenAcknowledged) {
  Fake().candidates = {{"甲", ""}, {"乙", ""}, {"丙", ""}};
  StartServer();
  RecordingSink sink;
  InputContext context(*connection_, sink);
  context.FocusIn();
  Type(context, "ab");
  context.SelectCandidate(1);
  EXPECT_EQ(sink.Committed(), "乙");
  // Acknowledged: the server takes keys again at once.
  Type(context, "c");
  EXPECT_EQ(sink.last.preedit, "c");
}

TEST_F(Frontend, CandidateWindowCommandsAreAnsweredOnPoll) {
  Fake().candidates = {{"甲", ""}, {"乙", ""}, {"丙", ""}};
  StartServer();
  RecordingSink sink;
  InputContext context(*connection_, sink);
  context.FocusIn();
  Type(context, "ab");
  context.Poll();  // nothing posted: nothing changes
  EXPECT_EQ(sink.Committed(), "");
  const uint64_t nonce = channel_->client().nonce();
  shared_.notice.Post(static_cast<uint32_t>(ServerCommand::HighlightCandidate), 2, context.id(),
                      nonce);
  context.Poll();
  EXPECT_EQ(sink.last.highlighted, 2u);
  shared_.notice.Post(static_cast<uint32_t>(ServerCommand::SelectCandidate), 0, context.id(),
                      nonce);
  context.Poll();
  EXPECT_EQ(sink.Committed(), "甲");
  // A command for another context is not this one's.
  Type(context, "a");
  shared_.notice.Post(static_cast<uint32_t>(ServerCommand::SelectCandidate), 0, context.id() + 1,
                      nonce);
  context.Poll();
  EXPECT_EQ(sink.Committed(), "甲");
}

TEST_F(Frontend, LateFocusOutOfAnotherContextKeepsTheNewComposition) {
  Fake().candidates = {{"甲", ""}};
  StartServer();
  RecordingSink first_sink, second_sink;
  InputContext first(*connection_, first_sink);
  InputContext second(*connection_, second_sink);
  first.FocusIn();
  Type(first, "a");
  second.FocusIn();
  EXPECT_FALSE(first.focused());
  EXPECT_FALSE(first.Composing());  // the old field's composition ended with the move
  EXPECT_EQ(first_sink.last.preedit, "");
  Type(second, "bc");
  first.FocusOut();  // the framework's late news about the old field
  Type(second, "d");
  EXPECT_EQ(second_sink.last.preedit, "bcd");
  second.FocusOut();
  EXPECT_FALSE(second.Composing());
  EXPECT_EQ(Fake().input, "");
}

TEST_F(Frontend, ARestartedServerIsFoundAgainWithoutLosingAKey) {
  Fake().candidates = {{"甲", ""}};
  StartServer();
  RecordingSink sink;
  InputContext context(*connection_, sink);
  context.FocusIn();
  context.SetCaret({10, 20, 12, 40}, true);
  Type(context, "a");
  StopServer();
  Fake().Reset();
  Fake().candidates = {{"乙", ""}};
  window_.anchored = false;
  StartServer();
  // The key finds the old connection broken, reconnects, claims the focus, rebuilds the
  // composition the old server lost and is typed.
  EXPECT_TRUE(context.ProcessKey('b', 0));
  EXPECT_EQ(Fake().input, "ab");
  EXPECT_EQ(sink.last.candidates.at(0).text, "乙");
  std::lock_guard<std::mutex> lock(window_.mutex);
  EXPECT_TRUE(window_.anchored);  // the caret was told to the new server too
  EXPECT_EQ(window_.anchor.bottom, 40);
}

// The reference client's channel, telling when a transaction failed: the client gave up
// waiting for a reply and closed the connection.
class WatchedChannel : public ClientChannel {
 public:
  using ClientChannel::ClientChannel;
  std::optional<PipeResponse> Transact(const PipeRequest& request) override {
    std::optional<PipeResponse> reply = ClientChannel::Transact(request);
    if (!reply) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++failures_;
      changed_.notify_all();
    }
    return reply;
  }
  int failures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
  }
  void WaitForFailuresAbove(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return failures_ > count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int failures_ = 0;
};

TEST_F(Frontend, AKeySlowerThanTheTimeOutLosesNothingTyped) {
  const struct {
    const char* before;  // typed at the usual pace
    uint32_t slow;       // the engine holds this key until the client has given up on it
    const char* preedit;
    const char* committed;
  } cases[] = {
      {"", 'a', "a", ""},
      {"zhonghua", 'r', "zhonghuar", ""},
      {"ab", keys::kBackSpace, "a", ""},
      {"ab", keys::kSpace, "", "甲"},  // committed once, not lost and not twice
  };
  Fake().candidates = {{"甲", ""}, {"乙", ""}};
  StartServer();
  ClientOptions options = Options();
  options.transaction_timeout_ms = 1000;
  WatchedChannel channel(options);
  FrontendConnection connection(channel);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before + std::string(" + ") + std::to_string(c.slow));
    RecordingSink sink;
    InputContext context(connection, sink);
    ASSERT_TRUE(context.FocusIn());
    Type(context, c.before);
    const int failures = channel.failures();
    bool slowed = false;  // touched under the engine lock only
    {
      std::lock_guard<std::mutex> hold(EngineLock());
      Fake().on_process_key = [&](uint32_t keycode) {
        if (keycode != c.slow || slowed) return;
        slowed = true;
        channel.WaitForFailuresAbove(failures);
      };
    }
    EXPECT_TRUE(context.ProcessKey(c.slow, 0));
    EXPECT_GT(channel.failures(), failures);  // the reply did come too late
    EXPECT_EQ(sink.last.preedit, c.preedit);
    EXPECT_EQ(FakeInput(), c.preedit);
    EXPECT_EQ(sink.Committed(), c.committed);
    // Typing goes on in the rebuilt composition.
    EXPECT_TRUE(context.ProcessKey('x', 0));
    EXPECT_EQ(FakeInput(), c.preedit + std::string("x"));
    context.FocusOut();
    std::lock_guard<std::mutex> hold(EngineLock());
    Fake().on_process_key = nullptr;
  }
}

TEST(CompositionJournal, KeepsWhatCanBeReplayed) {
  CompositionJournal journal;
  PipeRequest key = MakeRequest(RequestKind::KeyEvent);
  journal.Add(key);
  journal.Observe(/*composing=*/true, /*committed=*/false);
  EXPECT_TRUE(journal.Replayable());
  // A closed composition starts afresh.
  journal.Observe(false, true);
  EXPECT_FALSE(journal.Replayable());
  journal.Add(key);
  EXPECT_EQ(journal.requests().size(), 1u);
  // A commit that leaves part of the composition open cannot be replayed until it closes.
  journal.Observe(true, true);
  journal.Add(key);
  EXPECT_FALSE(journal.Replayable());
  journal.Observe(false, false);
  journal.Add(key);
  EXPECT_TRUE(journal.Replayable());
  // Nor can more requests than it keeps.
  for (size_t i = 0; i < CompositionJournal::kMaxRequests; ++i) journal.Add(key);
  EXPECT_FALSE(journal.Replayable());
}

TEST_F(Frontend, KeysPassThroughWhileNoServerAnswers) {
  RecordingSink sink;
  InputContext context(*connection_, sink);
  EXPECT_FALSE(context.FocusIn());
  EXPECT_FALSE(context.ProcessKey('a', 0));
  EXPECT_EQ(sink.Committed(), "");
}

}  // namespace
}  // namespace kavi::win::testing
