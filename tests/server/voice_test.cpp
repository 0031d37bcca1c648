// SPDX-License-Identifier: Apache-2.0
// Voice input through the server: the voice controller as the server builds it, over a
// microphone that plays a WAV file spoken by espeak-ng, with the real signed helper and
// pocketsphinx. The client starts and stops through kinds 23 and 24 and the text arrives as a
// commit on its next PollAsync.
#include <chrono>
#include <thread>

#include "frontend/input_context.h"
#include "protocol/keysyms.h"
#include "server/app/voice_setup.h"
#include "tests/server/server_fixture.h"
#include "tests/voice/scripted_capture.h"
#include "tests/voice/voice_test_support.h"
#include "voice/wav_file.h"

namespace kavi::win::testing {
namespace {

class VoiceServerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    dirs_.install = RealHelper().parent_path();
    dirs_.installed_data = ShippedAnchors().parent_path();
    dirs_.user_root = dir_ / "user";
    dirs_.logs = dir_ / "logs";
    dirs_.voice_temp = dir_ / "voice-temp";
    dirs_.voice_models = dir_ / "voice-models";
    std::filesystem::create_directories(dirs_.user_root);
    config_ = std::make_unique<ConfigStore>(dirs_.user_root);
  }
  void TearDown() override {
    StopServer();
    if (voice_) voice_->Shutdown();
    ServerTest::TearDown();
  }
  // The controller over a microphone that plays `script`.
  void MakeVoice(std::shared_ptr<CaptureScript> script) {
    voice_ = server::MakeVoiceController(dirs_, &shared_, config_.get(), ScriptedFactory(script));
    services_.voice = voice_.get();
  }
  uint32_t Status(KaviClient& client) {
    auto reply = client.Send(RequestKind::VoiceStatus, 1);
    return reply ? reply->value : 0xFFFFFFFFu;
  }
  bool WaitStatus(KaviClient& client, VoiceStatus status) {
    for (int i = 0; i < 3000; ++i) {
      if (Status(client) == static_cast<uint32_t>(status)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  ServerDirectories dirs_;
  std::unique_ptr<ConfigStore> config_;
  std::unique_ptr<VoiceController> voice_;
};

TEST_F(VoiceServerTest, DictationArrivesAsACommitOnTheNextPoll) {
  ASSERT_TRUE(Speak("hello world", dir_ / "spoken.wav"));
  PcmWav spoken;
  std::string error;
  ASSERT_TRUE(DecodePcmWav(ReadFile(dir_ / "spoken.wav"), &spoken, &error)) << error;
  InstallRealModel(dirs_.voice_models);
  MakeVoice(PlayWav(spoken));
  StartServer();
  auto client = FocusedClient();

  auto started = client->Send(RequestKind::VoiceStart, 1);
  ASSERT_TRUE(started);
  ASSERT_EQ(started->kind, kOk) << Text(started->commit_text);
  ASSERT_TRUE(WaitStatus(*client, VoiceStatus::kRecording));
  // The file plays at once; the recording still has to last the minimum length.
  std::this_thread::sleep_for(std::chrono::milliseconds(kMinRecordingMs + 20));
  auto stopped = client->Send(RequestKind::VoiceStop, 1);
  ASSERT_TRUE(stopped);
  ASSERT_EQ(stopped->kind, kOk) << Text(stopped->commit_text);

  std::string committed;
  for (int i = 0; i < 1200 && committed.empty(); ++i) {
    auto poll = client->Send(RequestKind::PollAsync, 1);
    ASSERT_TRUE(poll);
    if (poll->has_commit) {
      committed = Text(poll->commit_text);
      EXPECT_EQ(+client->Send(RequestKind::AckCommit, 1)->kind, kOk);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  EXPECT_NE(committed.find("hello"), std::string::npos) << committed;
  EXPECT_EQ(Status(*client), static_cast<uint32_t>(VoiceStatus::kSucceeded));
}

TEST_F(VoiceServerTest, FailuresAreRefusedWithTheirMessage) {
  // No model installed: the start is refused with the store's message; a stop has nothing to
  // stop; without the service there is no model job to cancel.
  auto script = std::make_shared<CaptureScript>();
  MakeVoice(script);
  StartServer();
  auto client = FocusedClient();
  struct Case {
    RequestKind kind;
    std::string message;
  } cases[] = {
      {RequestKind::VoiceStart, kLocalManifestMissingMessage},
      {RequestKind::VoiceStop, kNothingToStopMessage},
      {RequestKind::CancelVoiceModelJob, kNoModelJobMessage},
      {RequestKind::DownloadVoiceModel, kOnlineEngineMessage},
  };
  for (const Case& c : cases) {
    PipeRequest request = MakeRequest(c.kind);
    request.context_id = 1;
    if (c.kind == RequestKind::DownloadVoiceModel) CopyTextField(request.text, "online");
    auto reply = client->Transact(request);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->kind, kRefused) << int(c.kind);
    EXPECT_EQ(Text(reply->commit_text), c.message) << int(c.kind);
  }
  EXPECT_EQ(Status(*client), static_cast<uint32_t>(VoiceStatus::kFailed));

  // F8 in a front end is the same toggle; the refusal comes back as its message.
  class Sink : public FrontendSink {
    void Commit(const std::string&) override {}
    void Show(const ContextView&) override {}
  } sink;
  ClientChannel channel(Options());
  FrontendConnection connection(channel);
  InputContext context(connection, sink);
  ASSERT_TRUE(context.FocusIn());
  EXPECT_TRUE(context.ProcessKey(keys::kF8, 0));
  EXPECT_EQ(context.voice_message(), kLocalManifestMissingMessage);
  EXPECT_EQ(script->opened, 0);
}

}  // namespace
}  // namespace kavi::win::testing
