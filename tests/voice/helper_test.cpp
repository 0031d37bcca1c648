// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/voice/voice_test_support.h"
#include "tools/voice-ggml/gguf_file.h"
#include "voice/helper_protocol.h"
#include "voice/helper_signature.h"
#include "voice/voice_helper.h"

namespace kavi::win::testing {
namespace {

// The bounds of the line protocol (the lines themselves are read from helper scripts below).
TEST(HelperProtocolTest, LimitsAndTimeouts) {
  ReplyBuffer buffer;
  EXPECT_TRUE(buffer.Append(std::string(kMaxReplyBufferBytes, 'x')));
  EXPECT_FALSE(buffer.Append("y"));

  EXPECT_EQ(RequestLine("/tmp/a.wav", "auto"), "/tmp/a.wav\tauto\n");
  EXPECT_FALSE(RequestLine("", "auto"));
  EXPECT_TRUE(RequestLine(std::string(kMaxRequestLineBytes - 6, 'a'), "auto"));
  EXPECT_FALSE(RequestLine(std::string(kMaxRequestLineBytes - 5, 'a'), "auto"));

  EXPECT_EQ(ReplyTimeoutMs(std::nullopt), 30000u);
  EXPECT_EQ(ReplyTimeoutMs(44), 30000u);
  EXPECT_EQ(ReplyTimeoutMs(2880044), 120000u);           // 90 seconds
  EXPECT_EQ(ReplyTimeoutMs(44 + 32000 * 150), 180000u);  // exactly 150 s: still length + 30 s
  EXPECT_EQ(ReplyTimeoutMs(44 + 32000 * 151), 180000u);
  EXPECT_EQ(ReplyTimeoutMs(44 + 32000 * 200), 180000u);
}

class VoiceHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wav_ = dir_.path() / "voice-1.wav";
    WriteFile(wav_, std::string(44 + 32000, '\0'));
  }
  // A fake helper: `start` runs first (its output is the handshake), then each request line is
  // read into $line and answered by `answer`.
  std::filesystem::path Script(const std::string& name, const std::string& start,
                               const std::string& answer = "echo \"OK\thello\"") {
    return SignedScript(dir_.path() / name, "echo started >> \"$0.starts\"\n" + start +
                                                "\nwhile read -r line; do\n" + answer + "\ndone\n");
  }
  static int Starts(const std::filesystem::path& script) {
    std::ifstream in(script.string() + ".starts");
    int count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    return count;
  }
  bool Transcribe(const std::filesystem::path& helper,
                  const std::filesystem::path& model = "model.gguf",
                  const std::string& engine = kSenseVoiceEngineWord,
                  const std::string& language = kAutoLanguage) {
    text_.clear();
    return helper_.Transcribe(helper, engine, model, wav_, language, &text_, &error_);
  }

  TempDir dir_;
  // The 30-second handshake and reply time-outs pass in 1.5 s: long enough for a script to
  // start on a loaded machine, shorter than the scripts' "sleep 5".
  FastClock clock_{20};
  VoiceHelper helper_{dir_.path() / "logs", {ShippedAnchors()}, clock_};
  std::filesystem::path wav_;
  std::string text_, error_;
};

TEST_F(VoiceHelperTest, TheHandshakeAcceptsOnlyReady) {
  struct Case {
    std::string start;
    std::string error;  // empty: accepted
  } cases[] = {
      {"printf 'READY\\r\\n'", ""},
      {"echo ready", kHelperHandshakeMessage},
      {"echo 'READY '", kHelperHandshakeMessage},
      {"printf 'ERR\\tmodel missing\\n'", std::string(kHelperRefusedMessage) + "model missing"},
      {"exit 3", kHelperHandshakeMessage},
      {"sleep 5", kHelperHandshakeMessage},  // 30 s of the helper's clock
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto script = Script("ready-" + std::to_string(++n), c.start);
    EXPECT_EQ(Transcribe(script), c.error.empty()) << c.start;
    EXPECT_EQ(error_, c.error) << c.start;
    EXPECT_EQ(text_, c.error.empty() ? "hello" : "") << c.start;
    EXPECT_EQ(helper_.process_id() != 0, c.error.empty()) << c.start;
  }
}

TEST_F(VoiceHelperTest, RepliesSplitAcrossReadsAreJoinedAndLaterLinesKept) {
  const auto script =
      Script("split", "echo READY", "printf 'OK\\thel'; sleep 0.05; printf 'lo\\nOK\\tsecond\\n'");
  ASSERT_TRUE(Transcribe(script)) << error_;
  EXPECT_EQ(text_, "hello");
  // The second line of the first reply answers the next request.
  ASSERT_TRUE(Transcribe(script)) << error_;
  EXPECT_EQ(text_, "second");
}

TEST_F(VoiceHelperTest, TheHelperStaysForTheSameModelAndRestartsForAnother) {
  const auto script = Script("reuse", "echo READY", "echo \"OK\t$$\"");
  ASSERT_TRUE(Transcribe(script, "a.gguf")) << error_;
  const std::string first = text_;
  EXPECT_EQ(std::to_string(helper_.process_id()), first);
  ASSERT_TRUE(Transcribe(script, "a.gguf")) << error_;
  EXPECT_EQ(text_, first);
  ASSERT_TRUE(Transcribe(script, "b.gguf")) << error_;
  EXPECT_NE(text_, first);
  ASSERT_TRUE(Transcribe(script, "b.gguf", kQwenEngineWord)) << error_;
  EXPECT_EQ(Starts(script), 3);
  EXPECT_TRUE(ProcessGone(static_cast<pid_t>(std::stoi(first))));
}

TEST_F(VoiceHelperTest, BadRepliesStopTheHelper) {
  struct Case {
    std::string answer;
    std::string error;
  } cases[] = {
      {"printf 'OK\\t\\n'", kHelperInvalidReplyMessage},
      {"printf 'OK\\t\\377\\n'", kHelperInvalidReplyMessage},
      {"printf 'OK\\t\\300\\257\\n'", kHelperInvalidReplyMessage},       // overlong "/"
      {"printf 'OK\\t\\355\\240\\200\\n'", kHelperInvalidReplyMessage},  // a surrogate
      {"echo whatever", kHelperInvalidReplyMessage},
      {"printf 'ERR\\tno speech model\\n'", std::string(kHelperFailedMessage) + "no speech model"},
      {"head -c 5000000 /dev/zero", kHelperTooLargeMessage},
      {"sleep 5", kHelperTimeoutMessage},  // the reply time-out is 31 s of the helper's clock
      {"kill -9 $$", kHelperExitedMessage},
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto script = Script("bad-" + std::to_string(++n), "echo READY", c.answer);
    EXPECT_FALSE(Transcribe(script)) << c.answer;
    EXPECT_EQ(error_, c.error) << c.answer;
    EXPECT_EQ(helper_.process_id(), 0u) << c.answer;
    // The next request starts a fresh helper.
    EXPECT_FALSE(Transcribe(script)) << c.answer;
    EXPECT_EQ(Starts(script), 2) << c.answer;
  }
}

TEST_F(VoiceHelperTest, StopEndsTheHelperAndEverythingItStarted) {
  const auto script = Script("group",
                             "sleep 300 &\necho $! > \"$0.child\"\necho READY\n"
                             "echo 'a line for the log' >&2");
  ASSERT_TRUE(Transcribe(script)) << error_;
  const pid_t helper = static_cast<pid_t>(helper_.process_id());
  std::string grandchild;
  std::ifstream(script.string() + ".child") >> grandchild;
  ASSERT_FALSE(grandchild.empty());
  helper_.Stop();
  EXPECT_EQ(helper_.process_id(), 0u);
  EXPECT_TRUE(ProcessGone(helper));
  EXPECT_TRUE(ProcessGone(static_cast<pid_t>(std::stoi(grandchild))));
  EXPECT_NE(ReadFile(dir_.path() / "logs" / kHelperStderrLogName).find("a line for the log"),
            std::string::npos);
}

TEST_F(VoiceHelperTest, NothingStartsWithBadArgumentsOrAnUntrustedHelper) {
  const auto script = Script("checked", "echo READY");
  struct Case {
    const char* name;
    std::function<bool()> call;
    std::string error;
  } cases[] = {
      {"engine", [&] { return Transcribe(script, "m", "whisper"); }, kHelperArgumentsMessage},
      {"language", [&] { return Transcribe(script, "m", kQwenEngineWord, "a\tb"); },
       kHelperArgumentsMessage},
      {"no text",
       [&] { return helper_.Transcribe(script, "qwen", "m", wav_, "auto", nullptr, &error_); },
       kHelperArgumentsMessage},
      {"tab in the path",
       [&] {
         wav_ = dir_.path() / "a\tb.wav";
         return Transcribe(script);
       },
       kHelperPathMessage},
      {"invalid UTF-8 path",
       [&] {
         wav_ = dir_.path() / "\xFF.wav";
         return Transcribe(script);
       },
       kHelperPathMessage},
      {"unsigned",
       [&] {
         std::filesystem::remove(script.string() + kSignatureSuffix);
         return Transcribe(script);
       },
       kSignerUnreadableMessage},
      {"tampered",
       [&] {
         SignedScript(script, "echo started >> \"$0.starts\"\necho READY\n");
         std::ofstream(script, std::ios::app) << "# one more line\n";
         return Transcribe(script);
       },
       ""},
      {"missing", [&] { return Transcribe(dir_.path() / "absent"); }, kSignerUnreadableMessage},
  };
  for (const Case& c : cases) {
    wav_ = dir_.path() / "voice-1.wav";
    EXPECT_FALSE(c.call()) << c.name;
    if (c.error.empty())
      EXPECT_EQ(error_.rfind(kSignatureChainMessage, 0), 0u) << c.name << ": " << error_;
    else
      EXPECT_EQ(error_, c.error) << c.name;
    EXPECT_EQ(Starts(script), 0) << c.name;
  }
}

TEST_F(VoiceHelperTest, TheRealHelperRefusesWhatItCannotLoad) {
  WriteFile(dir_.path() / "not-gguf.gguf", "hello");
  GgufWriter whisper;
  whisper.AddString(kGgufArchitectureKey, "whisper");
  WriteFile(dir_.path() / "whisper.gguf", whisper.Finish());
  struct Case {
    std::filesystem::path model;
    std::string engine;
    std::string error_start;
  } cases[] = {
      {dir_.path() / "absent.gguf", kSenseVoiceEngineWord,
       std::string(kHelperRefusedMessage) + "cannot read the model file"},
      {dir_.path() / "not-gguf.gguf", kQwenEngineWord,
       std::string(kHelperRefusedMessage) + (dir_.path() / "not-gguf.gguf").string() +
           ": not a GGUF file"},
      {dir_.path() / "whisper.gguf", kSenseVoiceEngineWord,
       std::string(kHelperRefusedMessage) + "no recogniser for models of architecture \"whisper\""},
  };
  // Real time: the helper's start may take long on a loaded machine.
  VoiceHelper helper(dir_.path() / "logs", {ShippedAnchors()});
  for (const Case& c : cases) {
    EXPECT_FALSE(
        helper.Transcribe(RealHelper(), c.engine, c.model, wav_, kAutoLanguage, &text_, &error_));
    EXPECT_EQ(error_.rfind(c.error_start, 0), 0u) << error_;
  }
}

// A server that dies without cleaning up (a crash, SIGKILL) takes its helper with it, even one
// that would not notice its input closing.
TEST(VoiceHelperLifetimeTest, TheHelperDiesWithTheServer) {
  TempDir dir;
  const auto script = SignedScript(dir.path() / "helper",
                                   "echo $$ > \"$0.pid\"\necho READY\nwhile read -r line; do\n"
                                   "echo \"OK\thi\"\ndone\nexec sleep 300\n");
  const auto wav = dir.path() / "voice-1.wav";
  WriteFile(wav, std::string(44 + 32000, '\0'));
  const pid_t server = ::fork();
  if (server == 0) {
    VoiceHelper helper(dir.path() / "logs", {ShippedAnchors()});
    std::string text, error;
    if (helper.Transcribe(script, kSenseVoiceEngineWord, "m.gguf", wav, kAutoLanguage, &text,
                          &error))
      WriteFile(dir.path() / "transcribed", text);
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(server, &status, 0), server);
  ASSERT_EQ(ReadFile(dir.path() / "transcribed"), "hi");
  pid_t helper = 0;
  std::ifstream(script.string() + ".pid") >> helper;
  ASSERT_GT(helper, 0);
  EXPECT_TRUE(ProcessGone(helper));
}

}  // namespace
}  // namespace kavi::win::testing
