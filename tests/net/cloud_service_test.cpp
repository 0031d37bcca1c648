// SPDX-License-Identifier: Apache-2.0
// The cloud input manager against kavi-service on loopback, through the real HTTPS client: what
// it reports is what the service counts (once, even when an answer is lost), the service's words
// reach the engine, and a refusal for good becomes a dead letter. The clock is
// the test's; the network is real.
#include <gtest/gtest.h>

#include <future>
#include <map>

#include "net/cloud_input_manager.h"
#include "net/cloud_service_link.h"
#include "tests/common/kavi_service_process.h"
#include "tests/net/net_test_support.h"

namespace kavi::win::testing {
namespace {

// The engine's side, as the manager's callbacks see it.
struct RecordingEngine {
  std::mutex lock;
  std::vector<CloudHotItem> hot;
  std::vector<CloudBigramItem> pairs;
  int hot_applies = 0;
};

class CloudOnService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(SharedService().port(), 0);
    SharedService().ClearFaults();
    Point(SharedService());
  }

  void Point(const KaviServiceProcess& service) {
    ASSERT_TRUE(link_.Configure({service.base_url(), "", service.certificates().ca}));
  }

  std::unique_ptr<CloudInputManager> Make(std::function<std::string()> ids = {}) {
    CloudInputOptions options;
    options.directory = dir_.path();
    options.engine_lock = &engine_.lock;
    options.clock = [this] { return now_.load(); };
    options.new_batch_id = std::move(ids);
    CloudCallbacks& c = options.callbacks;
    c.report = [this](const CloudUploadBatch& batch, CloudReportResult* result, std::string* error,
                      HttpCancellation* cancellation) {
      return link_.Report(batch, result, error, cancellation);
    };
    c.fetch_hot = [this](const std::string& hash, CloudSnapshot<CloudHotItem>* snapshot,
                         std::string* error, HttpCancellation* cancellation) {
      return link_.FetchHot(hash, snapshot, error, cancellation);
    };
    c.fetch_bigram = [this](const std::string& hash, CloudSnapshot<CloudBigramItem>* snapshot,
                            std::string* error, HttpCancellation* cancellation) {
      return link_.FetchBigram(hash, snapshot, error, cancellation);
    };
    c.apply_hot = [this](const std::vector<CloudHotItem>& words) {
      engine_.hot = words;
      ++engine_.hot_applies;
      return true;
    };
    c.apply_bigram = [this](const std::vector<CloudBigramItem>& pairs) {
      engine_.pairs = pairs;
      return true;
    };
    c.clear = [this] {
      engine_.hot.clear();
      engine_.pairs.clear();
    };
    return std::make_unique<CloudInputManager>(std::move(options));
  }

  // Commits `first` and `second` in turn, `times` each: eligible reports and pairs.
  static void Type(CloudInputManager& manager, const std::pair<std::string, std::string>& first,
                   const std::pair<std::string, std::string>& second, int times) {
    for (int i = 0; i < times; ++i) {
      manager.RecordCommit(first.first, first.second);
      manager.RecordCommit(second.first, second.second);
    }
  }

  // The service's aggregate as its snapshots serve it: "reading:word" and "earlier>following".
  static std::map<std::string, double> Aggregate(const KaviServiceProcess& service) {
    WinHttpClient http(service.ClientOptions());
    KaviApiClient api(http, service.base_url());
    CloudSnapshot<CloudHotItem> hot;
    CloudSnapshot<CloudBigramItem> pairs;
    std::string error;
    std::map<std::string, double> out;
    EXPECT_TRUE(api.FetchHot("", &hot, &error)) << error;
    EXPECT_TRUE(api.FetchBigram("", &pairs, &error)) << error;
    for (const CloudHotItem& item : hot.items) out[item.reading + ":" + item.word] = item.frequency;
    for (const CloudBigramItem& item : pairs.items)
      out[item.earlier + ">" + item.following] = item.weight;
    return out;
  }

  TempDir dir_;
  CloudServiceLink link_;
  RecordingEngine engine_;
  std::atomic<int64_t> now_{50'000'000};
};

TEST_F(CloudOnService, CountsReachTheServiceAndItsWordsReachTheEngine) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, {"雲端", "yunduan"}, {"詞對", "cidui"}, 30);
  manager->RunDueWork();
  const CloudState after = manager->StateSnapshot();
  EXPECT_FALSE(after.has_inflight());
  EXPECT_EQ(after.last_send_ms, now_);
  EXPECT_TRUE(after.pending_reports.empty());

  std::map<std::string, double> counted = Aggregate(SharedService());
  EXPECT_EQ(counted["yunduan:雲端"], 30);
  EXPECT_EQ(counted["cidui:詞對"], 30);
  EXPECT_EQ(counted["雲端>詞對"], 30);
  EXPECT_EQ(counted["詞對>雲端"], 29);

  // The refresh after the report brought the service's lists, these words among them.
  std::lock_guard<std::mutex> hold(engine_.lock);
  EXPECT_TRUE(std::any_of(engine_.hot.begin(), engine_.hot.end(), [](const CloudHotItem& item) {
    return item.word == "雲端" && item.reading == "yunduan" && item.frequency == 30;
  }));
  EXPECT_TRUE(
      std::any_of(engine_.pairs.begin(), engine_.pairs.end(), [](const CloudBigramItem& pair) {
        return pair.earlier == "雲端" && pair.following == "詞對";
      }));
  EXPECT_EQ(engine_.hot_applies, 1);
}

TEST_F(CloudOnService, ARefreshOfAnUnchangedListLeavesTheEngineAlone) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  manager->RunDueWork();
  ASSERT_EQ(engine_.hot_applies, 1);
  now_ += kSnapshotRefreshMs;
  manager->RunDueWork();  // If-None-Match with the stored hash: 304
  EXPECT_EQ(engine_.hot_applies, 1);

  // Someone reports: the list changed, and the next refresh brings it.
  WinHttpClient http(SharedService().ClientOptions());
  KaviApiClient api(http, SharedService().base_url());
  CloudReportResult result;
  std::string error;
  ASSERT_TRUE(api.Report({"someone-else", {{"新詞", "xinci", 5}}, {}}, &result, &error)) << error;
  now_ += kSnapshotRefreshMs;
  manager->RunDueWork();
  EXPECT_EQ(engine_.hot_applies, 2);
  std::lock_guard<std::mutex> hold(engine_.lock);
  EXPECT_TRUE(std::any_of(engine_.hot.begin(), engine_.hot.end(),
                          [](const CloudHotItem& item) { return item.word == "新詞"; }));
}

TEST_F(CloudOnService, AnAnswerLostToASwitchIsSentAgainUnderItsIdAndCountedOnce) {
  auto manager = Make();
  manager->SetEnabled(true, false);
  Type(*manager, {"斷線", "duanxian"}, {"重送", "chongsong"}, 30);
  // The service counts the batch, then holds its answer back; the user switches off meanwhile.
  ASSERT_EQ(SharedService().Fault(R"({"path": "/cloud/report", "delay_ms": 60000, "times": 1})"),
            200u);
  auto attempt = std::async(std::launch::async, [&] { manager->RunDueWork(); });
  bool counted = false;
  for (int i = 0; i < 300 && !counted; ++i) {
    counted = Aggregate(SharedService()).count("duanxian:斷線") != 0;
    if (!counted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(counted);
  manager->SetEnabled(false, false);  // cancels the request in flight
  attempt.get();
  CloudState state = manager->StateSnapshot();
  ASSERT_TRUE(state.has_inflight());
  EXPECT_EQ(state.inflight_retry_count, 0);
  EXPECT_EQ(state.last_send_ms, 0);

  manager->SetEnabled(true, false);
  manager->RunDueWork();
  state = manager->StateSnapshot();
  EXPECT_FALSE(state.has_inflight());
  EXPECT_EQ(state.last_send_ms, now_);
  EXPECT_EQ(Aggregate(SharedService())["duanxian:斷線"], 30);  // the same id, counted once
  const std::string requests = SharedService().Requests();
  size_t reports = 0;
  for (size_t at = requests.find("/cloud/report"); at != std::string::npos;
       at = requests.find("/cloud/report", at + 1))
    ++reports;
  EXPECT_EQ(reports, 2u);
}

TEST_F(CloudOnService, ARefusalForGoodBecomesADeadLetter) {
  // The service refuses an id longer than 64 bytes for good.
  auto manager = Make([] { return std::string(65, 'x'); });
  manager->SetEnabled(true, false);
  Type(*manager, {"拒收", "jushou"}, {"死信", "sixin"}, 30);
  manager->RunDueWork();
  const CloudState state = manager->StateSnapshot();
  EXPECT_FALSE(state.has_inflight());
  ASSERT_EQ(state.dead_letters.size(), 1u);
  EXPECT_EQ(state.dead_letters[0].reason, "permanent:bad_batch_id");
  EXPECT_EQ(state.dead_letters[0].report_count, 60);
  EXPECT_EQ(state.dead_letters[0].predict_count, 59);
  EXPECT_EQ(Aggregate(SharedService()).count("jushou:拒收"), 0u);
}

}  // namespace
}  // namespace kavi::win::testing
