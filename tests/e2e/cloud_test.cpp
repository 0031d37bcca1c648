// SPDX-License-Identifier: Apache-2.0
// Cloud words end to end: the real server typing through a real client, kavi-service on
// loopback. Words committed are reported and counted by the service; a hot word the service
// serves shows as the second candidate with ☁ and commits; a kill -9 with a batch in flight
// neither loses nor doubles a count; without a service nothing is counted at all.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>

#include "net/cloud_state.h"
#include "net/kavi_api_client.h"
#include "tests/common/kavi_service_process.h"
#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
constexpr uint16_t kOk = static_cast<uint16_t>(ReplyKind::Ok);
constexpr char kHotWord[] = "泥蒿";  // a reading of "nihao" the engine does not offer first

bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  for (int waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

class CloudEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start("\"reports_per_minute\": 0, \"snapshot_seconds\": 0"));
    log_fd_ = ::open((home_.root() / "server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(log_fd_, 0);
  }
  void TearDown() override { ::close(log_fd_); }

  // The user points Kavi at their own service.
  void NameTheService() {
    WriteFile(home_.config_dir() / "endpoints.json",
              "{\"service_base_url\": \"" + service_.base_url() + "\", \"extra_ca_bundle\": \"" +
                  service_.certificates().ca.string() + "\"}");
  }

  pid_t StartServer() { return home_.StartServer({}, log_fd_); }

  void StopServer(pid_t server) {
    {
      KaviClient client(home_.Options());
      ASSERT_EQ(+client.Send(RequestKind::Shutdown)->kind, kOk);
    }
    EXPECT_EQ(home_.Wait(server), 0);
  }

  std::string ServerLog() { return ReadFile(home_.root() / "server.log"); }

  fs::path PendingFile() const { return home_.config_dir() / "cloud" / "pending.json"; }
  CloudState Pending() {
    CloudState state;
    std::string error;
    ParseCloudState(ReadFile(PendingFile()), &state, &error);
    return state;
  }

  // The service's aggregate as the snapshots serve it: word -> count, pair -> count.
  std::map<std::string, double> HotWords() {
    WinHttpClient http(service_.ClientOptions());
    KaviApiClient api(http, service_.base_url());
    CloudSnapshot<CloudHotItem> hot;
    std::string error;
    std::map<std::string, double> words;
    if (!api.FetchHot("", &hot, &error)) return words;
    for (const CloudHotItem& item : hot.items)
      words[item.reading + ":" + item.word] = item.frequency;
    return words;
  }
  std::map<std::string, double> Pairs() {
    WinHttpClient http(service_.ClientOptions());
    KaviApiClient api(http, service_.base_url());
    CloudSnapshot<CloudBigramItem> pairs;
    std::string error;
    std::map<std::string, double> out;
    if (!api.FetchBigram("", &pairs, &error)) return out;
    for (const CloudBigramItem& item : pairs.items)
      out[item.earlier + ">" + item.following] = item.weight;
    return out;
  }

  // Commits the first candidate of `letters`, which must be `expected`, and acknowledges the
  // commit as a client does (a list with a cloud entry merged in holds further keys until then).
  static void Commit(KaviClient& client, const std::string& letters, const std::string& expected) {
    Type(client, letters);
    auto reply = client.SendKey(keys::kSpace, 0, 1);
    ASSERT_TRUE(reply);
    ASSERT_EQ(Field(reply->commit_text), expected);
    if (reply->commit_pending) {
      ASSERT_EQ(+client.Send(RequestKind::AckCommit, 1)->kind, kOk);
    }
  }
  // 你好 and 世界 in turn, `times` each.
  void TypeWords(int times) {
    KaviClient client(home_.Options());
    ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
    for (int i = 0; i < times; ++i) {
      ASSERT_NO_FATAL_FAILURE(Commit(client, "nihao", "你好"));
      ASSERT_NO_FATAL_FAILURE(Commit(client, "shijie", "世界"));
    }
  }

  KaviServiceProcess service_;
  ServerHome home_;
  int log_fd_ = -1;
};

TEST_F(CloudEndToEnd, CommittedWordsAreReportedAndAServedHotWordIsOfferedSecondAndCommits) {
  // Someone else's typing made the hot word: the service serves it from the start.
  {
    WinHttpClient http(service_.ClientOptions());
    KaviApiClient api(http, service_.base_url());
    CloudReportResult result;
    std::string error;
    ASSERT_TRUE(api.Report({"seed", {{kHotWord, "nihao", 50}}, {}}, &result, &error)) << error;
  }
  // The user names their service while the server runs: it follows without a restart.
  pid_t server = StartServer();
  ASSERT_EQ(home_.Settings({"--set", "service_base_url=" + service_.base_url(), "--set",
                            "extra_ca_bundle=" + service_.certificates().ca.string()}),
            0);
  {
    KaviClient client(home_.Options());
    ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
    PipeResponse state;
    ASSERT_TRUE(WaitUntil([&] {
      state = Type(client, "nihao");
      const bool offered = state.candidate_count > 1 && Field(state.candidates[1].text) == kHotWord;
      if (!offered) client.SendKey(keys::kEscape, 0, 1);
      return offered;
    })) << Field(state.candidates[1].text);
    EXPECT_EQ(Field(state.candidates[0].text), "你好");
    EXPECT_EQ(Field(state.candidates[1].comment), "☁");
    auto picked = client.SendKey('2', 0, 1);
    ASSERT_TRUE(picked);
    EXPECT_EQ(Field(picked->commit_text), kHotWord);
    EXPECT_EQ(picked->has_preedit, 0);
    ASSERT_EQ(+client.Send(RequestKind::AckCommit, 1)->kind, kOk);
  }
  TypeWords(50);
  StopServer(server);  // a stop writes what was counted

  // The next start reports at once: 199 eligible counts in one batch.
  server = StartServer();
  ASSERT_TRUE(WaitUntil([&] { return HotWords().count("nihao:你好") != 0; }));
  std::map<std::string, double> words = HotWords();
  EXPECT_EQ(words["nihao:你好"], 50);
  EXPECT_EQ(words["shijie:世界"], 50);
  EXPECT_EQ(words["nihao:" + std::string(kHotWord)], 50);  // its one commit is not eligible yet
  std::map<std::string, double> pairs = Pairs();
  EXPECT_EQ(pairs["你好>世界"], 50);
  EXPECT_EQ(pairs["世界>你好"], 49);
  ASSERT_TRUE(WaitUntil([&] { return Pending().last_send_ms != 0; }));
  CloudState left = Pending();
  EXPECT_FALSE(left.has_inflight());
  EXPECT_EQ(left.pending_reports, (CloudCounts{{CloudEntryKey("nihao", kHotWord), 1}}));
  // The next words came from another client, after a focus change: no pair spans it.
  EXPECT_TRUE(left.pending_predicts.empty());
  StopServer(server);

  const std::string log = ServerLog();
  for (const char* typed : {"你好", "世界", kHotWord, "nihao", "shijie"})
    EXPECT_EQ(log.find(typed), std::string::npos) << typed << " in:\n" << log;
}

TEST_F(CloudEndToEnd, AKillWithABatchInFlightNeitherLosesNorDoublesACount) {
  NameTheService();
  // Refused while typing, so that no batch is accepted before the one the test watches.
  ASSERT_EQ(service_.Fault(R"({"path": "/cloud/report", "status": 503})"), 200u);
  pid_t server = StartServer();
  TypeWords(60);  // 60 + 60 words, 60 + 59 pairs
  StopServer(server);

  // The service counts the batch, then holds its answer back: the server is killed waiting.
  ASSERT_EQ(service_.Fault(R"({"path": "/cloud/report", "delay_ms": 20000, "times": 1})"), 200u);
  server = StartServer();
  ASSERT_TRUE(WaitUntil([&] { return HotWords().count("nihao:你好") != 0; }));
  const std::string in_flight = Pending().inflight_batch_id;
  EXPECT_FALSE(in_flight.empty());
  ASSERT_EQ(::kill(server, SIGKILL), 0);
  EXPECT_EQ(home_.Wait(server), -1);

  // The next start sends the same batch again; the service has it already.
  service_.ClearFaults();
  server = StartServer();
  ASSERT_TRUE(WaitUntil([&] { return Pending().last_send_ms != 0; }));
  EXPECT_NE(service_.Requests().find("/cloud/report"), std::string::npos);
  StopServer(server);

  const CloudState left = Pending();
  EXPECT_FALSE(left.has_inflight());
  std::map<std::string, double> words = HotWords();
  std::map<std::string, double> pairs = Pairs();
  const std::string hello = CloudEntryKey("nihao", "你好"), world = CloudEntryKey("shijie", "世界");
  const std::string hello_world = CloudEntryKey("你好", "世界");
  const std::string world_hello = CloudEntryKey("世界", "你好");
  auto pending = [&](const CloudCounts& counts, const std::string& key) {
    auto it = counts.find(key);
    return it == counts.end() ? 0.0 : static_cast<double>(it->second);
  };
  EXPECT_EQ(words["nihao:你好"] + pending(left.pending_reports, hello), 60);
  EXPECT_EQ(words["shijie:世界"] + pending(left.pending_reports, world), 60);
  EXPECT_EQ(pairs["你好>世界"] + pending(left.pending_predicts, hello_world), 60);
  EXPECT_EQ(pairs["世界>你好"] + pending(left.pending_predicts, world_hello), 59);
  EXPECT_EQ(words["nihao:你好"], 50);  // one batch, counted once
}

TEST_F(CloudEndToEnd, WithoutAServiceOfTheUsersOwnNothingIsCountedAndTheLogSaysSoOnce) {
  pid_t server = StartServer();  // the shipped endpoints name a local service: not enough
  TypeWords(3);
  // A configuration change re-reads the endpoints; still none of the user's own.
  EXPECT_EQ(home_.Settings({"--set", "page_size=6"}), 0);
  TypeWords(1);
  StopServer(server);
  EXPECT_FALSE(fs::exists(PendingFile()));
  const std::string log = ServerLog();
  const std::string idle = "[Kavi] 未設定 Kavi 服務地址，雲端詞保持閒置";
  const size_t first = log.find(idle);
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(idle, first + 1), std::string::npos) << log;
}

}  // namespace
}  // namespace kavi::win::testing
