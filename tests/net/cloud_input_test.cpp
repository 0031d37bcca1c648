// SPDX-License-Identifier: Apache-2.0
// The cloud input manager's rules on a clock of the test's own: counting, batches, answers,
// pending.json, snapshots into the engine, switching off, and what can lose or double a count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <future>
#include <thread>

#include "net/cloud_batches.h"
#include "net/cloud_input_manager.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;

CloudCounts Counts(std::initializer_list<std::pair<const std::string, int64_t>> entries) {
  return CloudCounts(entries);
}

std::string Key(const std::string& a, const std::string& b) {
  return CloudEntryKey(a, b);
}

// What LogLine wrote to standard error while `fn` ran.
template <typename Fn>
std::string CapturedLog(Fn fn) {
  fflush(stderr);
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(fds[1], STDERR_FILENO);
  ::close(fds[1]);
  fn();
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
  ::close(fds[0]);
  return out;
}

// ---- Counting ---------------------------------------------------------------------------------

TEST(CloudCounting, CommitsCountWordsWithReadingsAndPairsOfNeighbours) {
  struct Case {
    const char* reading;
    const char* text;
    bool report;   // the word with its reading is counted
    bool counted;  // the text counts at all (and joins the chain of pairs)
  };
  const Case cases[] = {
      {"nihao", "你好", true, true},
      {"Nihao", "你好", false, true},   // upper case: only the pair
      {"ni3hao", "你好", false, true},  // a digit: only the pair
      {"", "你好", false, true},
      {"a", "A股", true, true},                    // one ideograph is enough
      {"ce", "\xF0\xA0\x80\x80", true, true},      // U+20000, extension B
      {"hao", "\xEF\xA4\x80", true, true},         // U+F900, a compatibility ideograph
      {"yi", "一二三四五六七八", true, true},      // eight code points
      {"yi", "一二三四五六七八九", false, false},  // nine
      {"abc", "abc", false, false},                // Latin only
      {"x", "\xE3\x80\x81", false, false},         // an ideographic comma is no ideograph
      {"ni", "\xE4\xBD", false, false},            // cut UTF-8
      {"ni", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reading) + " " + c.text);
    CloudState state;
    std::string previous = "我";
    EXPECT_EQ(CountCommit(&state, &previous, c.reading, c.text), c.counted);
    EXPECT_EQ(state.pending_reports.count(Key(c.reading, c.text)), c.report ? 1u : 0u);
    EXPECT_EQ(state.pending_predicts.count(Key("我", c.text)), c.counted ? 1u : 0u);
    EXPECT_EQ(previous, c.counted ? c.text : "");
  }
}

TEST(CloudCounting, AnUncountedTextBreaksTheChainAndAnOverfullMapIsEmptied) {
  CloudState state;
  std::string previous;
  CountCommit(&state, &previous, "wo", "我");
  CountCommit(&state, &previous, "hello", "hello");
  CountCommit(&state, &previous, "hao", "好");
  EXPECT_TRUE(state.pending_predicts.empty());
  CountCommit(&state, &previous, "hao", "好");
  EXPECT_EQ(state.pending_predicts, Counts({{Key("好", "好"), 1}}));
  EXPECT_EQ(state.pending_reports, Counts({{Key("wo", "我"), 1}, {Key("hao", "好"), 2}}));

  // 5000 distinct words fill the map; the 5001st empties it rather than let it grow.
  CloudState full;
  previous.clear();
  std::string text;
  for (uint32_t i = 0; i <= kMaxPendingEntries; ++i) {
    text.clear();
    text += "字";
    text += std::to_string(i);
    CountCommit(&full, &previous, "zi", text);
    if (i + 1 == kMaxPendingEntries) {
      ASSERT_EQ(full.pending_reports.size(), kMaxPendingEntries);
    }
  }
  EXPECT_TRUE(full.pending_reports.empty());
  EXPECT_EQ(full.pending_predicts.size(), kMaxPendingEntries);  // 5000 pairs: still whole
}

// ---- Batches ----------------------------------------------------------------------------------

TEST(CloudBatches, OnlyEntriesCountedThreeTimesMakeABatchOfAHundred) {
  CloudState state;
  state.pending_reports = Counts({{Key("a", "阿"), 2}, {Key("ba", "八"), 48}});
  state.pending_predicts = Counts({{Key("阿", "八"), 2}, {Key("八", "阿"), 51}});
  EXPECT_EQ(EligibleSum(state.pending_reports) + EligibleSum(state.pending_predicts), 99);
  EXPECT_FALSE(TakeNewBatch(&state, 1000, "b1"));
  state.pending_reports[Key("ba", "八")] = 49;
  ASSERT_TRUE(TakeNewBatch(&state, 1000, "b1"));
  EXPECT_EQ(state.inflight_batch_id, "b1");
  EXPECT_EQ(state.inflight_reports, Counts({{Key("ba", "八"), 49}}));
  EXPECT_EQ(state.inflight_predicts, Counts({{Key("八", "阿"), 50}}));
  // What stays: the entries counted twice whole, and the rest of the one counted 51 times.
  EXPECT_EQ(state.pending_reports, Counts({{Key("a", "阿"), 2}}));
  EXPECT_EQ(state.pending_predicts, Counts({{Key("阿", "八"), 2}, {Key("八", "阿"), 1}}));
  EXPECT_FALSE(TakeNewBatch(&state, 1000, "b2"));  // one batch in flight at a time
}

TEST(CloudBatches, ABatchTakesAtMostFiftyPerEntryAndFiveHundredInKeyOrder) {
  CloudState state;
  // Twelve report entries of 120 in key order ("a" < "b" < ...), then the pairs.
  for (char c = 'a'; c < 'a' + 12; ++c) state.pending_reports[Key(std::string(1, c), "字")] = 120;
  state.pending_predicts[Key("字", "字")] = 40;
  ASSERT_TRUE(TakeNewBatch(&state, 1000, "b"));
  ASSERT_EQ(state.inflight_reports.size(), 10u);
  for (const auto& [key, count] : state.inflight_reports) EXPECT_EQ(count, 50) << key;
  EXPECT_EQ(state.inflight_reports.rbegin()->first, Key("j", "字"));
  EXPECT_TRUE(state.inflight_predicts.empty());  // the budget is spent
  EXPECT_EQ(state.pending_reports[Key("a", "字")], 70);
  EXPECT_EQ(state.pending_reports[Key("k", "字")], 120);

  // With 2 left of the budget an entry would give fewer than three: it stays whole.
  CloudState tight;
  for (char c = 'a'; c < 'a' + 9; ++c) tight.pending_reports[Key(std::string(1, c), "阿")] = 50;
  tight.pending_reports[Key("z", "阿")] = 48;
  tight.pending_predicts = Counts({{Key("阿", "阿"), 48}});
  ASSERT_TRUE(TakeNewBatch(&tight, 1000, "t"));
  EXPECT_EQ(tight.inflight_reports.size(), 10u);
  EXPECT_TRUE(tight.inflight_predicts.empty());
  EXPECT_EQ(tight.pending_predicts, Counts({{Key("阿", "阿"), 48}}));

  const CloudUploadBatch batch = InflightBatch(state);
  EXPECT_EQ(batch.batch_id, "b");
  ASSERT_EQ(batch.items.size(), 10u);
  EXPECT_EQ(batch.items[0].reading, "a");
  EXPECT_EQ(batch.items[0].text, "字");
  EXPECT_EQ(batch.items[0].count, 50u);
}

TEST(CloudBatches, NoNewBatchWithinFiveMinutesOfTheLastOrWhileRateLimited) {
  CloudState state;
  state.pending_reports[Key("a", "阿")] = 50;
  state.pending_reports[Key("b", "不")] = 50;
  state.last_send_ms = 10000;
  EXPECT_FALSE(TakeNewBatch(&state, 10000 + kMinSendIntervalMs - 1, "b"));
  state.rate_limited_until_ms = 10000 + kMinSendIntervalMs + 1;
  EXPECT_FALSE(TakeNewBatch(&state, 10000 + kMinSendIntervalMs, "b"));
  EXPECT_TRUE(TakeNewBatch(&state, 10000 + kMinSendIntervalMs + 1, "b"));
}

TEST(CloudBatches, AnswersAcceptRetryBuryOrPostponeTheBatch) {
  auto in_flight = [] {
    CloudState state;
    state.inflight_batch_id = "id";
    state.inflight_reports = Counts({{Key("a", "阿"), 30}});
    state.inflight_predicts = Counts({{Key("阿", "阿"), 20}});
    return state;
  };
  const int64_t now = 500000;

  CloudState accepted = in_flight();
  EXPECT_EQ(ApplyReportResult(&accepted, {0, "ok", 0}, now), ReportEffect::kAccepted);
  EXPECT_FALSE(accepted.has_inflight());
  EXPECT_TRUE(accepted.inflight_reports.empty());
  EXPECT_EQ(accepted.last_send_ms, now);
  EXPECT_EQ(accepted.rate_limited_until_ms, now + 1800000);

  CloudState limited = in_flight();
  EXPECT_EQ(ApplyReportResult(&limited, {3, "try_later: 30 seconds", 30000}, now),
            ReportEffect::kRateLimited);
  EXPECT_EQ(limited.rate_limited_until_ms, now + 35000);
  EXPECT_EQ(limited.inflight_batch_id, "id");
  ApplyReportResult(&limited, {3, "try_later", -7}, now);
  EXPECT_EQ(limited.rate_limited_until_ms, now + 5000);

  CloudState retried = in_flight();
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(ApplyReportResult(&retried, {1, "http_503", 0}, now + i),
              ReportEffect::kKeptInFlight);
    EXPECT_EQ(retried.inflight_retry_count, i);
  }
  EXPECT_EQ(ApplyReportResult(&retried, {1, "http_503", 0}, now + 5), ReportEffect::kDeadLetter);
  EXPECT_FALSE(retried.has_inflight());
  ASSERT_EQ(retried.dead_letters.size(), 1u);
  EXPECT_EQ(retried.dead_letters[0],
            (CloudDeadLetter{"id", "retry_budget_exhausted:http_503", 30, 20, now + 5}));

  CloudState refused = in_flight();
  refused.dead_letters.resize(kMaxDeadLetters);
  refused.dead_letters.front().batch_id = "oldest";
  refused.dead_letters[1].batch_id = "second";
  EXPECT_EQ(ApplyReportResult(&refused, {2, "too_many_items", 0}, now), ReportEffect::kDeadLetter);
  ASSERT_EQ(refused.dead_letters.size(), kMaxDeadLetters);
  EXPECT_EQ(refused.dead_letters.front().batch_id, "second");  // the eleventh drops the first
  EXPECT_EQ(refused.dead_letters.back().reason, "permanent:too_many_items");

  CloudState odd = in_flight();
  EXPECT_EQ(ApplyReportResult(&odd, {9, "?", 0}, now), ReportEffect::kNone);
  EXPECT_EQ(odd, in_flight());
}

TEST(CloudBatches, BatchIdsAreFreshVersionFourGuids) {
  const std::string a = NewBatchId(), b = NewBatchId();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  for (size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(a[i], '-');
  EXPECT_EQ(a[14], '4');
  EXPECT_NE(std::string("89ab").find(a[19]), std::string::npos);
}

// ---- pending.json -----------------------------------------------------------------------------

TEST(CloudStateFile, ReadsBackWhatItWritesAndRejectsEachKindOfDamage) {
  CloudState state;
  state.pending_reports = Counts({{Key("nihao", "你好"), 7}});
  state.pending_predicts = Counts({{Key("你好", "世界"), 2147483647}});
  state.inflight_reports = Counts({{Key("ma", "\"媽\\"), 3}});
  state.inflight_batch_id = "0b9f6a0e-6a5e-4d8e-9c8e-2f9a1d3c4b5a";
  state.inflight_retry_count = 2;
  state.last_send_ms = 12;
  state.rate_limited_until_ms = 34;
  state.dead_letters.push_back({"x", "permanent:bad_format", 300, 200, 56});
  const std::string text = SerializeCloudState(state);
  CloudState read;
  std::string error;
  ASSERT_TRUE(ParseCloudState(text, &read, &error)) << error << text;
  EXPECT_EQ(read, state);

  struct Case {
    std::string text;
    std::string error;
  };
  const std::string batch = R"("inflight_batch_id":"b")";
  const Case cases[] = {
      {"[]", "cloud state root is not an object"},
      {R"({"pending_reports":[]})", "invalid cloud state"},
      {R"({"pending_reports":{"a\t阿":1.5}})", "invalid cloud state"},
      {R"({"pending_reports":{"a\t阿":-1}})", "invalid cloud state"},
      {R"({"pending_reports":{"a\t阿":2147483648}})", "invalid cloud state"},
      {R"({"pending_reports":{"a阿":1}})", "invalid cloud state key"},
      {R"({"pending_reports":{"A\t阿":1}})", "invalid cloud state key"},
      {R"({"pending_predicts":{"a\t阿":1}})", "invalid cloud state key"},
      {R"({"inflight_reports":{"a\t九個字九個字九個字":1},)" + batch + "}",
       "invalid cloud state key"},
      {R"({"rate_limited_until_ms":-1})", "invalid cloud rate limit"},
      {R"({"rate_limited_until_ms":"1"})", "invalid cloud rate limit"},
      {R"({"last_send_ms":0.5})", "invalid cloud state"},
      {R"({"inflight_reports":{"a\t阿":1}})", "inconsistent cloud snapshot"},
      {"{" + batch + "}", "inconsistent cloud snapshot"},
      {R"({"inflight_reports":{"a\t阿":500},"inflight_predicts":{"阿\t阿":1},)" + batch + "}",
       "inconsistent cloud snapshot"},
      {R"({"dead_letters":{}})", "invalid cloud dead letter"},
      {R"({"dead_letters":[{"batch_id":"x","reason":"r","report_count":300,)"
       R"("predict_count":201,"timestamp_ms":1}]})",
       "invalid cloud dead letter"},
      {R"({"dead_letters":[{"batch_id":"x","reason":"r","report_count":1}]})",
       "invalid cloud dead letter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CloudState untouched = state;
    EXPECT_FALSE(ParseCloudState(c.text, &untouched, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(untouched, state);
  }
  std::string eleven = R"({"dead_letters":[)";
  for (int i = 0; i < 11; ++i)
    eleven +=
        std::string(i ? "," : "") +
        R"({"batch_id":"x","reason":"r","report_count":1,"predict_count":1,"timestamp_ms":1})";
  EXPECT_FALSE(ParseCloudState(eleven + "]}", &read, &error));
  EXPECT_EQ(error, "invalid cloud dead letter");
  std::string full = R"({"pending_reports":{)";
  for (int i = 0; i <= 5000; ++i)
    full += (i ? ",\"a\\t字" : "\"a\\t字") + std::to_string(i) + "\":1";
  EXPECT_FALSE(ParseCloudState(full + "}}", &read, &error));
  EXPECT_EQ(error, "invalid cloud state");
}

// ---- The manager on the test's clock ------------------------------------------------------------

// The service and the engine as the manager's callbacks see them.
struct FakeWorld {
  std::deque<std::optional<CloudReportResult>> answers;  // nullopt: no answer
  std::vector<CloudUploadBatch> sent;
  std::function<void()> during_network;  // runs inside each network call
  CloudSnapshot<CloudHotItem> hot;
  CloudSnapshot<CloudBigramItem> bigram;
  bool fetch_ok = true;
  std::vector<std::string> hot_hashes_asked;
  std::vector<CloudHotItem> engine_hot;
  std::vector<CloudBigramItem> engine_pairs;
  bool engine_accepts = true;
  int engine_clears = 0;
  std::mutex engine_lock;
  bool engine_lock_held_in_apply = false;
};

class CloudManagerTest : public ::testing::Test {
 protected:
  std::unique_ptr<CloudInputManager> Make() {
    CloudInputOptions options;
    options.directory = dir_.path() / "cloud";
    options.engine_lock = &world_.engine_lock;
    options.clock = [this] { return now_; };
    options.new_batch_id = [this] { return "batch-" + std::to_string(++ids_); };
    CloudCallbacks& c = options.callbacks;
    c.report = [this](const CloudUploadBatch& batch, CloudReportResult* result, std::string* error,
                      HttpCancellation*) {
      world_.sent.push_back(batch);
      if (world_.during_network) world_.during_network();
      std::optional<CloudReportResult> answer = CloudReportResult{};
      if (!world_.answers.empty()) {
        answer = world_.answers.front();
        world_.answers.pop_front();
      }
      if (!answer) {
        *error = "winhttp:12002";
        return false;
      }
      *result = *answer;
      return true;
    };
    c.fetch_hot = [this](const std::string& hash, CloudSnapshot<CloudHotItem>* out,
                         std::string* error, HttpCancellation*) {
      world_.hot_hashes_asked.push_back(hash);
      if (world_.during_network) world_.during_network();
      if (!world_.fetch_ok) {
        *error = "unexpected HTTP status";
        return false;
      }
      *out = world_.hot;
      if (!hash.empty() && hash == world_.hot.hash) *out = {hash, {}, true};
      return true;
    };
    c.fetch_bigram = [this](const std::string& hash, CloudSnapshot<CloudBigramItem>* out,
                            std::string*, HttpCancellation*) {
      *out = world_.bigram;
      if (!hash.empty() && hash == world_.bigram.hash) *out = {hash, {}, true};
      return true;
    };
    c.apply_hot = [this](const std::vector<CloudHotItem>& words) {
      // Asked from another thread: try_lock on a mutex this thread holds is not allowed.
      world_.engine_lock_held_in_apply = !std::async(std::launch::async, [this] {
                                            if (!world_.engine_lock.try_lock()) return false;
                                            world_.engine_lock.unlock();
                                            return true;
                                          }).get();
      if (world_.engine_accepts) world_.engine_hot = words;
      return world_.engine_accepts;
    };
    c.apply_bigram = [this](const std::vector<CloudBigramItem>& pairs) {
      world_.engine_pairs = pairs;
      return true;
    };
    c.clear = [this] {
      ++world_.engine_clears;
      world_.engine_hot.clear();
      world_.engine_pairs.clear();
    };
    return std::make_unique<CloudInputManager>(std::move(options));
  }

  // Commits each word `times` times in turn: reports and pairs, all eligible.
  static void Type(CloudInputManager& manager, int times) {
    for (int i = 0; i < times; ++i) {
      manager.RecordCommit("你好", "nihao");
      manager.RecordCommit("世界", "shijie");
    }
  }

  CloudState OnDisk() {
    CloudState state;
    std::string error;
    EXPECT_TRUE(ParseCloudState(ReadFile(file()), &state, &error)) << error;
    return state;
  }
  fs::path file() const { return dir_.path() / "cloud" / "pending.json"; }

  TempDir dir_;
  FakeWorld world_;
  int64_t now_ = 10'000'000;
  int ids_ = 0;
};

TEST_F(CloudManagerTest, CommitsAreSavedFiveSecondsAfterTheFirstOfABurstAndOnlyWhileEnabled) {
  auto manager = Make();
  manager->RecordCommit("你好", "nihao");  // disabled: not counted
  manager->SetEnabled(true, false);
  world_.hot = {"h1", {}, false};
  manager->RunDueWork();  // the first attempt and refreshes, with nothing to send
  EXPECT_FALSE(fs::exists(file()));

  manager->RecordCommit("你好", "nihao");
  now_ += 3000;
  manager->RecordCommit("世界", "shijie");
  now_ += 1999;
  EXPECT_EQ(manager->RunDueWork(), now_ + 1);
  EXPECT_FALSE(fs::exists(file()));
  now_ += 1;
  manager->RunDueWork();
  const CloudState disk = OnDisk();
  EXPECT_EQ(disk.pending_reports, Counts({{Key("nihao", "你好"), 1}, {Key("shijie", "世界"), 1}}));
  EXPECT_EQ(disk.pending_predicts, Counts({{Key("你好", "世界"), 1}}));

  // A focus change between two words: no pair across it.
  manager->ClearContext();
  manager->RecordCommit("你好", "nihao");
  EXPECT_EQ(manager->StateSnapshot().pending_predicts.size(), 1u);
}

TEST_F(CloudManagerTest, ARetriedBatchKeepsItsIdAcrossAttemptsAndRestarts) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, 30);  // 60 reports and 59 pairs
  // A batch is on disk before it goes out, so a crash right after sending cannot count it twice.
  std::string on_disk_when_sent;
  world_.during_network = [&] {
    if (on_disk_when_sent.empty()) on_disk_when_sent = OnDisk().inflight_batch_id;
  };
  world_.answers = {CloudReportResult{1, "http_503", 0}, std::nullopt};
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 1u);
  EXPECT_EQ(on_disk_when_sent, "batch-1");
  EXPECT_EQ(world_.sent[0].items.size(), 2u);
  EXPECT_EQ(world_.sent[0].predicts.size(), 2u);

  now_ += kReportIntervalMs;
  manager->RunDueWork();  // no answer at all: the retry budget is kept
  now_ += kReportIntervalMs;
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 3u);
  for (const CloudUploadBatch& batch : world_.sent) EXPECT_EQ(batch.batch_id, "batch-1");
  EXPECT_FALSE(manager->StateSnapshot().has_inflight());
  EXPECT_EQ(manager->StateSnapshot().rate_limited_until_ms, now_ + kQuietAfterAcceptMs);

  // A batch in flight at a stop is sent again by the next manager, under the same id.
  world_.sent.clear();
  Type(*manager, 60);
  now_ += kQuietAfterAcceptMs;
  world_.answers = {CloudReportResult{1, "http_502", 0}};
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 1u);
  const std::string id = world_.sent[0].batch_id;
  manager->Shutdown();
  manager.reset();
  EXPECT_EQ(OnDisk().inflight_retry_count, 1);

  auto next = Make();
  next->SetEnabled(true, false);
  next->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 2u);
  EXPECT_EQ(world_.sent[1].batch_id, id);
  EXPECT_EQ(world_.sent[1].items.size(), world_.sent[0].items.size());
}

TEST_F(CloudManagerTest, ABatchThatCannotBeWrittenIsNotSent) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, 30);
  {
    ScopedAtomicWriteFault fault(AtomicWriteStep::kRename);
    const std::string log = CapturedLog([&] { manager->RunDueWork(); });
    EXPECT_NE(log.find("[Kavi] 雲輸入狀態寫入失敗"), std::string::npos) << log;
  }
  EXPECT_TRUE(world_.sent.empty());
  EXPECT_TRUE(manager->StateSnapshot().has_inflight());
  now_ += kReportIntervalMs;
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 1u);
  EXPECT_EQ(world_.sent[0].batch_id, "batch-1");
}

TEST_F(CloudManagerTest, ARateLimitedAnswerPostponesTheNextAttempt) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, 30);
  world_.answers = {CloudReportResult{3, "try_later: 90 seconds", 90000}};
  manager->RunDueWork();
  now_ += kReportIntervalMs;  // still limited: nothing goes out
  manager->RunDueWork();
  EXPECT_EQ(world_.sent.size(), 1u);
  now_ += kReportIntervalMs;  // 120 s after the answer: past 90 + 5 s
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 2u);
  EXPECT_EQ(world_.sent[1].batch_id, world_.sent[0].batch_id);
}

TEST_F(CloudManagerTest, AnswersArrivingAfterASwitchDuringTheAttemptAreDropped) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, 30);
  world_.hot = {"h1", {{"泥蒿", "nihao", 9}}, false};
  // Off and on again while the report is out: a new generation, which does not believe the
  // acceptance of the old one.
  auto toggle = [&] {
    manager->SetEnabled(false, false);
    manager->SetEnabled(true, false);
  };
  world_.during_network = toggle;
  manager->RunDueWork();
  ASSERT_EQ(world_.sent.size(), 1u);
  EXPECT_EQ(manager->StateSnapshot().inflight_batch_id, "batch-1");

  // The same while the hot words are out: the engine does not get them.
  bool toggled = false;
  world_.during_network = [&] {
    if (world_.hot_hashes_asked.empty() || toggled) return;
    toggled = true;
    toggle();
  };
  manager->RunDueWork();  // the switch made everything due again
  ASSERT_EQ(world_.sent.size(), 2u);
  EXPECT_EQ(world_.sent[1].batch_id, "batch-1");
  EXPECT_FALSE(manager->StateSnapshot().has_inflight());
  EXPECT_EQ(world_.hot_hashes_asked.size(), 1u);
  EXPECT_TRUE(world_.engine_hot.empty());

  manager->RunDueWork();
  ASSERT_EQ(world_.engine_hot.size(), 1u);
  EXPECT_TRUE(world_.engine_lock_held_in_apply);
  EXPECT_EQ(world_.sent.size(), 2u);
}

TEST_F(CloudManagerTest, SwitchingOffWithPurgeForgetsEverythingAndClearsTheEngine) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  world_.hot = {"h1", {{"泥蒿", "nihao", 9}}, false};
  Type(*manager, 60);
  manager->RunDueWork();
  ASSERT_TRUE(fs::exists(file()));
  ASSERT_FALSE(world_.engine_hot.empty());
  manager->RecordCommit("你好", "nihao");  // a save is now due

  manager->SetEnabled(false, /*purge=*/true);
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_EQ(world_.engine_clears, 1);
  const CloudState state = manager->StateSnapshot();
  EXPECT_TRUE(state.pending_reports.empty() && state.pending_predicts.empty());
  EXPECT_FALSE(state.has_inflight());
  now_ += kSaveDelayMs;
  manager->RunDueWork();
  manager->RecordCommit("你好", "nihao");  // off: not counted
  manager->Shutdown();
  EXPECT_FALSE(fs::exists(file()));  // nothing left to write

  // Switching off without purge keeps the queue and saves it at once.
  auto again = Make();
  again->SetEnabled(true, false);
  again->RecordCommit("你好", "nihao");
  again->SetEnabled(false, false);
  again->RunDueWork();
  EXPECT_EQ(OnDisk().pending_reports.size(), 1u);
}

TEST_F(CloudManagerTest, SnapshotsReachTheEngineOnceWithTheStoredHashAndAtMost5000HotWords) {
  auto manager = Make();
  world_.hot.hash = "h1";
  // 6000 readings: the 5000 most frequent reach the engine. A second word for one reading gives
  // way to the more frequent, and a reading the engine cannot key is dropped.
  for (int i = 0; i < 6000; ++i) {
    std::string reading;
    for (int n = i; n > 0 || reading.empty(); n /= 26)
      reading.push_back(static_cast<char>('a' + n % 26));
    world_.hot.items.push_back({"詞" + std::to_string(i), reading, static_cast<double>(i)});
  }
  world_.hot.items.push_back({"另", "a", 1e9});
  world_.hot.items.push_back({"壞", "bad reading", 2e9});
  world_.bigram = {"b1", {{"你好", "世界", 3}}, false};
  manager->SetEnabled(true, false);
  manager->RunDueWork();
  ASSERT_EQ(world_.engine_hot.size(), kMaxEngineHotWords);
  double lowest = 1e18;
  for (const CloudHotItem& item : world_.engine_hot) lowest = std::min(lowest, item.frequency);
  EXPECT_EQ(lowest, 1001);  // "另" took reading "a" and one of the 5000 places
  EXPECT_TRUE(std::any_of(world_.engine_hot.begin(), world_.engine_hot.end(),
                          [](const CloudHotItem& item) { return item.word == "另"; }));
  EXPECT_EQ(world_.engine_pairs.size(), 1u);

  // Thirty minutes on: asked with the stored hash, not modified, the engine left alone.
  world_.engine_hot.clear();
  now_ += kSnapshotRefreshMs;
  manager->RunDueWork();
  ASSERT_EQ(world_.hot_hashes_asked.size(), 2u);
  EXPECT_EQ(world_.hot_hashes_asked[1], "h1");
  EXPECT_TRUE(world_.engine_hot.empty());

  // A new snapshot the engine refuses keeps the old hash, so the next refresh fetches it again.
  world_.hot = {"h2", {{"泥蒿", "nihao", 9}}, false};
  world_.engine_accepts = false;
  now_ += kSnapshotRefreshMs;
  EXPECT_NE(CapturedLog([&] { manager->RunDueWork(); }).find("[Kavi] 雲端熱詞寫入引擎失敗"),
            std::string::npos);
  world_.engine_accepts = true;
  now_ += kSnapshotRefreshMs;
  manager->RunDueWork();
  EXPECT_EQ(world_.hot_hashes_asked.back(), "h1");
  EXPECT_EQ(world_.engine_hot.size(), 1u);

  // After an engine restart the lists are loaded again without waiting for a change.
  world_.engine_hot.clear();
  manager->ReloadWordLists();
  manager->RunDueWork();
  EXPECT_EQ(world_.hot_hashes_asked.back(), "");
  EXPECT_EQ(world_.engine_hot.size(), 1u);
}

TEST_F(CloudManagerTest, ADamagedFileIsLoggedAndReplacedAndNoLogLineHoldsWhatWasTyped) {
  WriteFile(file(), R"({"inflight_reports":{"nihao\t你好":501},"inflight_batch_id":"x"})");
  std::string log = CapturedLog([&] {
    auto manager = Make();
    EXPECT_EQ(manager->StateSnapshot(), CloudState{});
    manager->SetEnabled(true, false);
    Type(*manager, 60);
    world_.fetch_ok = false;
    world_.answers = {CloudReportResult{1, "http_500", 0}};
    manager->RunDueWork();
    manager->Shutdown();
  });
  EXPECT_NE(log.find("[Kavi] 雲輸入狀態解析失敗：inconsistent cloud snapshot"), std::string::npos)
      << log;
  EXPECT_NE(log.find("[Kavi] 雲輸入批次上報未成功"), std::string::npos);
  EXPECT_NE(log.find("[Kavi] 雲端熱詞刷新失敗"), std::string::npos);
  for (const char* typed : {"你好", "世界", "nihao", "shijie"})
    EXPECT_EQ(log.find(typed), std::string::npos) << typed;
  EXPECT_TRUE(OnDisk().has_inflight());

  // Times from an earlier boot (ahead of this boot's clock) are brought back.
  CloudState future;
  future.last_send_ms = now_ + 86400000;
  future.rate_limited_until_ms = now_ + 86400000;
  ASSERT_TRUE(WriteCloudStateFile(file(), SerializeCloudState(future)));
  const CloudState loaded = Make()->StateSnapshot();
  EXPECT_EQ(loaded.last_send_ms, now_);
  EXPECT_EQ(loaded.rate_limited_until_ms, now_ + kQuietAfterAcceptMs);
}

TEST_F(CloudManagerTest, TheWorkerSendsOnItsOwnAndShutdownWritesTheFinalState) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, 30);
  manager->Start();  // switching on made the report due at once
  for (int i = 0; i < 1000 && manager->StateSnapshot().last_send_ms == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(manager->StateSnapshot().last_send_ms, now_);
  manager->RecordCommit("你好", "nihao");
  manager->Shutdown();  // before the save due five seconds later
  EXPECT_EQ(OnDisk().pending_reports.at(Key("nihao", "你好")), 1);
}

}  // namespace
}  // namespace kavi::win::testing
