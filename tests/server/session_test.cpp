// SPDX-License-Identifier: Apache-2.0
// The dispatch rules of a client session, against the fake engine, over real sockets.
#include <condition_variable>
#include <ctime>

#include "plugins/plugin_engine.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

using Session = ServerTest;

std::vector<FakeCandidate> Numbered(int n) {
  std::vector<FakeCandidate> out;
  for (int i = 0; i < n; ++i) out.push_back({"詞" + std::to_string(i), "c" + std::to_string(i)});
  return out;
}

PipeResponse Type(KaviClient& client, const std::string& letters, uint64_t context = 1) {
  PipeResponse last{};
  for (char c : letters) {
    auto reply = client.SendKey(static_cast<unsigned char>(c), 0, context);
    EXPECT_TRUE(reply);
    if (reply) last = *reply;
  }
  return last;
}

TEST_F(Session, KeysComposeAndTheStateCarriesTheEnginePage) {
  Fake().candidates = {{"你好", "nǐ hǎo"}, {"你", ""}, {"泥", ""}};
  StartServer();
  auto client = FocusedClient();
  PipeResponse state = Type(*client, "ni");
  EXPECT_EQ(+state.kind, kState);
  EXPECT_EQ(state.result, 1);
  EXPECT_EQ(Text(state.preedit), "ni");
  EXPECT_EQ(state.has_preedit, 1);
  EXPECT_EQ(+state.candidate_count, 3u);
  EXPECT_EQ(Text(state.candidates[0].text), "你好");
  EXPECT_EQ(Text(state.candidates[0].comment), "nǐ hǎo");
  EXPECT_EQ(+state.menu_count, 3u);
  EXPECT_EQ(state.last_page, 1);
  EXPECT_EQ(state.tail_flag, 1);  // inline preedit on by default
  EXPECT_EQ(WindowShows() > 0, true);

  // A key the engine does not use goes back to the application.
  auto unused = client->SendKey('!', 0, 1);
  ASSERT_TRUE(unused);
  EXPECT_EQ(unused->result, 0);

  // Space commits through the engine: the commit rides on the reply, nothing to acknowledge.
  auto committed = client->SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(committed);
  EXPECT_EQ(committed->has_commit, 1);
  EXPECT_EQ(Text(committed->commit_text), "你好");
  EXPECT_EQ(committed->commit_pending, 0);
  EXPECT_EQ(+committed->candidate_count, 0u);
}

TEST_F(Session, ServerSideSelectionWaitsForTheAcknowledgement) {
  Fake().candidates = Numbered(3);
  StartServer();
  auto client = FocusedClient(5);
  Type(*client, "ab", 5);
  auto selected = client->Send(RequestKind::SelectCandidate, 5, 1);
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->has_commit, 1);
  EXPECT_EQ(Text(selected->commit_text), "詞1");
  EXPECT_EQ(selected->commit_pending, 1);

  // Until acknowledged, keys are refused; a focus-out is still served.
  auto refused = client->SendKey('c', 0, 5);
  ASSERT_TRUE(refused);
  EXPECT_EQ(+refused->kind, kRefused);
  // An acknowledgement for another context is not the one awaited.
  auto wrong = client->Send(RequestKind::AckCommit, 6);
  ASSERT_TRUE(wrong);
  EXPECT_EQ(+wrong->kind, kState);
  // The owner is the session: another thread of the client may acknowledge.
  std::optional<PipeResponse> ack;
  std::thread([&] { ack = client->Send(RequestKind::AckCommit, 5); }).join();
  ASSERT_TRUE(ack);
  EXPECT_EQ(+ack->kind, kOk);
  auto typed = client->SendKey('c', 0, 5);
  ASSERT_TRUE(typed);
  EXPECT_EQ(+typed->kind, kState);
  EXPECT_EQ(typed->result, 1);
}

TEST_F(Session, OnlyTheOwnerCanPickFromTheComposition) {
  // Without a window manager every client counts as foreground: ownership alone keeps another
  // client from taking the owner's words.
  Fake().candidates = Numbered(3);
  StartServer();
  auto owner = FocusedClient(1);
  Type(*owner, "ab", 1);
  auto other = NewClient();
  for (RequestKind kind : {RequestKind::SelectCandidate, RequestKind::CommitCandidate,
                           RequestKind::ChangePage, RequestKind::HighlightCandidate,
                           RequestKind::HoverCandidate, RequestKind::CancelComposition}) {
    auto reply = other->Send(kind, 1, 0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(+reply->kind, kRefused) << static_cast<int>(kind);
    EXPECT_EQ(reply->has_commit, 0);
  }
  EXPECT_EQ(FakeInput(), "ab");
  auto own = owner->Send(RequestKind::SelectCandidate, 1, 0);
  ASSERT_TRUE(own);
  EXPECT_EQ(Text(own->commit_text), "詞0");
}

TEST_F(Session, FocusOutIsServedWhileACommitIsPending) {
  Fake().candidates = Numbered(2);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "a");
  ASSERT_EQ(client->Send(RequestKind::SelectCandidate, 1, 0)->commit_pending, 1);
  int clears = WindowClears();
  auto out = client->Send(RequestKind::FocusOut, 1);
  ASSERT_TRUE(out);
  EXPECT_EQ(+out->kind, kOk);
  EXPECT_GT(WindowClears(), clears);
  // The pending commit ended with the focus: the next focus-in is answered normally.
  auto in = client->Send(RequestKind::FocusIn, 1);
  ASSERT_TRUE(in);
  EXPECT_EQ(+in->kind, kState);
}

TEST_F(Session, ASecondFocusInTakesTheCompositionAway) {
  Fake().candidates = Numbered(3);
  StartServer();
  auto first = FocusedClient(1);
  Type(*first, "ab", 1);
  EXPECT_EQ(FakeInput(), "ab");
  int clears = FakeClearCalls();
  auto second = FocusedClient(2);
  EXPECT_GT(FakeClearCalls(), clears);
  EXPECT_EQ(FakeInput(), "");

  int calls = FakeKeyCalls();
  auto stale = first->SendKey('c', 0, 1);
  ASSERT_TRUE(stale);
  EXPECT_EQ(+stale->kind, kState);
  EXPECT_EQ(stale->result, 0);
  EXPECT_EQ(FakeKeyCalls(), calls);

  auto owner = second->SendKey('x', 0, 2);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->result, 1);
  EXPECT_EQ(FakeInput(), "x");
}

TEST_F(Session, ClosingTheOwnersConnectionClearsTheComposition) {
  Fake().candidates = Numbered(3);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "abc");
  int clears = WindowClears();
  client.reset();
  for (int i = 0; i < 200 && !shared_.focus_owner.Empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(shared_.focus_owner.Empty());
  EXPECT_EQ(FakeInput(), "");
  EXPECT_GT(WindowClears(), clears);
}

TEST_F(Session, ShiftAloneTogglesAsciiModeAndAsciiModePassesKeys) {
  StartServer();
  auto client = FocusedClient();
  auto press = client->SendKey(keys::kShiftL, 0, 1);
  auto release = client->SendKey(keys::kShiftL, keys::kReleaseMask, 1);
  ASSERT_TRUE(press && release);
  EXPECT_EQ(press->result, 1);
  EXPECT_EQ(release->ascii_mode, 1);

  int calls = FakeKeyCalls();
  auto letter = client->SendKey('a', 0, 1);
  ASSERT_TRUE(letter);
  EXPECT_EQ(letter->result, 0);
  EXPECT_EQ(FakeKeyCalls(), calls);

  // Shift with Control does not toggle; nor Shift, a letter, then the Shift release.
  client->SendKey(keys::kShiftR, keys::kControlMask, 1);
  EXPECT_EQ(client->SendKey(keys::kShiftR, keys::kReleaseMask, 1)->ascii_mode, 1);
  client->SendKey(keys::kShiftL, 0, 1);
  client->SendKey('A', 0, 1);
  EXPECT_EQ(client->SendKey(keys::kShiftL, keys::kReleaseMask, 1)->ascii_mode, 1);
  // And once more alone: back to Chinese.
  client->SendKey(keys::kShiftL, 0, 1);
  EXPECT_EQ(client->SendKey(keys::kShiftL, keys::kReleaseMask, 1)->ascii_mode, 0);

  shared_.settings.Set([] {
    SessionSettings s;
    s.shift_toggle = false;
    return s;
  }());
  client->SendKey(keys::kShiftL, 0, 1);
  EXPECT_EQ(client->SendKey(keys::kShiftL, keys::kReleaseMask, 1)->ascii_mode, 0);
}

TEST_F(Session, ToggleAsciiModeAndCancelClearTheComposition) {
  Fake().candidates = Numbered(2);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "ab");
  auto cancel = client->Send(RequestKind::CancelComposition, 1);
  ASSERT_TRUE(cancel);
  EXPECT_EQ(+cancel->kind, kState);
  EXPECT_EQ(+cancel->candidate_count, 0u);
  EXPECT_EQ(cancel->has_preedit, 0);
  Type(*client, "ab");
  auto toggled = client->Send(RequestKind::ToggleAsciiMode, 1);
  ASSERT_TRUE(toggled);
  EXPECT_EQ(toggled->ascii_mode, 1);
  EXPECT_EQ(FakeInput(), "");
}

TEST_F(Session, CloudHotWordIsMergedAndSelectable) {
  Fake().candidates = {{"第一", ""}, {"第二", ""}, {"第三", ""}, {"雲詞", ""}};
  Fake().hot_words["ab"] = "雲詞";
  StartServer();
  auto client = FocusedClient();
  PipeResponse state = Type(*client, "ab");
  ASSERT_EQ(+state.candidate_count, 4u);
  EXPECT_EQ(Text(state.candidates[1].text), "雲詞");  // moved up from the fourth place
  EXPECT_EQ(Text(state.candidates[1].comment), "☁");
  EXPECT_EQ(Text(state.candidates[2].text), "第二");
  EXPECT_EQ(+state.highlighted, 0u);

  // Digit 2 selects the moved entry through the list mapping, not the engine's second.
  auto picked = client->SendKey('2', 0, 1);
  ASSERT_TRUE(picked);
  EXPECT_EQ(Text(picked->commit_text), "雲詞");
  ASSERT_TRUE(client->Send(RequestKind::AckCommit, 1));

  // A hot word the engine does not offer is inserted and committed by the server itself;
  // with simplified output it is converted first.
  Fake().hot_words["cd"] = "們";
  Fake().t2s["們"] = "们";
  state = Type(*client, "cd");
  ASSERT_EQ(+state.candidate_count, 5u);
  EXPECT_EQ(Text(state.candidates[1].text), "们");
  auto down = client->SendKey(keys::kDown, 0, 1);
  ASSERT_TRUE(down);
  auto cloud = client->SendKey('2', 0, 1);
  ASSERT_TRUE(cloud);
  EXPECT_EQ(cloud->has_commit, 1);
  EXPECT_EQ(Text(cloud->commit_text), "们");
  EXPECT_EQ(FakeInput(), "");

  // Cloud input off: the engine page as is.
  SessionSettings off;
  off.cloud_input = false;
  shared_.settings.Set(off);
  ASSERT_TRUE(client->Send(RequestKind::AckCommit, 1));
  state = Type(*client, "cd");
  EXPECT_EQ(+state.candidate_count, 4u);
}

TEST_F(Session, LongTextsAreCutAndAtMostSixteenCandidatesSent) {
  std::string long_text;
  while (long_text.size() < 600) long_text += "長";
  auto many = Numbered(20);
  many[0].text = long_text;
  many[0].comment = std::string(200, 'c');
  Fake().candidates = many;
  Fake().page_size = 20;
  StartServer();
  auto client = FocusedClient();
  PipeResponse state = Type(*client, "a");
  EXPECT_EQ(+state.candidate_count, 16u);
  EXPECT_EQ(Text(state.candidates[0].text).size(), 510u);
  EXPECT_EQ(Text(state.candidates[0].comment).size(), 127u);
  EXPECT_EQ(Text(state.candidates[15].text), "詞15");
}

TEST_F(Session, PagingPastTheFirstPageOpensTheExpandedPanel) {
  Fake().candidates = Numbered(23);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "a");
  auto next = client->SendKey(keys::kPageDown, 0, 1);
  ASSERT_TRUE(next);
  EXPECT_EQ(+next->page_number, 1u);
  {
    std::lock_guard<std::mutex> l(window_.mutex);
    EXPECT_TRUE(window_.panel_open);
    EXPECT_EQ(window_.panel_rows.size(), 23u);
    EXPECT_EQ(window_.panel_highlight, 5);
  }
  // Navigation stays in the panel and re-sends the state.
  auto right = client->SendKey(keys::kRight, 0, 1);
  ASSERT_TRUE(right);
  EXPECT_EQ(right->result, 1);
  EXPECT_EQ(+right->page_number, 1u);
  EXPECT_EQ(window_.panel_highlight, 6);
  auto down = client->SendKey(keys::kDown, 0, 1);  // one panel line further
  ASSERT_TRUE(down);
  EXPECT_EQ(window_.panel_highlight, 11);
  // Space commits the highlighted panel entry and waits for the acknowledgement.
  auto chosen = client->SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(Text(chosen->commit_text), "詞11");
  EXPECT_EQ(chosen->commit_pending, 1);
  EXPECT_FALSE(window_.panel_open);
}

TEST_F(Session, ExpandedPanelDigitsEscapeAndLetters) {
  Fake().candidates = Numbered(30);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "a");
  client->SendKey('=', 0, 1);
  ASSERT_TRUE(window_.panel_open);
  client->SendKey(keys::kEscape, 0, 1);
  EXPECT_FALSE(window_.panel_open);
  EXPECT_EQ(FakeInput(), "a");  // Escape closed the panel only

  client->SendKey('=', 0, 1);  // page 2 of the engine
  ASSERT_TRUE(window_.panel_open);
  EXPECT_EQ(window_.panel_highlight, 10);
  auto digit = client->SendKey('3', 0, 1);  // third entry of the panel page holding row 10
  ASSERT_TRUE(digit);
  EXPECT_EQ(Text(digit->commit_text), "詞12");
  ASSERT_EQ(+client->Send(RequestKind::AckCommit, 1)->kind, kOk);

  Type(*client, "a");
  client->SendKey('=', 0, 1);
  ASSERT_TRUE(window_.panel_open);
  auto letter = client->SendKey('b', 0, 1);  // closes the panel and goes on to the engine
  ASSERT_TRUE(letter);
  EXPECT_FALSE(window_.panel_open);
  EXPECT_EQ(FakeInput(), "ab");
}

TEST_F(Session, ChangeHighlightCommitAndHoverRequests) {
  Fake().candidates = Numbered(12);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "a");
  auto page = client->Send(RequestKind::ChangePage, 1, 1);
  ASSERT_TRUE(page);
  EXPECT_EQ(+page->page_number, 1u);
  auto back = client->Send(RequestKind::ChangePage, 1, static_cast<uint32_t>(-1));
  EXPECT_EQ(+back->page_number, 0u);
  auto hl = client->Send(RequestKind::HighlightCandidate, 1, 3);
  EXPECT_EQ(+hl->highlighted, 3u);
  auto hover = client->Send(RequestKind::HoverCandidate, 1, 2);
  EXPECT_EQ(+hover->highlighted, 2u);
  auto commit = client->Send(RequestKind::CommitCandidate, 1, 4);
  ASSERT_TRUE(commit);
  EXPECT_EQ(Text(commit->commit_text), "詞4");
  EXPECT_EQ(commit->commit_pending, 1);
  auto clear = client->Send(RequestKind::AckCommitAndClear, 1);
  EXPECT_EQ(+clear->kind, kOk);
}

TEST_F(Session, MissingServicesAreRefused) {
  services_.window = nullptr;
  StartServer();
  auto client = FocusedClient();
  for (RequestKind kind :
       {RequestKind::PlayKeySound, RequestKind::VoiceToggle, RequestKind::VoiceStatus,
        RequestKind::DownloadVoiceModel, RequestKind::CompanionRequest0, RequestKind::ListCatalog,
        RequestKind::ListCatalogAlt, RequestKind::PreviewTheme, RequestKind::InstallPack,
        RequestKind::SyncAndRedeploy, RequestKind::CancelPackJob}) {
    auto reply = client->Send(kind, 1);
    ASSERT_TRUE(reply) << static_cast<int>(kind);
    EXPECT_EQ(+reply->kind, kRefused) << static_cast<int>(kind);
    EXPECT_EQ(reply->result, 0);
  }
  auto cancel = client->Send(RequestKind::CancelVoiceModelJob, 1);
  EXPECT_EQ(Text(cancel->commit_text), "目前沒有模型下載作業");
  // A refused start leaves nothing busy behind.
  EXPECT_FALSE(shared_.jobs.busy);
  EXPECT_EQ(+client->SendKey('a', 0, 1)->kind, kState);
  // Unknown kinds get a plain snapshot.
  auto unknown = client->Send(static_cast<RequestKind>(46), 1);
  EXPECT_EQ(+unknown->kind, kState);
}

// A maintenance job that runs until the test lets it finish.
class GatedMaintenance : public MaintenancePort {
 public:
  explicit GatedMaintenance(JobFlags& flags) : flags_(flags) {}
  ~GatedMaintenance() override {
    Finish(true);
    if (worker_.joinable()) worker_.join();
  }
  bool Start(bool sync) override {
    if (worker_.joinable()) worker_.join();
    flags_.maintenance_status = 1;
    synced = sync;
    released_ = false;
    worker_ = std::thread([this] {
      std::unique_lock<std::mutex> l(m_);
      cv_.wait(l, [this] { return released_; });
      flags_.maintenance_status = ok_ ? 2 : 3;
      flags_.busy = false;
    });
    return true;
  }
  void Finish(bool ok) {
    std::lock_guard<std::mutex> l(m_);
    ok_ = ok;
    released_ = true;
    cv_.notify_all();
  }
  void Join() {
    if (worker_.joinable()) worker_.join();
  }
  bool synced = false;

 private:
  JobFlags& flags_;
  std::mutex m_;
  std::condition_variable cv_;
  bool released_ = false, ok_ = true;
  std::thread worker_;
};

TEST_F(Session, ABusyJobGatesKeysAndASecondJob) {
  GatedMaintenance maintenance(shared_.jobs);
  services_.maintenance = &maintenance;
  StartServer();
  auto client = FocusedClient();
  auto first = client->Send(RequestKind::SyncAndRedeploy, 1);
  ASSERT_TRUE(first);
  EXPECT_EQ(+first->kind, kOk);
  EXPECT_TRUE(maintenance.synced);
  EXPECT_EQ(+client->Send(RequestKind::Redeploy, 1)->kind, kBusy);
  EXPECT_EQ(+client->SendKey('a', 0, 1)->kind, kBusy);
  EXPECT_EQ(+client->Send(RequestKind::InstallPack, 1)->kind, kBusy);
  auto status = client->Send(RequestKind::MaintenanceStatus, 1);
  EXPECT_EQ(+status->kind, kState);
  EXPECT_EQ(+status->value, 1u);
  maintenance.Finish(false);
  maintenance.Join();
  EXPECT_EQ(+client->Send(RequestKind::MaintenanceStatus, 1)->value, 3u);
  EXPECT_EQ(+client->SendKey('a', 0, 1)->kind, kState);
  EXPECT_EQ(+client->Send(RequestKind::Redeploy, 1)->kind, kOk);
  EXPECT_FALSE(maintenance.synced);
}

// A pack job that ends when cancelled.
class CancellablePacks : public SchemePackPort {
 public:
  ~CancellablePacks() override {
    CancelJob();
    if (worker_.joinable()) worker_.join();
  }
  bool Ready() override { return true; }
  bool StartJob(bool install, const std::string& id, std::function<void(bool)> finished,
                std::string*) override {
    if (worker_.joinable()) worker_.join();
    pack = id;
    cancelled_ = false;
    worker_ = std::thread([this, finished] {
      std::unique_lock<std::mutex> l(m_);
      cv_.wait(l, [this] { return cancelled_; });
      l.unlock();
      finished(false);
    });
    return true;
  }
  bool IsInstalled(const std::string&) override { return false; }
  void CancelJob() override {
    std::lock_guard<std::mutex> l(m_);
    cancelled_ = true;
    cv_.notify_all();
  }
  void Join() {
    if (worker_.joinable()) worker_.join();
  }
  std::string pack;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  std::thread worker_;
};

TEST_F(Session, CancellingAPackJobRecordsWhichCancelKind) {
  CancellablePacks packs;
  services_.packs = &packs;
  StartServer();
  auto client = FocusedClient();
  EXPECT_EQ(+client->Send(RequestKind::CancelPackJob, 1)->kind, kRefused);

  PipeRequest install = MakeRequest(RequestKind::InstallPack);
  CopyTextField(install.text, "wubi86");
  install.context_id = 1;
  EXPECT_EQ(+client->Transact(install)->kind, kOk);
  EXPECT_EQ(packs.pack, "wubi86");
  EXPECT_EQ(+client->Send(RequestKind::PackJobStatus, 1)->value, 1u);
  EXPECT_EQ(+client->Send(RequestKind::CancelPackJobAlt, 1)->kind, kOk);
  packs.Join();
  EXPECT_EQ(+client->Send(RequestKind::PackJobStatus, 1)->value, 5u);
  EXPECT_FALSE(shared_.jobs.busy);

  EXPECT_EQ(+client->Transact(install)->kind, kOk);
  EXPECT_EQ(+client->Send(RequestKind::CancelPackJob, 1)->kind, kOk);
  packs.Join();
  EXPECT_EQ(+client->Send(RequestKind::PackJobStatus, 1)->value, 4u);
  EXPECT_EQ(+client->Send(RequestKind::CancelPackJobAlt, 1)->kind, kRefused);
}

TEST_F(Session, DeferredNoticeReachesOnlyTheOwnerOnItsNextPoll) {
  StartServer();
  auto owner = FocusedClient(9);
  auto other = NewClient();
  ASSERT_TRUE(other->Connect());
  shared_.notice.Post(1, 2, 9, owner->nonce());
  EXPECT_EQ(+other->Send(RequestKind::PollAsync, 9)->kind, kOk);
  auto poll = owner->Send(RequestKind::PollAsync, 9);
  ASSERT_TRUE(poll);
  EXPECT_EQ(+poll->kind, kState);
  EXPECT_EQ(+poll->status_code, 1u);
  EXPECT_EQ(+poll->value, 2u);
  EXPECT_EQ(+owner->Send(RequestKind::PollAsync, 9)->kind, kOk);  // taken once
}

TEST(HeapReleasePacer, ReleasesAtMostOnceAnInterval) {
  HeapReleasePacer pacer;
  const uint64_t start = 5000;  // the tick count of a machine that just booted
  const struct {
    uint64_t after_ms;
    bool due;
  } steps[] = {
      {0, true},  // the first quiet moment
      {0, false},
      {HeapReleasePacer::kMinIntervalMs - 1, false},
      {HeapReleasePacer::kMinIntervalMs, true},
      {HeapReleasePacer::kMinIntervalMs + 1, false},
      {3 * HeapReleasePacer::kMinIntervalMs, true},
  };
  for (const auto& step : steps)
    EXPECT_EQ(pacer.Due(start + step.after_ms), step.due) << step.after_ms;
}

TEST_F(Session, VoiceTextLeavesTheSlotsInPieces) {
  StartServer();
  auto client = FocusedClient();
  std::string speech;
  while (speech.size() < 700) speech += "語音";
  shared_.voice_slots.Fill(VoiceTextSlots::kResultSlot, true, speech);
  auto first = client->Send(RequestKind::PollVoiceResult, 1);
  ASSERT_TRUE(first);
  EXPECT_EQ(+first->value, 1u);
  EXPECT_EQ(first->has_commit, 1);
  std::string got = Text(first->commit_text);
  EXPECT_EQ(got.size(), 510u);
  auto second = client->Send(RequestKind::PollVoiceResult, 1);
  EXPECT_EQ(+second->value, 0u);
  got += Text(second->commit_text);
  EXPECT_EQ(got, speech);
  auto none = client->Send(RequestKind::PollVoiceResult, 1);
  EXPECT_EQ(+none->kind, kState);
  EXPECT_EQ(none->has_commit, 0);

  // Slot 0 goes to the owner's poll as a commit that must be acknowledged.
  shared_.voice_slots.Fill(VoiceTextSlots::kOwnerSlot, true, "你好");
  auto poll = client->Send(RequestKind::PollAsync, 1);
  ASSERT_TRUE(poll);
  EXPECT_EQ(+poll->status_code, 4u);
  EXPECT_EQ(Text(poll->commit_text), "你好");
  EXPECT_EQ(poll->commit_pending, 1);
  EXPECT_EQ(+client->SendKey('a', 0, 1)->kind, kRefused);
  EXPECT_EQ(+client->Send(RequestKind::AckCommit, 1)->kind, kOk);
}

class ListCatalog : public CatalogPort {
 public:
  std::vector<CatalogEntry> ListSchemes() override {
    std::vector<CatalogEntry> out;
    for (int i = 0; i < 20; ++i) out.push_back({"scheme" + std::to_string(i), "builtin"});
    return out;
  }
  std::vector<CatalogEntry> ListThemes() override { return {}; }
  bool IsValidThemeId(const std::string& id) override { return id == "native"; }
};

TEST_F(Session, CatalogPagesAndThemePreview) {
  ListCatalog catalog;
  services_.catalog = &catalog;
  StartServer();
  auto client = FocusedClient();
  auto first = client->Send(RequestKind::ListCatalog, 1, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(+first->kind, kState);
  EXPECT_EQ(+first->value, 20u);
  EXPECT_EQ(+first->candidate_count, 16u);
  EXPECT_EQ(Text(first->candidates[15].text), "scheme15");
  EXPECT_EQ(Text(first->candidates[0].comment), "builtin");
  auto rest = client->Send(RequestKind::ListCatalog, 1, 16);
  EXPECT_EQ(+rest->candidate_count, 4u);
  EXPECT_EQ(Text(rest->candidates[0].text), "scheme16");
  auto none = client->Send(RequestKind::ListCatalog, 1, static_cast<uint32_t>(-3));
  EXPECT_EQ(+none->candidate_count, 0u);
  EXPECT_EQ(+none->value, 20u);
  EXPECT_EQ(+client->Send(RequestKind::ListCatalogAlt, 1)->kind, kRefused);  // no themes

  PipeRequest preview = MakeRequest(RequestKind::PreviewTheme);
  CopyTextField(preview.text, "native");
  EXPECT_EQ(+client->Transact(preview)->kind, kOk);
  {
    std::lock_guard<std::mutex> l(window_.mutex);  // written on the session's thread
    EXPECT_EQ(window_.previewed, "native");
  }
  CopyTextField(preview.text, "Dark");
  EXPECT_EQ(+client->Transact(preview)->kind, kRefused);
}

TEST_F(Session, StrokeKeysAreMappedForTheStrokeScheme) {
  Fake().candidates = Numbered(2);
  SessionSettings stroke;
  stroke.schema = "stroke";
  stroke.stroke_keys = "asdfg";
  shared_.settings.Set(stroke);
  StartServer();
  auto client = FocusedClient();
  Type(*client, "adh");  // a -> h, d -> p, h is a stroke letter of the table: swallowed
  EXPECT_EQ(FakeInput(), "hp");
  ASSERT_TRUE(client->SendKey(keys::kKeypad1, 0, 1));
  EXPECT_EQ(FakeInput(), "hp");
  Type(*client, "x");  // not a stroke letter: passes unchanged
  EXPECT_EQ(FakeInput(), "hpx");
}

class PluginSessionTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    plugins_ =
        std::make_unique<PluginEngine>(std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "plugin");
    services_.plugins = plugins_.get();
  }
  std::unique_ptr<PluginEngine> plugins_;
};

TEST_F(PluginSessionTest, BacktickCommandsAnswerInsideTheSession) {
  Fake().candidates = {{"你", ""}};
  StartServer();
  auto client = FocusedClient();
  PipeResponse page = Type(*client, "`rq");
  EXPECT_EQ(Text(page.preedit), "`rq");
  ASSERT_GT(+page.candidate_count, 0u);
  char today[16];
  std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y", std::localtime(&now));
  EXPECT_NE(Text(page.candidates[0].text).find(today), std::string::npos)
      << Text(page.candidates[0].text);
  EXPECT_EQ(FakeKeyCalls(), 0);  // the engine never saw the keys

  auto escape = client->SendKey(keys::kEscape, 0, 1);
  ASSERT_TRUE(escape);
  EXPECT_EQ(+escape->candidate_count, 0u);
  EXPECT_EQ(escape->has_preedit, 0);

  page = Type(*client, "`1+2=");
  ASSERT_GT(+page.candidate_count, 0u);
  EXPECT_EQ(Text(page.candidates[0].text), "3");
  auto chosen = client->SendKey('1', 0, 1);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->has_commit, 1);
  EXPECT_EQ(Text(chosen->commit_text), "3");
  EXPECT_EQ(chosen->commit_pending, 0);

  // Letters go to the engine again once the page is gone.
  Type(*client, "n");
  EXPECT_EQ(FakeInput(), "n");
}

TEST_F(PluginSessionTest, MouseSelectionPagingAndTheTranslationJob) {
  StartServer();
  auto client = FocusedClient();
  PipeResponse page = Type(*client, "`fh");
  ASSERT_GT(+page.candidate_count, 1u);
  auto paged = client->Send(RequestKind::ChangePage, 1, 1);
  ASSERT_TRUE(paged);
  auto highlighted = client->Send(RequestKind::HighlightCandidate, 1, 1);
  EXPECT_EQ(+highlighted->highlighted, 1u);
  client->SendKey(keys::kEscape, 0, 1);

  // The translation shortcut leaves plug-in mode and runs its job; the empty clipboard fails it
  // and the next poll shows why.
  Type(*client, "`en");
  auto chosen = client->Send(RequestKind::SelectCandidate, 1, 0);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->has_commit, 0);
  std::optional<PipeResponse> poll;
  for (int i = 0; i < 200; ++i) {
    poll = client->Send(RequestKind::PollAsync, 1);
    if (poll && poll->status_code == 4) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(poll);
  EXPECT_EQ(+poll->status_code, 4u);
  EXPECT_EQ(Text(poll->candidates[0].text), "操作失敗");
  EXPECT_EQ(Text(poll->candidates[0].comment), "剪貼板為空");
}

}  // namespace
}  // namespace kavi::win::testing
