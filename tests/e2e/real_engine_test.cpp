// SPDX-License-Identifier: Apache-2.0
// The real server with the real engine, driven over its socket the way an application would.
#include <fcntl.h>
#include <poll.h>

#include <fstream>
#include <map>

#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

constexpr uint16_t kOk = static_cast<uint16_t>(ReplyKind::Ok);

int FindCandidate(const PipeResponse& state, const std::string& text) {
  for (uint32_t i = 0; i < state.candidate_count; ++i)
    if (Field(state.candidates[i].text) == text) return static_cast<int>(i);
  return -1;
}

TEST(RealEngine, PinyinWordsSentencesPartialSelectionAndAsciiMode) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));

  PipeResponse state = Type(client, "nihao");
  ASSERT_GT(+state.candidate_count, 0u);
  EXPECT_EQ(Field(state.candidates[0].text), "你好");
  EXPECT_EQ(Field(state.preedit), "ni hao");

  client.SendKey(keys::kEscape, 0, 1);
  state = Type(client, "zhonghuarenmingongheguo");
  ASSERT_GT(+state.candidate_count, 0u);
  EXPECT_EQ(Field(state.candidates[0].text), "中华人民共和国");

  // Picking a word that covers only the start leaves the rest composing.
  client.SendKey(keys::kEscape, 0, 1);
  state = Type(client, "nihaoshijie");
  int slot = FindCandidate(state, "你好");
  ASSERT_GE(slot, 0) << Field(state.candidates[0].text);
  auto partial = client.Send(RequestKind::SelectCandidate, 1, static_cast<uint32_t>(slot));
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->has_commit, 0);
  EXPECT_EQ(partial->commit_pending, 0);
  EXPECT_EQ(Field(partial->preedit).rfind("你好", 0), 0u) << Field(partial->preedit);
  ASSERT_GT(+partial->candidate_count, 0u);
  EXPECT_EQ(Field(partial->candidates[0].text), "世界");
  auto done = client.SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(done);
  EXPECT_EQ(Field(done->commit_text), "你好世界");

  // ASCII mode: letters go back to the application untouched.
  auto ascii = client.Send(RequestKind::ToggleAsciiMode, 1);
  ASSERT_TRUE(ascii);
  EXPECT_EQ(ascii->ascii_mode, 1);
  state = Type(client, "abc");
  EXPECT_EQ(state.result, 0);
  EXPECT_EQ(state.has_preedit, 0);
}

// The dictionaries, the language model and the English words load while the server already
// accepts: keys sent the moment it does must get the answers of a server that has settled (the
// same candidates, English word included), not an empty or partial list.
TEST(RealEngine, KeysSentTheMomentTheSocketAcceptsGetTheSettledServersAnswers) {
  ServerHome home;
  home.Spawn(ServerHome::Bin("KaviServer"), {});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ConnectSeqpacketWithin(home.socket(), 0).valid()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the server never accepted";
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  ClientOptions options = home.Options();
  options.transaction_timeout_ms = 30000;  // the first key waits for the load, however slow
  KaviClient client(options);
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));

  const std::vector<std::string> inputs = {"n", "nihao", "hello"};
  auto answers = [&] {
    std::vector<std::vector<std::string>> pages;
    for (const std::string& input : inputs) {
      const PipeResponse state = Type(client, input);
      std::vector<std::string> page = {Field(state.preedit)};
      for (uint32_t i = 0; i < state.candidate_count; ++i)
        page.push_back(Field(state.candidates[i].text));
      pages.push_back(page);
      client.SendKey(keys::kEscape, 0, 1);
    }
    return pages;
  };
  const auto first = answers();
  const auto settled = answers();
  ASSERT_EQ(first.size(), inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i]);
    EXPECT_GT(first[i].size(), 1u);  // a preedit and candidates
    EXPECT_EQ(first[i], settled[i]);
  }
  // The English word list is part of what the first keys waited for.
  EXPECT_NE(std::find(first[2].begin(), first[2].end(), "hello"), first[2].end());
}

TEST(RealEngine, SettingsWrittenByTheSettingsApplicationReachTheRunningServer) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  PipeResponse state = Type(client, "nimen");
  EXPECT_EQ(+state.page_size, 10u);
  EXPECT_EQ(state.tail_flag, 1);
  EXPECT_EQ(Field(state.candidates[0].text), "你们");
  client.SendKey(keys::kEscape, 0, 1);

  ASSERT_EQ(home.Settings({"--set", "page_size=5", "--set", "inline_preedit=false"}), 0);
  ASSERT_EQ(home.Settings({"--toggle-traditional"}), 0);
  // The watcher reloads on its own thread: wait for the next reply to show it.
  for (int i = 0; i < 300; ++i) {
    state = Type(client, "nimen");
    client.SendKey(keys::kEscape, 0, 1);
    if (state.page_size == 5 && Field(state.candidates[0].text) == "你們") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(+state.page_size, 5u);
  EXPECT_LE(+state.candidate_count, 5u);
  EXPECT_EQ(state.tail_flag, 0);
  EXPECT_EQ(Field(state.candidates[0].text), "你們");
}

std::vector<std::string> Texts(const PipeResponse& state) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < state.candidate_count; ++i)
    texts.push_back(Field(state.candidates[i].text));
  return texts;
}

// Types a backtick command and leaves plug-in mode again; the page it showed.
PipeResponse Command(KaviClient& client, const std::string& command) {
  PipeResponse state = Type(client, "`" + command);
  client.SendKey(keys::kEscape, 0, 1);
  return state;
}

TEST(RealEngine, BacktickCommandsFollowTheCharsetAndPagesHoldSixteen) {
  using Strings = std::vector<std::string>;
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));

  // Simplified output, the default: the engine's t2s converts what the commands write.
  PipeResponse state = Command(client, "dx200000006.5");
  EXPECT_EQ(Texts(state),
            (Strings{"二亿〇六点五", "贰亿零陆点伍", "二亿〇六元五角", "贰亿零陆元伍角"}));
  EXPECT_EQ(Field(state.candidates[1].comment), "〔数字大写〕");
  EXPECT_EQ(Texts(Command(client, "dx10001")).at(0), "一万〇一");
  EXPECT_EQ(Texts(Command(client, "hln20230322")).at(0), "癸卯年（兔）闰二月初一");
  EXPECT_EQ(Texts(Command(client, "hln20240209")).at(0), "癸卯年（兔）腊月三十");
  EXPECT_EQ(Texts(Command(client, "hln20240210")).at(0), "甲辰年（龙）正月初一");
  EXPECT_TRUE(Texts(Command(client, "xq")).at(1).starts_with("礼拜"));
  // Typing the digits of a date or a number never chooses an item on the way.
  state = Type(client, "`dx12.30");
  EXPECT_EQ(Field(state.preedit), "`dx12.30");
  auto chosen = client.SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(Field(chosen->commit_text), "十二点三〇");

  // Traditional output keeps the text as written.
  ASSERT_EQ(home.Settings({"--toggle-traditional", "--set", "page_size=16"}), 0);
  for (int i = 0; i < 300; ++i) {
    state = Command(client, "dx200000006.5");
    if (state.candidate_count > 0 && Field(state.candidates[0].text) == "二億〇六點五") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(Texts(state),
            (Strings{"二億〇六點五", "貳億零陸點伍", "二億〇六元五角", "貳億零陸元伍角"}));
  EXPECT_EQ(Texts(Command(client, "hln20230322")).at(0), "癸卯年（兔）閏二月初一");

  // page_size 16 reaches the engine: a page of sixteen.
  state = Type(client, "shi");
  EXPECT_EQ(+state.page_size, 16u);
  EXPECT_EQ(+state.candidate_count, 16u);
}

TEST(RealEngine, PagingOpensThePanelWhoseEntriesCommitFromAnyPage) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  PipeResponse first = Type(client, "shi");
  ASSERT_EQ(+first.candidate_count, 10u);
  const std::string top = Field(first.candidates[0].text);
  auto next = client.SendKey(keys::kPageDown, 0, 1);
  ASSERT_TRUE(next);
  EXPECT_EQ(+next->page_number, 1u);
  // The panel is open at the highlighted entry of page 2; Up goes one panel line back, to the
  // first entry of page 1, which is before the engine's current page.
  ASSERT_TRUE(client.SendKey(keys::kUp, 0, 1));
  auto chosen = client.SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->has_commit, 1);
  EXPECT_EQ(Field(chosen->commit_text), top);
  EXPECT_EQ(chosen->commit_pending, 1);
  EXPECT_EQ(+client.Send(RequestKind::AckCommit, 1)->kind, kOk);
}

TEST(RealEngine, TheSettingsApplicationListsSchemesAndThemesAndPreviewsOne) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  auto schemes = client.Send(RequestKind::ListCatalog, 1, 0);
  ASSERT_TRUE(schemes);
  ASSERT_EQ(+schemes->kind, static_cast<uint16_t>(ReplyKind::State));
  EXPECT_GE(+schemes->value, 6u);
  std::map<std::string, std::string> sources;
  for (uint32_t i = 0; i < schemes->candidate_count; ++i)
    sources[Field(schemes->candidates[i].text)] = Field(schemes->candidates[i].comment);
  EXPECT_EQ(sources["base_pinyin"], "builtin");
  EXPECT_EQ(sources["wubi86"], "builtin");

  auto themes = client.Send(RequestKind::ListCatalogAlt, 1, 0);
  ASSERT_TRUE(themes);
  EXPECT_GE(+themes->value, 9u);
  EXPECT_EQ(Field(themes->candidates[0].text), "native");
  EXPECT_FALSE(Field(themes->candidates[0].comment).empty());  // its display name

  PipeRequest preview = MakeRequest(RequestKind::PreviewTheme);
  CopyTextField(preview.text, "sakura");
  preview.argument = 1;
  preview.rect = {100, 100, 102, 120};
  // No display here, so there is no window to preview in.
  EXPECT_EQ(+client.Transact(preview)->kind, static_cast<uint16_t>(ReplyKind::Refused));
}

TEST(RealEngine, StartUpExitCodesBootstrapAndGenerationReuse) {
  ServerHome home;
  // Without its data directory the server cannot prepare a generation: exit 4.
  std::filesystem::path lonely = home.root() / "lonely";
  std::filesystem::create_directories(lonely);
  std::filesystem::copy(ServerHome::Bin("KaviServer"), lonely / "KaviServer");
  std::filesystem::copy(ServerHome::Bin("libovra.so"), lonely / "libovra.so");
  EXPECT_EQ(home.Wait(home.Spawn(lonely / "KaviServer", {})), 4);

  // Without a readable identity (no /proc in a mount namespace of its own): exit 2. (An
  // AddressSanitizer build cannot start without /proc at all.)
#if !defined(__SANITIZE_ADDRESS__)
  if (std::system("unshare --mount true >/dev/null 2>&1") == 0) {
    const std::string hidden_proc =
        "mount -t tmpfs none /proc && exec " + ServerHome::Bin("KaviServer").string();
    EXPECT_EQ(home.Wait(home.Spawn("/usr/bin/unshare",
                                   {"--mount", "--fork", "--kill-child", "sh", "-c", hidden_proc})),
              2);
  }
#endif

  // --bootstrap writes a valid autostart entry and starts as usual.
  pid_t server = home.Spawn(ServerHome::Bin("KaviServer"), {"--bootstrap"});
  ASSERT_TRUE(WaitForListener(home.socket(), 30000));
  std::filesystem::path entry = home.root() / "config" / "autostart" / "kavi.desktop";
  ASSERT_TRUE(std::filesystem::exists(entry));
  EXPECT_EQ(std::system(("desktop-file-validate " + entry.string()).c_str()), 0);

  // A second start reuses the generation the first one made.
  auto generations = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home.local_dir() / "build"))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  std::vector<std::string> before = generations();
  auto current_time = std::filesystem::last_write_time(home.local_dir() / "build" / "current.txt");
  KaviClient client(home.Options());
  ASSERT_EQ(+client.Send(RequestKind::Shutdown)->kind, kOk);
  EXPECT_EQ(home.Wait(server), 0);
  home.StartServer();
  EXPECT_EQ(generations(), before);
  EXPECT_EQ(std::filesystem::last_write_time(home.local_dir() / "build" / "current.txt"),
            current_time);
}

// Reads fd until end of file; nullopt when that takes longer than timeout_ms.
std::optional<std::string> ReadToEnd(int fd, int timeout_ms) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.append(buffer, static_cast<size_t>(n));
  }
}

TEST(RealEngine, AnAutoStartedServerLetsGoOfTheCallersOutputAndOutlivesIt) {
  ServerHome home;
  int output[2];
  ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
  // out=$(kavi-client type nihao): the shell reads until every writer has closed the pipe.
  const pid_t client = SpawnChild(ServerHome::Bin("kavi-client"), {"type", "nihao"},
                                  home.Environment(), output[1]);
  ::close(output[1]);
  std::optional<std::string> printed = ReadToEnd(output[0], 20000);
  ::close(output[0]);
  EXPECT_EQ(home.Wait(client), 0);
  KaviClient housekeeping(home.Options());
  auto pid = housekeeping.Send(RequestKind::QueryServerPid);
  ASSERT_TRUE(pid) << "the started server is gone";
  ASSERT_TRUE(printed) << "the started server kept the caller's output open";
  EXPECT_NE(printed->find("你好"), std::string::npos) << *printed;

  // A log line into a closed pipe (or a stray SIGPIPE) does not end it.
  ::kill(static_cast<pid_t>(pid->value), SIGPIPE);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(housekeeping.Send(RequestKind::QueryServerPid));
  EXPECT_EQ(+housekeeping.Send(RequestKind::Shutdown)->kind, kOk);
  // Not a child of this test: wait for it to finish writing into the home before it is removed.
  const std::string stat = "/proc/" + std::to_string(pid->value) + "/stat";
  auto ended = [&] {
    std::ifstream in(stat);
    std::string line;
    if (!std::getline(in, line)) return true;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
  };
  for (int i = 0; i < 1000 && !ended(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(ended());
}

TEST(RealEngine, LettersPastTheInputLimitAreNeverSwallowed) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  // 103 letters of one long sentence, typed without a pause.
  const std::string sentence =
      "woshiyigezhongguorenwoaiwodezuguowomendejiaxiangzaihenyuandedifangnaliyougaoshan"
      "heliuhaiyouhenduopengyou";
  ASSERT_GT(sentence.size(), 64u);
  std::string converted;
  for (char c : sentence) {
    auto reply = client.SendKey(static_cast<unsigned char>(c), 0, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, 1) << "a letter was handed back mid-sentence";
    if (reply->has_commit) converted += Field(reply->commit_text);
  }
  // The settled front of the sentence went out as Chinese text while typing went on ...
  ASSERT_FALSE(converted.empty());
  EXPECT_EQ(converted.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << converted;
  // ... and the rest, the last letters included, is still composing: Return commits it as typed.
  auto rest = client.SendKey(keys::kReturn, 0, 1);
  ASSERT_TRUE(rest);
  const std::string raw = Field(rest->commit_text);
  EXPECT_GT(raw.size(), 10u);
  EXPECT_LE(raw.size(), 64u);
  EXPECT_EQ(sentence.substr(sentence.size() - raw.size()), raw);
}

}  // namespace
}  // namespace kavi::win::testing
