// SPDX-License-Identifier: Apache-2.0
// End to end: the clipboard of a real X display (set with xclip), KaviServer with the fake
// engine, kavi-service on loopback with its dictionary and a LibreTranslate stand-in, and the
// reference client typing the translation command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/service_endpoints.h"
#include "platform/clipboard.h"
#include "tests/common/fake_libretranslate.h"
#include "tests/common/kavi_service_process.h"
#include "tests/e2e/server_process.h"

extern char** environ;

namespace kavi::win::testing {
namespace {

// An Xvfb of this test's own, so that its clipboard is nobody else's. Xvfb picks a free display
// number itself and reports it, so parallel tests cannot collide.
class PrivateDisplay {
 public:
  PrivateDisplay() {
    int report[2];
    if (::pipe(report) != 0) return;
    const char* argv[] = {"Xvfb",       "-displayfd", "3",   "-screen", "0",
                          "640x480x24", "-nolisten",  "tcp", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, report[1], 3);
    const int spawned =
        ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(report[1]);
    std::string number;
    char c = 0;
    while (spawned == 0 && ::read(report[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    ::close(report[0]);
    if (spawned != 0) pid_ = -1;
    if (!number.empty()) name_ = ":" + number;
  }
  ~PrivateDisplay() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  pid_t pid_ = -1;
};

// Owns the clipboard with a text while it lives (xclip in the foreground).
class ClipboardOwner {
 public:
  ClipboardOwner(const std::string& display, const std::filesystem::path& file,
                 const std::string& text) {
    WriteFile(file, text);
    // -quiet keeps it in the foreground (so that it can be stopped), and talks: hush it.
    pid_ =
        SpawnChild("/bin/sh",
                   {"-c", "exec /usr/bin/xclip -selection clipboard -quiet \"$0\" >/dev/null 2>&1",
                    file.string()},
                   {"DISPLAY=" + display});
  }
  ~ClipboardOwner() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

std::string Text(const char* field, size_t size) {
  return std::string(TextFieldView(field, size));
}

class ClipboardTranslation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(display_.name().empty());
    ::setenv("DISPLAY", display_.name().c_str(), 1);  // for this process's own clipboard reads
    ASSERT_TRUE(service_.Start("\"dictionary\": \"" KAVI_SOURCE_DIR
                               "/service/data/cedict_ts.u8.gz\", \"libretranslate_url\": \"" +
                               libre_.url() + "\""));
    std::string message;
    ASSERT_TRUE(SetUserEndpoint(home_.config_dir() / kEndpointsFileName, kServiceBaseUrlKey,
                                service_.base_url(), &message))
        << message;
    ASSERT_TRUE(SetUserEndpoint(home_.config_dir() / kEndpointsFileName, kExtraCaBundleKey,
                                service_.certificates().ca.string(), &message));
    home_.Spawn(ServerHome::Bin("KaviServerFake"), {}, display_.name());
    ASSERT_TRUE(WaitForListener(Options().socket_path, 30000));
  }

  // The server of this display in this home.
  ClientOptions Options() const {
    ClientOptions options = home_.Options();
    SessionEnvironment env;
    env.uid = ::getuid();
    env.display = display_.name();
    env.runtime_dir = (home_.root() / "run").string();
    options.socket_path = ServerEndpointFor(env).socket;
    return options;
  }

  // Types the command, chooses its item and polls until the job's result arrives.
  PipeResponse TranslateWith(KaviClient& client, const std::string& command) {
    PipeResponse page = Type(client, command);
    EXPECT_EQ(Text(page.candidates[0].text, sizeof page.candidates[0].text), "🌐 剪貼板翻譯");
    auto chosen = client.Send(RequestKind::SelectCandidate, 1, 0);
    EXPECT_TRUE(chosen);
    std::optional<PipeResponse> poll;
    for (int i = 0; i < 1000; ++i) {
      poll = client.Send(RequestKind::PollAsync, 1);
      if (poll && poll->status_code == 4) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(poll && poll->status_code == 4);
    return poll.value_or(PipeResponse{});
  }

  PrivateDisplay display_;
  FakeLibreTranslate libre_;
  KaviServiceProcess service_;
  ServerHome home_;
};

TEST_F(ClipboardTranslation, TheClipboardIsTranslatedAndTheTextReachesTheClient) {
  ClipboardOwner owner(display_.name(), home_.root() / "clip.txt", "你好");
  for (int i = 0; i < 200 && ReadClipboardText() != "你好"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(ReadClipboardText(), "你好");

  KaviClient client(Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));

  // `en goes to the configured machine translation.
  PipeResponse done = TranslateWith(client, "`en");
  ASSERT_EQ(done.has_commit, 1);
  EXPECT_EQ(Text(done.commit_text, sizeof done.commit_text), "[en] 你好");
  ASSERT_EQ(libre_.bodies().size(), 1u);
  EXPECT_NE(libre_.bodies()[0].find("\"q\":\"你好\""), std::string::npos);
  ASSERT_TRUE(client.Send(RequestKind::AckCommit, 1));

  // `cd is the offline dictionary.
  done = TranslateWith(client, "`cd");
  ASSERT_EQ(done.has_commit, 1);
  EXPECT_EQ(Text(done.commit_text, sizeof done.commit_text), "你好 [nǐ hǎo] hello; hi");
  ASSERT_TRUE(client.Send(RequestKind::AckCommit, 1));
}

TEST_F(ClipboardTranslation, TheServicesMessageIsShownWhenItCannotTranslate) {
  ClipboardOwner owner(display_.name(), home_.root() / "clip.txt", "qzxwv");
  for (int i = 0; i < 200 && ReadClipboardText().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  KaviClient client(Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  const PipeResponse failed = TranslateWith(client, "`cd");
  EXPECT_EQ(failed.has_commit, 0);
  EXPECT_EQ(Text(failed.candidates[0].text, sizeof failed.candidates[0].text), "操作失敗");
  EXPECT_EQ(Text(failed.candidates[0].comment, sizeof failed.candidates[0].comment),
            "詞典中沒有這個詞");
}

}  // namespace
}  // namespace kavi::win::testing
