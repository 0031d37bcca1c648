// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <limits>

#include "net/sha256.h"
#include "tests/voice/scripted_capture.h"
#include "tests/voice/voice_test_support.h"
#include "voice/helper_signature.h"
#include "voice/voice_controller.h"
#include "voice/voice_manifest.h"
#include "voice/voice_output.h"
#include "voice/voice_session.h"
#include "voice/wav_file.h"

namespace kavi::win::testing {
namespace {

TEST(VoiceSessionTest, Transitions) {
  VoiceSession session;
  EXPECT_EQ(session.Stop(0).event, VoiceEvent::kNone);
  EXPECT_EQ(session.Reset().event, VoiceEvent::kNone);
  VoiceTransition begun = session.Begin();
  EXPECT_EQ(begun.event, VoiceEvent::kBegun);
  EXPECT_EQ(begun.session_id, 1u);
  EXPECT_EQ(session.Begin().event, VoiceEvent::kNone);             // busy
  EXPECT_EQ(session.MicStarted(2, 100).event, VoiceEvent::kNone);  // another session's
  EXPECT_EQ(session.MicStarted(1, 100).event, VoiceEvent::kMicStarted);
  EXPECT_EQ(session.Stop(379).event, VoiceEvent::kTooShort);
  EXPECT_EQ(session.state(), VoiceState::kIdle);

  session.Begin();
  EXPECT_EQ(session.Stop(5).event, VoiceEvent::kAborted);  // still starting
  session.Begin();
  session.MicStarted(3, 1000);
  const VoiceTransition stopped = session.Stop(1280);
  EXPECT_EQ(stopped.event, VoiceEvent::kTranscribe);
  EXPECT_EQ(stopped.session_id, 3u);
  EXPECT_EQ(session.Finished(2, true).event, VoiceEvent::kNone);
  EXPECT_EQ(session.Finished(3, false).event, VoiceEvent::kFailed);
  session.Begin();
  session.MicStarted(4, 0);
  session.Stop(kMinRecordingMs);
  EXPECT_EQ(session.Reset().event, VoiceEvent::kAborted);  // a cancel while transcribing
  EXPECT_EQ(session.Finished(4, true).event, VoiceEvent::kNone);

  VoiceSession wrapping(std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(wrapping.Begin().session_id, 1u);
}

std::string Model(const std::string& engine, const std::string& file) {
  return "{\"engine\": \"" + engine + "\", \"files\": [" + file + "]}";
}
const std::string kFile = "{\"name\": \"m.gguf\", \"url\": \"https://h/m.gguf\", \"sha256\": \"" +
                          std::string(64, 'A') + "\", \"bytes\": 10}";

TEST(VoiceManifestTest, AcceptsWhatTheStoreCanUseAndNamesTheFault) {
  struct Case {
    std::string json;
    std::string error;  // empty: accepted
  } cases[] = {
      {"{\"_res\": \"ok\", \"models\": [" + Model("senseVoice", kFile) + ", " +
           Model("qwenMLX", "1, 2") + ", " + Model("qwen3", kFile) + "]}",
       ""},
      {"[]", kManifestRootMessage},
      {"{\"models\": [", kManifestRootMessage},
      {"{\"_res\": \"error\", \"models\": []}", kManifestNotOkMessage},
      {"{\"models\": {}}", kManifestModelListMessage},
      {"{\"models\": []}", kManifestNoModelsMessage},
      {"{\"models\": [" + Model("qwenMLX", kFile) + "]}", kManifestNoModelsMessage},
      {"{\"models\": [1]}", kManifestModelMessage},
      {"{\"models\": [" + Model("whisper", kFile) + "]}", kManifestEngineMessage},
      {"{\"models\": [" + Model("qwen3", kFile) + ", " + Model("qwen3", kFile) + "]}",
       kManifestEngineMessage},
      {"{\"models\": [" + Model("qwen3", kFile + ", " + kFile) + "]}", kManifestOneFileMessage},
      {"{\"models\": [" + Model("qwen3", "{\"name\": \"m.bin\"}") + "]}", kManifestOneFileMessage},
  };
  for (const Case& c : cases) {
    std::vector<VoiceModelEntry> models;
    std::string error;
    EXPECT_EQ(ParseVoiceManifest(c.json, &models, &error), c.error.empty()) << c.json;
    EXPECT_EQ(error, c.error) << c.json;
  }
  std::vector<VoiceModelEntry> models;
  std::string error;
  ASSERT_TRUE(ParseVoiceManifest(cases[0].json, &models, &error));
  ASSERT_EQ(models.size(), 2u);
  EXPECT_EQ(models[1].engine, "qwen3");
  EXPECT_EQ(models[0].sha256, std::string(64, 'a'));
  EXPECT_EQ(models[0].bytes, 10u);

  // Files the store could not use safely or fetch.
  const std::string bad_files[] = {
      R"({"name": "../m.gguf", "url": "https://h/m", "sha256": "SHA", "bytes": 10})",
      R"({"name": ".gguf", "url": "https://h/m", "sha256": "SHA", "bytes": 10})",
      R"({"name": "m.gguf", "url": "http://h/m.gguf", "sha256": "SHA", "bytes": 10})",
      R"({"name": "m.gguf", "url": "https://", "sha256": "SHA", "bytes": 10})",
      R"({"name": "m.gguf", "url": "https://h/a b", "sha256": "SHA", "bytes": 10})",
      R"({"name": "m.gguf", "url": "https://h/m", "sha256": "abc", "bytes": 10})",
      R"({"name": "m.gguf", "url": "https://h/m", "sha256": "SHA", "bytes": 0})",
      R"({"name": "m.gguf", "url": "https://h/m", "sha256": "SHA", "bytes": 2147483649})",
      R"({"name": "m.gguf", "url": "https://h/m", "sha256": "SHA", "bytes": 1.5})",
      R"({"name": "m.gguf", "url": "https://h/m", "sha256": "SHA"})",
  };
  for (std::string file : bad_files) {
    if (const size_t sha = file.find("SHA"); sha != std::string::npos)
      file.replace(sha, 3, std::string(64, '0'));
    EXPECT_FALSE(
        ParseVoiceManifest("{\"models\": [" + Model("qwen3", file) + "]}", &models, &error))
        << file;
    EXPECT_EQ(error, kManifestFileMessage) << file;
  }
}

TEST(VoiceOutputTest, LanguageAndBilingualText) {
  const ScriptConverter converter = [](const std::string& text, const std::string& target) {
    return target + ":" + text;
  };
  std::string translated_to;
  const TextTranslator translator = [&](const std::string& text, const std::string& target,
                                        std::string* out, std::string*) {
    translated_to = target;
    *out = " [" + text + "]\n";
    return target != "jp";
  };
  struct Case {
    std::string target;
    bool bilingual;
    bool with_converter;
    bool with_translator;
    std::string expected;
  } cases[] = {
      {"follow", false, false, true, "text"},
      {"follow", false, true, true, "follow:text"},
      {"follow", true, true, true, "text\n----\nfollow:text"},
      {"en", false, true, false, "text"},
      {"en", false, true, true, "[text]"},
      {"en", true, true, true, "text\n----\n[text]"},
      {"cn", true, true, true, "cn:text\n----\n[text]"},
      {"hk", true, true, true, "tw:text\n----\n[text]"},
      {"hk", true, false, true, "text\n----\n[text]"},
      {"jp", true, true, true, "text"},  // the translation failed: no second half
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplyOutputLanguage("text", c.target, c.bilingual,
                                  c.with_converter ? converter : ScriptConverter(),
                                  c.with_translator ? translator : TextTranslator()),
              c.expected)
        << c.target << " " << c.bilingual << c.with_converter << c.with_translator;
  }
  // An identical conversion gives no separator; an empty one leaves the text.
  const ScriptConverter same = [](const std::string& text, const std::string&) { return text; };
  EXPECT_EQ(ApplyOutputLanguage("same", "follow", true, same, nullptr), "same");
  const ScriptConverter empty = [](const std::string&, const std::string&) { return " "; };
  EXPECT_EQ(ApplyOutputLanguage("text", "follow", true, empty, nullptr), "text");
  EXPECT_EQ(TrimVoiceText("\r\n\t hi there \n"), "hi there");
}

using Deliveries = Reports<Reported>;

std::function<void(bool, const std::string&, bool)> NotifierOf(Deliveries* deliveries) {
  return [deliveries](bool ok, const std::string& text, bool origin) {
    deliveries->Add({0, ok, text, origin});
  };
}

// A controller over a scripted microphone, a fake signed helper and a model installed by hand,
// under a clock that only the test moves.
class VoiceControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // A fresh controller, microphone and notifier over the same folders.
  void Reset() {
    controller_.reset();
    script_ = std::make_shared<CaptureScript>();
    deliveries_ = std::make_unique<Deliveries>();
    std::filesystem::create_directories(dir_.path() / "bin");
    InstallHelper("echo \"OK\t  recognised text \"");
    InstallModel("m.gguf", "model bytes");
    script_->format = Int16Mono(16000);
    script_->Add(PacketOf(std::vector<int16_t>(8000, 1000), 1));
    Make();
  }
  void Make() {
    VoiceControllerOptions options;
    options.program_dir = dir_.path() / "bin";
    options.models_dir = dir_.path() / "models";
    options.temp_dir = dir_.path() / "temp";
    options.log_dir = dir_.path() / "logs";
    options.trust_anchors = {ShippedAnchors()};
    options.notifier = NotifierOf(deliveries_.get());
    options.microphone = ScriptedFactory(script_);
    options.clock = &clock_;
    options.service = service_;
    controller_ = std::make_unique<VoiceController>(std::move(options));
    config_.app.voice_engine = kSenseVoiceEngine;
    controller_->UpdateConfig(config_);
  }
  // The fake helper answers every request with `answer` (a shell command).
  void InstallHelper(const std::string& answer) {
    SignedScript(dir_.path() / "bin" / kVoiceHelperProgram,
                 "echo started >> \"$0.starts\"\necho READY\nwhile read -r line; do\n" + answer +
                     "\ndone\n");
  }
  int HelperStarts() {
    std::ifstream in((dir_.path() / "bin" / kVoiceHelperProgram).string() + ".starts");
    int count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    return count;
  }
  // Writes the model file and a local manifest naming it for both engines.
  void InstallModel(const std::string& name, const std::string& bytes) {
    const auto models = dir_.path() / "models";
    for (const char* engine : {kSenseVoiceEngine, kQwenEngine}) {
      std::filesystem::create_directories(models / engine);
      WriteFile(models / engine / name, bytes);
    }
    std::string sha, error;
    Sha256Bytes(bytes, &sha, &error);
    WriteFile(models / "manifest.json", ManifestJson({kSenseVoiceEngine, kQwenEngine}, name,
                                                     "https://h/" + name, sha, bytes.size()));
  }
  // Waits for the status (real time: the threads run freely).
  bool WaitStatus(VoiceStatus status) {
    return Eventually([&] { return controller_->Status() == static_cast<uint32_t>(status); });
  }
  // Starts and waits until the microphone runs.
  void StartRecording(bool origin = false) {
    ASSERT_TRUE(controller_->Dispatch(1, origin, &error_)) << error_;
    ASSERT_TRUE(WaitStatus(VoiceStatus::kRecording));
  }

  TempDir dir_;
  ManualClock clock_;
  ServiceLocator service_;
  std::shared_ptr<CaptureScript> script_ = std::make_shared<CaptureScript>();
  std::unique_ptr<Deliveries> deliveries_;
  ConfigRecord config_;
  std::unique_ptr<VoiceController> controller_;
  std::string error_;
};

TEST_F(VoiceControllerTest, TheMinimumLengthIs280Milliseconds) {
  StartRecording();
  clock_.Advance(279);
  EXPECT_TRUE(controller_->Dispatch(2, false, &error_));
  EXPECT_EQ(error_, kRecordingTooShortMessage);
  EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kFailed));
  EXPECT_EQ(HelperStarts(), 0);

  script_->Add(PacketOf(std::vector<int16_t>(8000, 1000), 1));
  StartRecording(true);
  clock_.Advance(280);
  EXPECT_TRUE(controller_->Dispatch(2, false, &error_)) << error_;
  EXPECT_TRUE(error_.empty());
  EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kTranscribing));
  const auto seen = deliveries_->WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].ok);
  EXPECT_EQ(seen[0].text, "recognised text");
  EXPECT_TRUE(seen[0].origin);
  EXPECT_TRUE(WaitStatus(VoiceStatus::kSucceeded));
  // The recording was deleted.
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "temp"));
}

TEST_F(VoiceControllerTest, StoppingWhileTheMicrophoneOpensAbortsQuietly) {
  // Toggle twice at once: the second toggle finds the session starting and aborts it. The
  // microphone opens only once the session has gone back to idle.
  script_->open_when = [this] { return controller_->session_state() == VoiceState::kIdle; };
  EXPECT_TRUE(controller_->Dispatch(0, false, &error_));
  EXPECT_TRUE(controller_->Dispatch(0, false, &error_));
  EXPECT_TRUE(error_.empty());
  EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kIdle));
  EXPECT_FALSE(controller_->Dispatch(2, false, &error_));
  EXPECT_EQ(error_, kNothingToStopMessage);
  EXPECT_EQ(deliveries_->count(), 0u);
  EXPECT_FALSE(controller_->Dispatch(7, false, &error_));
}

TEST_F(VoiceControllerTest, ACancelledTranscriptionIsNotDelivered) {
  InstallHelper("sleep 0.5; echo \"OK\tlate\"");
  StartRecording();
  EXPECT_FALSE(controller_->Dispatch(1, false, &error_));
  EXPECT_EQ(error_, kVoiceBusyMessage);
  EXPECT_FALSE(controller_->StartModelJob(true, kQwenEngine, &error_));
  EXPECT_EQ(error_, kVoiceBusyMessage);
  clock_.Advance(1000);
  ASSERT_TRUE(controller_->Dispatch(2, false, &error_)) << error_;
  ASSERT_TRUE(controller_->Dispatch(3, false, &error_));
  EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kIdle));
  // A new recording waits for the job to end.
  EXPECT_FALSE(controller_->Dispatch(1, false, &error_));
  EXPECT_EQ(error_, kModelJobRunningMessage);
  ASSERT_TRUE(WaitStatus(VoiceStatus::kSucceeded));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(deliveries_->count(), 0u);
}

TEST_F(VoiceControllerTest, FailuresReachTheNotifierOrTheCaller) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string start_error;      // Start fails with this
    std::string delivered_error;  // or the notifier gets this
  } cases[] = {
      {"no speech", [&] { InstallHelper("echo \"OK\t \""); }, "", kNoSpeechMessage},
      {"helper error", [&] { InstallHelper("printf 'ERR\\tbroken\\n'"); }, "",
       std::string(kHelperFailedMessage) + "broken"},
      {"microphone", [&] { script_->open_fails = true; }, "", kOpenMicrophoneMessage},
      {"no manifest", [&] { std::filesystem::remove(dir_.path() / "models" / "manifest.json"); },
       kLocalManifestMissingMessage, ""},
      {"changed model",
       [&] { WriteFile(dir_.path() / "models" / "senseVoice" / "m.gguf", "model bytez"); },
       kModelHashMessage, ""},
      {"short model", [&] { WriteFile(dir_.path() / "models" / "senseVoice" / "m.gguf", "model"); },
       kModelSizeMessage, ""},
      {"unsigned helper",
       [&] {
         std::filesystem::remove((dir_.path() / "bin" / kVoiceHelperProgram).string() +
                                 kSignatureSuffix);
       },
       kSignerUnreadableMessage, ""},
  };
  for (const Case& c : cases) {
    Reset();
    c.arrange();
    const int opened = script_->opened;
    if (!c.start_error.empty()) {
      EXPECT_FALSE(controller_->Dispatch(1, false, &error_)) << c.name;
      EXPECT_EQ(error_, c.start_error) << c.name;
      EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kFailed)) << c.name;
      EXPECT_EQ(script_->opened, opened) << c.name << ": the microphone was opened";
      continue;
    }
    ASSERT_TRUE(controller_->Dispatch(1, true, &error_)) << c.name << ": " << error_;
    if (!script_->open_fails) {
      ASSERT_TRUE(WaitStatus(VoiceStatus::kRecording)) << c.name;
      clock_.Advance(1000);
      ASSERT_TRUE(controller_->Dispatch(2, false, &error_)) << c.name << ": " << error_;
    }
    const auto seen = deliveries_->WaitFor(1);
    ASSERT_EQ(seen.size(), 1u) << c.name;
    EXPECT_FALSE(seen[0].ok) << c.name;
    EXPECT_EQ(seen[0].text, c.delivered_error) << c.name;
    EXPECT_TRUE(seen[0].origin) << c.name;
    EXPECT_TRUE(WaitStatus(VoiceStatus::kFailed)) << c.name;
  }
}

TEST_F(VoiceControllerTest, TheModelMayNotChangeDuringARecording) {
  StartRecording();
  InstallModel("n.gguf", "other model");
  clock_.Advance(1000);
  ASSERT_TRUE(controller_->Dispatch(2, false, &error_));
  const auto seen = deliveries_->WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, kModelChangedMessage);
}

TEST_F(VoiceControllerTest, TheHelperOutlivesItsJobAndStopsAfterTenIdleMinutes) {
  size_t dictated = 0;
  const auto dictate = [&] {
    if (dictated > 0) script_->Add(PacketOf(std::vector<int16_t>(8000, 1000), 1));
    StartRecording();
    clock_.Advance(1000);
    ASSERT_TRUE(controller_->Dispatch(2, false, &error_));
    ASSERT_EQ(deliveries_->WaitFor(++dictated).size(), dictated);
  };
  dictate();
  const uint32_t helper = controller_->helper_process_id();
  ASSERT_NE(helper, 0u);
  // The job thread that asked for the helper has ended; the helper serves the next one.
  dictate();
  EXPECT_EQ(HelperStarts(), 1);
  clock_.Advance(kHelperIdleMs - 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(controller_->helper_process_id(), helper);
  clock_.Advance(1);
  EXPECT_TRUE(ProcessGone(static_cast<pid_t>(helper)));
  EXPECT_TRUE(Eventually([&] { return controller_->helper_process_id() == 0; }));
  // The next transcription starts it again.
  dictate();
  EXPECT_EQ(HelperStarts(), 2);
}

// The heard text tidied by kavi-service, or left as heard when the service fails.
TEST_F(VoiceControllerTest, PolishingByTheServiceFallsBackToTheHeardText) {
  service_ = [] { return VoiceServiceEndpoints(); };
  config_.app.voice_polish = true;
  const std::string heard = "今天天氣很好,我們走吧";
  struct Case {
    const char* fault;  // on /voice/polish
    const char* output_language;
    std::string expected;
  } cases[] = {
      {nullptr, "follow", "今天天氣很好，我們走吧。"},
      {R"({"path": "/voice/polish", "status": 503})", "follow", heard},
      // Translation is not configured at the service: the text stays as it was.
      {nullptr, "en", "今天天氣很好，我們走吧。"},
  };
  for (const Case& c : cases) {
    VoiceService().ClearFaults();
    if (c.fault) {
      ASSERT_EQ(VoiceService().Fault(c.fault), 200u);
    }
    Reset();
    InstallHelper("echo \"OK\t" + heard + "\"");
    config_.app.voice_output_language = c.output_language;
    controller_->UpdateConfig(config_);
    StartRecording();
    clock_.Advance(1000);
    ASSERT_TRUE(controller_->Dispatch(2, false, &error_)) << error_;
    const auto seen = deliveries_->WaitFor(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].ok);
    EXPECT_EQ(seen[0].text, c.expected) << (c.fault ? c.fault : "") << " " << c.output_language;
  }
  VoiceService().ClearFaults();
}

// The real thing: espeak-ng says "hello world", the scripted microphone plays it at its own
// 22.05 kHz, and the real signed helper with pocketsphinx and the packed Debian model hears it.
TEST(VoiceEndToEndTest, SpokenWordsComeBackAsText) {
  TempDir dir;
  ASSERT_TRUE(Speak("hello world", dir.path() / "spoken.wav"));
  PcmWav spoken;
  std::string error;
  ASSERT_TRUE(DecodePcmWav(ReadFile(dir.path() / "spoken.wav"), &spoken, &error)) << error;
  InstallRealModel(dir.path() / "models");
  Deliveries deliveries;
  VoiceControllerOptions options;
  options.program_dir = RealHelper().parent_path();
  options.models_dir = dir.path() / "models";
  options.temp_dir = dir.path() / "temp";
  options.log_dir = dir.path() / "logs";
  options.trust_anchors = {ShippedAnchors()};
  options.notifier = NotifierOf(&deliveries);
  options.microphone = ScriptedFactory(PlayWav(spoken));
  VoiceController controller(std::move(options));
  ConfigRecord config;
  config.app.voice_engine = kQwenEngine;  // either engine word runs the built-in backend
  controller.UpdateConfig(config);
  ASSERT_FALSE(controller.Dispatch(0, true, &error));
  EXPECT_EQ(error, kEngineNotInManifestMessage);  // only senseVoice is installed
  config.app.voice_engine = kSenseVoiceEngine;
  controller.UpdateConfig(config);

  ASSERT_TRUE(controller.Dispatch(0, true, &error)) << error;
  for (int i = 0; i < 6000 && controller.Status() != uint32_t(VoiceStatus::kRecording); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The packets arrive at once; the session still has to last the minimum length.
  std::this_thread::sleep_for(std::chrono::milliseconds(kMinRecordingMs + 20));
  ASSERT_TRUE(controller.Dispatch(0, true, &error)) << error;
  const auto seen = deliveries.WaitFor(1, 120);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].ok) << seen[0].text;
  EXPECT_NE(seen[0].text.find("hello"), std::string::npos) << seen[0].text;
  EXPECT_TRUE(seen[0].origin);
  const std::string log = ReadFile(dir.path() / "logs" / kHelperStderrLogName);
  EXPECT_NE(log.find("engine \"sensevoice\" runs on the pocketsphinx backend"), std::string::npos)
      << log;
}

}  // namespace
}  // namespace kavi::win::testing
