// SPDX-License-Identifier: Apache-2.0
// The companion end to end, through the programs a user runs: kavi-companion set up with `init`,
// `add`, `connect-kavi` and `serve`; the real KaviServer; `kavi-client pair` approved with
// `kavi-companion approve`; then `2fa typed through the server's socket, an entry chosen, the
// request approved or denied on the companion's command line, and the committed code checked
// against RFC 6238 for that secret at that time. The companion is then stopped and started
// again: the server's WebSocket comes back, a new entry arrives through it, and its code commits.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <functional>

#include "service/totp.h"
#include "tests/common/temp_dir.h"
#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
constexpr uint16_t kOk = static_cast<uint16_t>(ReplyKind::Ok);
constexpr char kGithubUri[] =
    "otpauth://totp/GitHub:alice%40example.org?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"
    "&issuer=GitHub";
constexpr char kProtonUri[] = "otpauth://totp/Proton:bob?secret=JBSWY3DPEHPK3PXP&digits=8";

bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 40000) {
  for (int waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The codes of `uri` from `from` to `to` (seconds), one per time step.
std::vector<std::string> CodesBetween(const char* uri, int64_t from, int64_t to) {
  service::OtpAuthEntry entry;
  std::string error;
  EXPECT_TRUE(service::ParseOtpAuthUri(uri, &entry, &error)) << error;
  std::vector<std::string> codes;
  for (int64_t t = from; t < to + entry.secret.period; t += entry.secret.period)
    codes.push_back(service::TotpCode(entry.secret, std::min(t, to)));
  return codes;
}

class CompanionEndToEnd : public ::testing::Test {
 protected:
  fs::path CompanionDir() const { return home_.root() / "companion"; }

  // Runs kavi-companion with this home's environment; its exit code, its output in `output`.
  int Companion(const std::vector<std::string>& args, std::string* output = nullptr) {
    const fs::path out_file = home_.root() / "companion.out";
    const int fd = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all = {"--dir", CompanionDir().string()};
    all.insert(all.end(), args.begin(), args.end());
    const int code = home_.Wait(home_.Spawn(ServerHome::Bin("kavi-companion"), all, {}, fd));
    ::close(fd);
    if (output) *output = ReadFile(out_file);
    return code;
  }

  // `kavi-companion serve` on the port of its configuration; waits until it listens.
  void Serve() {
    fs::remove(CompanionDir() / "port");
    const int fd =
        ::open((home_.root() / "companion.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    companion_ = home_.Spawn(
        ServerHome::Bin("kavi-companion"),
        {"--dir", CompanionDir().string(), "serve", "--passphrase-file", passphrase_file_.string()},
        {}, fd);
    ::close(fd);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(CompanionDir() / "port"); }))
        << ReadFile(home_.root() / "companion.log");
  }
  void StopCompanion() {
    ::kill(companion_, SIGTERM);
    EXPECT_EQ(home_.Wait(companion_), 0) << ReadFile(home_.root() / "companion.log");
  }

  // Approves (or denies) the one pending request as soon as there is one.
  void Decide(const char* verb) {
    std::string output;
    EXPECT_TRUE(WaitUntil([&] { return Companion({verb}, &output) == 0; })) << output;
  }

  // The server's Kavi entry in `kavi-companion list` shows as connected.
  bool KaviConnected() {
    std::string output;
    return Companion({"list"}, &output) == 0 && output.find("(connected)") != std::string::npos;
  }

  // Types `2fa and waits until the page lists `count` entries; the page.
  PipeResponse OpenTwoFactorPage(KaviClient& client, uint32_t count) {
    PipeResponse page = Type(client, "`2fa");
    EXPECT_TRUE(WaitUntil([&] {
      if (page.candidate_count == count && Field(page.candidates[0].text).starts_with("🔐 ") &&
          Field(page.candidates[0].comment).empty())
        return true;
      // The list is loading (the page polls for it), or the entry has not arrived yet: look again.
      if (auto polled = client.Send(RequestKind::PollAsync, 1);
          polled && polled->kind != kOk && polled->candidate_count > 0) {
        page = *polled;
      } else {
        client.SendKey(keys::kEscape, 0, 1);
        page = Type(client, "`2fa");
      }
      return false;
    })) << Field(page.candidates[0].text);
    return page;
  }

  // Polls until the chosen item's job has answered.
  PipeResponse AwaitJob(KaviClient& client) {
    PipeResponse answer{};
    EXPECT_TRUE(WaitUntil([&] {
      auto polled = client.Send(RequestKind::PollAsync, 1);
      if (!polled || polled->kind == kOk) return false;
      answer = *polled;
      return true;
    }));
    return answer;
  }

  // Chooses entry `slot` of the 2FA page, approves the request, and checks the committed code.
  void CommitCode(KaviClient& client, uint32_t entries, char slot, const char* uri) {
    OpenTwoFactorPage(client, entries);
    const int64_t asked = Now();
    auto chosen = client.SendKey(static_cast<uint32_t>(slot), 0, 1);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->has_commit, 0);  // the code is the companion's to give
    Decide("approve");
    const PipeResponse answer = AwaitJob(client);
    const std::vector<std::string> codes = CodesBetween(uri, asked, Now());
    ASSERT_EQ(answer.has_commit, 1) << Field(answer.candidates[0].comment);
    EXPECT_NE(std::find(codes.begin(), codes.end(), Field(answer.commit_text)), codes.end())
        << Field(answer.commit_text);
    EXPECT_EQ(+client.Send(RequestKind::AckCommit, 1)->kind, kOk);
  }

  ServerHome home_;
  fs::path passphrase_file_ = home_.root() / "passphrase";
  pid_t companion_ = -1;
};

TEST_F(CompanionEndToEnd, PairWithKaviClientThenCodesDenialsAndAReconnect) {
  // The user's setup, as the README shows it.
  WriteFile(passphrase_file_, "correct horse battery staple\n");
  ASSERT_EQ(Companion({"init", "--nickname", "alice", "--port", "0", "--passphrase-file",
                       passphrase_file_.string()}),
            0);
  ASSERT_NO_FATAL_FAILURE(Serve());
  std::string output;
  ASSERT_EQ(Companion({"add", kGithubUri}, &output), 0) << output;
  ASSERT_EQ(Companion({"connect-kavi"}, &output), 0) << output;
  home_.StartServer();

  // kavi-client pair prints the link and waits; the companion's approval completes it.
  const fs::path pair_out = home_.root() / "pair.out";
  const int pair_fd = ::open(pair_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pair =
      home_.Spawn(ServerHome::Bin("kavi-client"),
                  {"--socket", home_.socket().string(), "--no-start", "pair"}, {}, pair_fd);
  ::close(pair_fd);
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(pair_out).find('\n') != std::string::npos; }));
  EXPECT_TRUE(ReadFile(pair_out).starts_with("gatekite://sso?tmp_id=")) << ReadFile(pair_out);
  Decide("approve");
  ASSERT_EQ(home_.Wait(pair, 60000), 0) << ReadFile(pair_out);
  EXPECT_NE(ReadFile(pair_out).find("paired with alice"), std::string::npos);

  KaviClient client(home_.Options());
  auto status = client.Send(RequestKind::CompanionRequest2, 1);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->value, 2u);  // paired
  EXPECT_EQ(Field(status->commit_text), "alice");

  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  ASSERT_NO_FATAL_FAILURE(CommitCode(client, 1, '1', kGithubUri));

  // A denied request shows why, and commits nothing.
  OpenTwoFactorPage(client, 1);
  ASSERT_TRUE(client.SendKey('1', 0, 1));
  Decide("deny");
  const PipeResponse denied = AwaitJob(client);
  EXPECT_EQ(denied.has_commit, 0);
  EXPECT_EQ(Field(denied.candidates[0].text), "操作失敗");
  EXPECT_EQ(Field(denied.candidates[0].comment), "Safe denied the TOTP request");

  // The companion goes away and comes back on the same port: the WebSocket reconnects, the
  // entry added afterwards arrives through it, and its code still commits.
  ASSERT_TRUE(WaitUntil([&] { return KaviConnected(); }));
  const std::string port = ReadFile(CompanionDir() / "port");
  StopCompanion();
  std::string config = ReadFile(CompanionDir() / "companion.json");
  config.replace(config.find("\"port\": 0"), 9, "\"port\": " + std::to_string(std::stoi(port)));
  WriteFile(CompanionDir() / "companion.json", config);
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_TRUE(WaitUntil([&] { return KaviConnected(); }));
  ASSERT_EQ(Companion({"add", kProtonUri}, &output), 0) << output;
  ASSERT_NO_FATAL_FAILURE(CommitCode(client, 2, '2', kProtonUri));

  // kavi-client unpair: the status says so.
  EXPECT_EQ(home_.Wait(home_.Spawn(ServerHome::Bin("kavi-client"),
                                   {"--socket", home_.socket().string(), "--no-start", "unpair"})),
            0);
  EXPECT_EQ(client.Send(RequestKind::CompanionRequest2, 1)->value, 0u);
}

}  // namespace
}  // namespace kavi::win::testing
