// SPDX-License-Identifier: Apache-2.0
// Scheme packs end to end: the real server installs the packs that a real kavi-service
// publishes (built from Debian's libime data), its engine restarts and converts with them,
// and removal, cancellation and a kill mid-install leave no pack behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <fstream>
#include <map>

#include "tests/common/kavi_service_process.h"
#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kJobRunning = 1, kJobDone = 2, kJobCancelled = 4;

class SchemePacksEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start("\"scheme_packs\": \"" KAVI_BINARY_DIR "/service/scheme-packs\""));
    WriteFile(home_.config_dir() / "endpoints.json",
              "{\"service_base_url\": \"" + service_.base_url() + "\", \"extra_ca_bundle\": \"" +
                  service_.certificates().ca.string() + "\"}");
    server_ = home_.StartServer();
  }

  fs::path pack_dir() const { return home_.config_dir() / "build"; }

  // kavi-client send KIND ARG, as a user would type it; what it printed.
  std::string ClientSend(const std::string& kind, const std::string& argument = {}) {
    int output[2];
    EXPECT_EQ(::pipe2(output, O_CLOEXEC), 0);
    std::vector<std::string> args = {"--socket", home_.socket().string(), "--no-start", "send",
                                     kind};
    if (!argument.empty()) args.push_back(argument);
    const pid_t pid = SpawnChild(ServerHome::Bin("kavi-client"), args, home_.Environment(),
                                 output[1]);
    ::close(output[1]);
    std::string printed;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;)
      printed.append(buffer, static_cast<size_t>(n));
    ::close(output[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << printed;
    return printed;
  }

  uint32_t WaitForJob(KaviClient& client) {
    for (int i = 0; i < 3000; ++i) {
      auto status = client.Send(RequestKind::PackJobStatus, 1);
      if (status && status->value != kJobRunning) return status->value;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return kJobRunning;
  }

  // The catalogue's schemes with their sources.
  std::map<std::string, std::string> Schemes(KaviClient& client) {
    std::map<std::string, std::string> sources;
    auto reply = client.Send(RequestKind::ListCatalog, 1, 0);
    EXPECT_TRUE(reply);
    if (!reply) return sources;
    for (uint32_t i = 0; i < reply->candidate_count; ++i)
      sources[Field(reply->candidates[i].text)] = Field(reply->candidates[i].comment);
    return sources;
  }

  // Chooses the scheme through the settings application and waits until typing `code` gives
  // `word` (first candidate or committed at once); false when it never does.
  bool SelectAndConvert(const std::string& scheme, const std::string& code,
                        const std::string& word) {
    EXPECT_EQ(home_.Settings({"--set", "schema=" + scheme}), 0);
    for (int i = 0; i < 200; ++i) {
      KaviClient client(home_.Options());
      if (client.Send(RequestKind::FocusIn, 1)) {
        const PipeResponse state = Type(client, code);
        client.SendKey(keys::kEscape, 0, 1);
        if (Field(state.commit_text) == word ||
            (state.candidate_count > 0 && Field(state.candidates[0].text) == word))
          return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  bool HasPackFiles(const std::string& id) const {
    if (!fs::exists(pack_dir())) return false;
    for (const auto& entry : fs::directory_iterator(pack_dir()))
      if (entry.path().filename().string().starts_with(id)) return true;
    return false;
  }

  bool HasStaging() const {
    if (!fs::exists(pack_dir())) return false;
    for (const auto& entry : fs::directory_iterator(pack_dir()))
      if (entry.path().filename().string().starts_with(".install-")) return true;
    return false;
  }

  void WaitForRequest(const std::string& path) {
    for (int i = 0; i < 1000 && service_.Requests().find(path) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  KaviServiceProcess service_;
  ServerHome home_;
  pid_t server_ = -1;
};

TEST_F(SchemePacksEndToEnd, InstalledPacksConvertAndRemovalTakesThemAway) {
  KaviClient client(home_.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  EXPECT_EQ(Schemes(client).count("zrm"), 0u);

  EXPECT_NE(ClientSend("16", "zrm").find("kind: 101"), std::string::npos);
  EXPECT_EQ(WaitForJob(client), kJobDone);
  EXPECT_EQ(Schemes(client)["zrm"], "downloaded");
  EXPECT_EQ(ReadFile(pack_dir() / "zrm.complete"), "ok\n");
  EXPECT_EQ(fs::file_size(pack_dir() / "zrm.main.dict"), fs::file_size("/usr/share/libime/zrm.main.dict"));
  EXPECT_TRUE(SelectAndConvert("zrm", "vsgo", "中国"));

  // The idioms pack: a word libime's own dictionary does not have.
  EXPECT_NE(ClientSend("16", "chengyu").find("kind: 101"), std::string::npos);
  EXPECT_EQ(WaitForJob(client), kJobDone);
  EXPECT_EQ(Schemes(client)["chengyu"], "downloaded");
  EXPECT_TRUE(SelectAndConvert("chengyu", "yikuiyizu", "一夔已足"));

  EXPECT_NE(ClientSend("17", "zrm").find("kind: 101"), std::string::npos);
  EXPECT_EQ(WaitForJob(client), kJobDone);
  EXPECT_FALSE(HasPackFiles("zrm."));
  EXPECT_EQ(Schemes(client).count("zrm"), 0u);
  EXPECT_EQ(Schemes(client)["chengyu"], "downloaded");
}

TEST_F(SchemePacksEndToEnd, ACancelOrAKillMidDownloadLeavesNoPack) {
  ASSERT_EQ(service_.Fault(R"({"path": "/packs/scheme/zrm/zrm.main.dict",
                               "slow_chunk_bytes": 65536, "slow_interval_ms": 50})"),
            200u);
  KaviClient client(home_.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  EXPECT_NE(ClientSend("16", "zrm").find("kind: 101"), std::string::npos);
  WaitForRequest("zrm.main.dict");
  EXPECT_NE(ClientSend("44").find("kind: 101"), std::string::npos);
  EXPECT_EQ(WaitForJob(client), kJobCancelled);
  EXPECT_FALSE(HasPackFiles("zrm."));
  EXPECT_FALSE(HasStaging());

  // Killed while the pack downloads: its staging directory is there, and gone after a restart.
  service_.ClearFaults();
  ASSERT_EQ(service_.Fault(R"({"path": "/packs/scheme/zrm/zrm.main.dict",
                               "slow_chunk_bytes": 65536, "slow_interval_ms": 50})"),
            200u);
  EXPECT_NE(ClientSend("16", "zrm").find("kind: 101"), std::string::npos);
  WaitForRequest("zrm.main.dict");
  EXPECT_TRUE(HasStaging());
  ::kill(server_, SIGKILL);
  home_.Wait(server_);
  service_.ClearFaults();
  home_.StartServer();
  EXPECT_FALSE(HasStaging());
  EXPECT_FALSE(HasPackFiles("zrm."));
  KaviClient fresh(home_.Options());
  EXPECT_EQ(Schemes(fresh).count("zrm"), 0u);
}

}  // namespace
}  // namespace kavi::win::testing
