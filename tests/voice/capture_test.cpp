// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <fstream>
#include <limits>

#include "tests/common/temp_dir.h"
#include "tests/voice/scripted_capture.h"
#include "tests/voice/voice_test_support.h"
#include "voice/capture_samples.h"
#include "voice/microphone_capture.h"
#include "voice/resampler.h"
#include "voice/wav_file.h"

namespace kavi::win::testing {
namespace {

std::vector<float> Convert(const PcmCaptureFormat& format, const std::vector<uint8_t>& bytes,
                           bool silent = false) {
  std::vector<float> out;
  AppendMonoSamples(format, bytes.data(),
                    static_cast<uint32_t>(bytes.size() / format.BytesPerFrame()), silent, &out);
  return out;
}

template <typename T>
std::vector<uint8_t> Bytes(std::initializer_list<T> values) {
  std::vector<uint8_t> out(values.size() * sizeof(T));
  std::memcpy(out.data(), std::data(values), out.size());
  return out;
}

TEST(CaptureSamplesTest, ConvertsEveryDeviceFormatToMonoFloat) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    PcmCaptureFormat format;
    std::vector<uint8_t> bytes;
    std::vector<float> expected;
    bool silent = false;
  } cases[] = {
      {"int16",
       {PcmEncoding::kSignedInteger, 16, 1, 8000, ""},
       Bytes<int16_t>({32767, -32768, 0, 16384}),
       {32767.0f / 32768.0f, -1.0f, 0.0f, 0.5f}},
      {"int24 extremes",
       {PcmEncoding::kSignedInteger, 24, 1, 8000, ""},
       {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x40, 0xFF, 0xFF, 0xFF},
       {-1.0f, 8388607.0f / 8388608.0f, 0.5f, -1.0f / 8388608.0f}},
      {"int32",
       {PcmEncoding::kSignedInteger, 32, 1, 8000, ""},
       Bytes<int32_t>({std::numeric_limits<int32_t>::min(), 1 << 30}),
       {-1.0f, 0.5f}},
      {"float: NaN and infinities count as silence, overdrive is clamped",
       {PcmEncoding::kFloat, 32, 1, 8000, ""},
       Bytes<float>({0.25f, nan, inf, -inf, 1.5f, -2.0f}),
       {0.25f, 0.0f, 0.0f, 0.0f, 1.0f, -1.0f}},
      {"stereo float is averaged",
       {PcmEncoding::kFloat, 32, 2, 48000, ""},
       Bytes<float>({0.5f, -0.25f, 1.0f, 1.0f, nan, 0.5f}),
       {0.125f, 1.0f, 0.25f}},
      {"three int16 channels",
       {PcmEncoding::kSignedInteger, 16, 3, 8000, ""},
       Bytes<int16_t>({16384, 16384, -32768}),
       {0.0f}},
      {"an average beyond full scale is clamped",
       {PcmEncoding::kFloat, 32, 2, 8000, ""},
       Bytes<float>({3.0f, 1.0f}),
       {1.0f}},
      {"a packet flagged silent gives zeros whatever it holds",
       {PcmEncoding::kSignedInteger, 16, 2, 8000, ""},
       Bytes<int16_t>({1000, 2000, -3000, 4000}),
       {0.0f, 0.0f},
       true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(IsCapturableFormat(c.format)) << c.name;
    EXPECT_EQ(Convert(c.format, c.bytes, c.silent), c.expected) << c.name;
  }
}

TEST(CaptureSamplesTest, AcceptsOnlyTheFormatsItConverts) {
  struct Case {
    PcmCaptureFormat format;
    bool accepted;
  } cases[] = {
      {{PcmEncoding::kFloat, 32, 2, 48000, ""}, true},
      {{PcmEncoding::kFloat, 64, 2, 48000, ""}, false},
      {{PcmEncoding::kSignedInteger, 8, 1, 8000, ""}, false},
      {{PcmEncoding::kSignedInteger, 24, 6, 96000, ""}, true},
      {{PcmEncoding::kSignedInteger, 16, 0, 48000, ""}, false},
      {{PcmEncoding::kSignedInteger, 16, 1, 0, ""}, false},
      {{PcmEncoding::kOther, 16, 1, 48000, ""}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsCapturableFormat(c.format), c.accepted)
        << int(c.format.encoding) << "/" << c.format.bits_per_sample << "/" << c.format.channels;
}

TEST(ResamplerTest, LengthsAndInterpolation) {
  EXPECT_TRUE(ResampleLinear({}, 48000, 16000).empty());
  const std::vector<float> ramp = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  EXPECT_TRUE(ResampleLinear(ramp, 0, 16000).empty());
  EXPECT_TRUE(ResampleLinear(ramp, 16000, 0).empty());
  EXPECT_EQ(ResampleLinear(ramp, 16000, 16000), ramp);
  EXPECT_EQ(ResampleLinear(ramp, 48000, 16000), std::vector<float>({0.0f, 3.0f}));
  // Upsampling interpolates and holds the last sample at the end.
  EXPECT_EQ(ResampleLinear(std::vector<float>{0.0f, 1.0f}, 8000, 16000),
            std::vector<float>({0.0f, 0.5f, 1.0f, 1.0f}));
  // A single sample never disappears.
  EXPECT_EQ(ResampleLinear(std::vector<float>{0.5f}, 44100, 16000).size(), 1u);
  const std::vector<float> second(44100, 0.25f);
  EXPECT_EQ(ResampleLinear(second, 44100, 16000).size(), 16000u);
  EXPECT_EQ(ResampleLinear(std::vector<float>(1001, 0.0f), 44100, 16000).size(),
            static_cast<size_t>(std::llround(1001.0 * 16000 / 44100)));
}

TEST(WavFileTest, HeaderSamplesAndRoundTrip) {
  EXPECT_EQ(PcmSample(1.0f), 32767);
  EXPECT_EQ(PcmSample(-1.0f), -32768);
  EXPECT_EQ(PcmSample(2.0f), 32767);
  EXPECT_EQ(PcmSample(0.5f / 32767.0f), 0);  // half a step rounds to even
  EXPECT_EQ(PcmSample(1.5f / 32767.0f), 2);
  const std::string bytes = EncodePcmWav(std::vector<float>{0.0f, 1.0f, -1.0f}, 16000);
  ASSERT_EQ(bytes.size(), kWavHeaderBytes + 6);
  const std::string header(
      "RIFF\x2a\0\0\0WAVEfmt "
      "\x10\0\0\0\x01\0\x01\0\x80\x3e\0\0\0\x7d\0\0\x02\0\x10\0data\x06\0\0\0",
      44);
  EXPECT_EQ(bytes.substr(0, 44), header);
  PcmWav wav;
  std::string error;
  ASSERT_TRUE(DecodePcmWav(bytes, &wav, &error)) << error;
  EXPECT_EQ(wav.sample_rate, 16000u);
  EXPECT_EQ(wav.samples, std::vector<int16_t>({0, 32767, -32768}));
}

TEST(WavFileTest, WriterRefusesWhatItCannotWrite) {
  TempDir dir;
  std::string error = "stale";
  EXPECT_FALSE(WritePcmWav(dir.path() / "a.wav", {}, 16000, &error));
  EXPECT_EQ(error, kInvalidPcmMessage);
  EXPECT_FALSE(WritePcmWav(dir.path() / "a.wav", std::vector<float>{0.1f}, 0, &error));
  EXPECT_EQ(error, kInvalidPcmMessage);
  EXPECT_FALSE(
      WritePcmWav(dir.path() / "no" / "such" / "a.wav", std::vector<float>{0.1f}, 16000, &error));
  EXPECT_EQ(error, kWavCreateMessage);
  ASSERT_TRUE(WritePcmWav(dir.path() / "a.wav", std::vector<float>{0.1f}, 16000, &error));
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "a.wav"), kWavHeaderBytes + 2);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.wav.tmp"));
}

TEST(WavFileTest, ReaderRefusesOtherFiles) {
  std::string wav = EncodePcmWav(std::vector<float>{0.1f, 0.2f}, 16000);
  PcmWav out;
  std::string error;
  std::string stereo = wav;
  stereo[22] = 2;
  std::string truncated = wav.substr(0, wav.size() - 1);
  std::string eight_bit = wav;
  eight_bit[34] = 8;
  for (const std::string& bad :
       {std::string("RIFF"), stereo, truncated, eight_bit, wav.substr(0, 36)}) {
    EXPECT_FALSE(DecodePcmWav(bad, &out, &error));
    EXPECT_FALSE(error.empty());
  }
  // An unknown chunk before the data is skipped.
  std::string with_list =
      wav.substr(0, 36) + std::string("LIST\x03\0\0\0abc\0", 12) + wav.substr(36);
  ASSERT_TRUE(DecodePcmWav(with_list, &out, &error)) << error;
  EXPECT_EQ(out.samples.size(), 2u);
}

// The start notifications of one capture.
class Notifications : public Reports<Reported> {
 public:
  MicrophoneCapture::StartNotification Callback() {
    return [this](uint64_t id, bool ok, const std::string& message) { Add({id, ok, message}); };
  }
  std::vector<Reported> WaitFor(size_t count) { return Reports::WaitFor(count, 20); }
};

class MicrophoneCaptureTest : public ::testing::Test {
 protected:
  std::shared_ptr<CaptureScript> script_ = std::make_shared<CaptureScript>();
  MicrophoneCapture capture_{ScriptedFactory(script_)};
  Notifications notifications_;
  TempDir dir_;
  std::string error_;

  std::filesystem::path Wav() const { return dir_.path() / "voice-1.wav"; }
  PcmWav ReadWav() {
    const std::string bytes = ReadFile(Wav());
    PcmWav wav;
    std::string error;
    EXPECT_TRUE(DecodePcmWav(bytes, &wav, &error)) << error;
    return wav;
  }
  // Starts, waits until the opening is reported and every packet is taken (or the capture
  // ended by itself).
  void Record(uint64_t id = 7) {
    const int stopped = script_->stopped;
    ASSERT_TRUE(capture_.Start(id, notifications_.Callback(), &error_)) << error_;
    auto seen = notifications_.WaitFor(++starts_);
    ASSERT_EQ(seen.size(), starts_);
    EXPECT_EQ(seen.back().id, id);
    for (int i = 0; i < 5000 && script_->stopped == stopped; ++i) {
      {
        std::lock_guard<std::mutex> lock(script_->mutex);
        if (script_->packets.empty()) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  size_t starts_ = 0;
};

TEST_F(MicrophoneCaptureTest, StereoFloatAt48kHzBecomesAThirdAsManySamplesAt16kHz) {
  script_->format = {PcmEncoding::kFloat, 32, 2, 48000, "FLOAT_LE"};
  std::vector<float> frames;
  for (int i = 0; i < 1000; ++i) {
    frames.push_back(i % 2 ? 1.0f : -1.0f);
    frames.push_back(i % 2 ? 1.0f : -1.0f);
  }
  script_->Add(PacketOf(frames, 2));
  script_->Add(PacketOf(std::vector<float>(2 * 500, 0.5f), 2));
  Record();
  EXPECT_TRUE(notifications_.WaitFor(1)[0].ok);
  ASSERT_TRUE(capture_.StopAndSave(Wav(), &error_)) << error_;
  const PcmWav wav = ReadWav();
  EXPECT_EQ(wav.sample_rate, 16000u);
  ASSERT_EQ(wav.samples.size(), static_cast<size_t>(std::llround(1500 / 3.0)));
  // Every third frame of the alternating part is an even one: full negative scale.
  EXPECT_EQ(wav.samples[0], -32768);
  EXPECT_EQ(wav.samples[1], 32767);
  EXPECT_EQ(wav.samples.back(), PcmSample(0.5f));
  EXPECT_EQ(script_->stopped, 1);
}

TEST_F(MicrophoneCaptureTest, AStopBeforeAnyPacketHasNothingToWrite) {
  script_->format = Int16Mono(16000);
  Record();
  EXPECT_FALSE(capture_.StopAndSave(Wav(), &error_));
  EXPECT_EQ(error_, kInvalidPcmMessage);
  EXPECT_FALSE(std::filesystem::exists(Wav()));
  // Without an error out-parameter the failure is only the result.
  Record(8);
  EXPECT_FALSE(capture_.StopAndSave(Wav(), nullptr));
}

TEST_F(MicrophoneCaptureTest, TheFiveMinuteCapEndsTheCaptureAndWritesNothing) {
  script_->format = Int16Mono(100);  // the cap is 30,000 samples
  for (int i = 0; i < 30; ++i) script_->Add(PacketOf(std::vector<int16_t>(1000, 100), 1));
  script_->Add(PacketOf(std::vector<int16_t>(50, 100), 1));
  script_->Add(PacketOf(std::vector<int16_t>(50, 100), 1));
  Record();
  // The capture thread ended by itself: the next packet was never asked for.
  for (int i = 0; i < 2000 && script_->stopped == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(script_->stopped, 1);
  {
    std::lock_guard<std::mutex> lock(script_->mutex);
    EXPECT_EQ(script_->packets.size(), 1u);
  }
  EXPECT_EQ(notifications_.WaitFor(1).size(), 1u);  // only the opening
  EXPECT_FALSE(capture_.StopAndSave(Wav(), &error_));
  EXPECT_EQ(error_, kRecordingTooLongMessage);
  EXPECT_FALSE(std::filesystem::exists(Wav()));
  // A capture that ended by itself is reaped by the next start.
  script_->packets.clear();
  script_->Add(PacketOf(std::vector<int16_t>(100, 100), 1));
  Record(9);
  ASSERT_TRUE(capture_.StopAndSave(Wav(), &error_)) << error_;
  EXPECT_EQ(ReadWav().samples.size(), 16000u);
}

TEST_F(MicrophoneCaptureTest, DeviceFailuresAreReportedAndKept) {
  struct Case {
    const char* message;
    std::function<void(CaptureScript&)> arrange;
    size_t notifications;  // the opening's, then the failure's
  } cases[] = {
      {kOpenMicrophoneMessage, [](CaptureScript& s) { s.open_fails = true; }, 1},
      {kUnsupportedFormatMessage,
       [](CaptureScript& s) {
         s.format = {PcmEncoding::kSignedInteger, 8, 1, 8000, "S8"};
       },
       1},
      {kStartCaptureMessage, [](CaptureScript& s) { s.start_fails = true; }, 1},
      {kMicrophoneWaitMessage, [](CaptureScript& s) { s.wait_fails_after_packets = true; }, 2},
      {kMicrophoneGoneMessage, [](CaptureScript& s) { s.size_fails_after_packets = true; }, 2},
      {kReadSamplesMessage,
       [](CaptureScript& s) {
         s.read_fails = true;
         s.packets.push_back(PacketOf(std::vector<int16_t>(10, 1), 1));
       },
       2},
  };
  for (const Case& c : cases) {
    auto script = std::make_shared<CaptureScript>();
    script->format = Int16Mono(16000);
    c.arrange(*script);
    MicrophoneCapture capture(ScriptedFactory(script));
    Notifications notifications;
    ASSERT_TRUE(capture.Start(3, notifications.Callback(), &error_));
    const auto seen = notifications.WaitFor(c.notifications);
    ASSERT_EQ(seen.size(), c.notifications) << c.message;
    EXPECT_EQ(seen.front().ok, c.notifications == 2) << c.message;
    EXPECT_FALSE(seen.back().ok) << c.message;
    EXPECT_EQ(seen.back().text, c.message);
    EXPECT_EQ(seen.back().id, 3u);
    EXPECT_FALSE(capture.StopAndSave(Wav(), &error_));
    EXPECT_EQ(error_, c.message);
  }
}

TEST_F(MicrophoneCaptureTest, OneCaptureAtATimeAndCancelDropsTheRecording) {
  script_->format = Int16Mono(16000);
  script_->Add(PacketOf(std::vector<int16_t>(1600, 1000), 1));
  Record();
  EXPECT_FALSE(capture_.Start(8, notifications_.Callback(), &error_));
  EXPECT_EQ(error_, kCaptureActiveMessage);
  capture_.Cancel();
  EXPECT_EQ(script_->stopped, 1);
  EXPECT_FALSE(capture_.StopAndSave(Wav(), &error_));
  EXPECT_EQ(error_, kInvalidPcmMessage);
  EXPECT_FALSE(std::filesystem::exists(Wav()));
}

TEST(AlsaCaptureTest, TheNullDeviceRecordsSilenceAndAMissingOneFailsAtOnce) {
  auto stream = MakeAlsaCapture("null");
  PcmCaptureFormat format;
  std::string detail;
  ASSERT_TRUE(stream->Open(&format, &detail)) << detail;
  EXPECT_TRUE(IsCapturableFormat(format)) << format.name;
  MicrophoneCapture capture([] { return MakeAlsaCapture("null"); });
  Notifications notifications;
  std::string error;
  ASSERT_TRUE(capture.Start(1, notifications.Callback(), &error));
  ASSERT_TRUE(notifications.WaitFor(1).at(0).ok) << notifications.WaitFor(1).at(0).text;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TempDir dir;
  const bool saved = capture.StopAndSave(dir.path() / "null.wav", &error);
  // The null device delivers as fast as it is read, which may already have reached the cap.
  if (!saved) {
    EXPECT_EQ(error, kRecordingTooLongMessage);
  }

  MicrophoneCapture missing([] { return MakeAlsaCapture("hw:CARD=NoSuchKaviCard"); });
  Notifications failed;
  ASSERT_TRUE(missing.Start(2, failed.Callback(), &error));
  const auto seen = failed.WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].ok);
  EXPECT_EQ(seen[0].text, kOpenMicrophoneMessage);
}

}  // namespace
}  // namespace kavi::win::testing
