// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "config/config_record.h"
#include "platform/file_read.h"
#include "sound/caf_file.h"
#include "sound/key_sound_mixer.h"
#include "sound/key_sound_player.h"
#include "sound/key_sound_service.h"
#include "tests/common/temp_dir.h"
#include "tools/keysound/key_sound_recipes.h"

namespace kavi::win {
namespace {

using testing::TempDir;

const std::filesystem::path kShippedSounds = std::filesystem::path(KAVI_SOURCE_DIR) / "sounds";

SoundClip Constant(int16_t value, size_t frames, uint32_t rate = 48000) {
  SoundClip clip;
  clip.sample_rate = rate;
  clip.channels = 1;
  clip.samples.assign(frames, value);
  return clip;
}

void WriteClip(const std::filesystem::path& dir, std::string_view type, const SoundClip& clip) {
  const std::vector<uint8_t> bytes = WriteCaf(clip);
  testing::WriteFile(dir / (std::string(type) + ".caf"), std::string(bytes.begin(), bytes.end()));
}

// A sounds directory whose clip i is a constant of value 1000 + 100 i, 480 frames long.
void WriteConstantSounds(const std::filesystem::path& dir) {
  int i = 0;
  for (std::string_view type : AppOptions::kKeySoundTypes)
    WriteClip(dir, type, Constant(static_cast<int16_t>(1000 + 100 * i++), 480));
}

TEST(KeySoundMixer, NinthConcurrentClickIsDroppedAndSlotsFreeWhenClipsEnd) {
  KeySoundMixer mixer(1);
  const SoundClip clip = Constant(100, 300);
  for (size_t i = 0; i < kVoiceSlotCount; ++i) EXPECT_TRUE(mixer.Start(clip, 1.0f)) << i;
  EXPECT_FALSE(mixer.Start(clip, 1.0f));
  std::vector<int16_t> out(256);
  EXPECT_TRUE(mixer.Render(out.data(), out.size()));
  EXPECT_EQ(out[0], 800);
  EXPECT_FALSE(mixer.Start(clip, 1.0f)) << "all eight are still sounding";
  EXPECT_TRUE(mixer.Render(out.data(), out.size()));
  EXPECT_EQ(out[43], 800);
  EXPECT_EQ(out[44], 0) << "the clips end after 300 frames";
  EXPECT_FALSE(mixer.AnyBusy());
  EXPECT_TRUE(mixer.Start(clip, 1.0f));
}

// Twenty keys, one every 120 frames, of the loudest shipped clip at full volume: as many as
// eight sound at once. Where the plain sum fits it is passed through exactly; where it does
// not, the output keeps the sum's sign and stays within full scale (no wrap-around).
TEST(KeySoundMixer, TwentyOverlappingKeysMixWithoutClippingBeyondFullScale) {
  SoundClip loud = SynthesizeKeySound("key28");
  for (int16_t& s : loud.samples) s = static_cast<int16_t>(std::clamp(s * 3, -32768, 32767));
  KeySoundMixer mixer(1);
  constexpr size_t kSpacing = 120, kKeys = 20;
  std::vector<int32_t> reference(kSpacing * kKeys + loud.samples.size(), 0);
  std::vector<int16_t> out(reference.size(), 0);
  size_t accepted = 0;
  for (size_t key = 0; key < kKeys; ++key) {
    if (mixer.Start(loud, 1.0f)) {
      ++accepted;
      for (size_t i = 0; i < loud.samples.size(); ++i)
        reference[key * kSpacing + i] += loud.samples[i];
    }
    mixer.Render(out.data() + key * kSpacing, kSpacing);
  }
  mixer.Render(out.data() + kKeys * kSpacing, loud.samples.size());
  EXPECT_LT(accepted, kKeys) << "some keys found all eight slots busy";
  EXPECT_GE(accepted, kVoiceSlotCount);

  size_t limited = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const int32_t sum = reference[i];
    if (std::abs(sum) <= 32767 * 3 / 4) {
      ASSERT_EQ(out[i], sum) << "sample " << i;
      continue;
    }
    ++limited;
    ASSERT_EQ(out[i] > 0, sum > 0) << "sample " << i << " wrapped around";
    ASSERT_GE(std::abs(out[i]), 32767 * 3 / 4) << "sample " << i;
    ASSERT_LE(std::abs(int32_t{out[i]}), std::abs(sum)) << "sample " << i;
  }
  EXPECT_GT(limited, 0u) << "the test should drive the mix past full scale";

  // The limiter itself: monotonic, odd, and never past full scale.
  int16_t previous = LimitSample(0);
  for (int32_t sum = 1; sum <= 8 * 32768; sum += 7) {
    const int16_t now = LimitSample(sum);
    ASSERT_GE(now, previous) << sum;
    ASSERT_EQ(LimitSample(-sum), -now) << sum;
    previous = now;
  }
  EXPECT_LE(previous, 32767);
  EXPECT_GT(previous, 32000);
}

class KeySoundServiceTest : public ::testing::Test {
 protected:
  // An output that keeps every frame written to it.
  struct Recording final : PcmOutput {
    explicit Recording(KeySoundServiceTest* t) : t(t) {}
    bool Open(uint32_t rate, uint16_t channels, size_t, std::string* message) override {
      std::lock_guard<std::mutex> lock(t->mutex_);
      t->rate_ = rate;
      t->channels_ = channels;
      if (t->open_fails_) *message = "no such device";
      return !t->open_fails_;
    }
    bool Write(const int16_t* frames, size_t count) override {
      std::lock_guard<std::mutex> lock(t->mutex_);
      t->samples_.insert(t->samples_.end(), frames, frames + count * t->channels_);
      return true;
    }
    void Pause() override {
      std::lock_guard<std::mutex> lock(t->mutex_);
      ++t->pauses_;
      t->changed_.notify_all();
    }
    KeySoundServiceTest* t;
  };

  KeySoundService& Service() {
    service_ = std::make_unique<KeySoundService>(std::make_unique<Recording>(this));
    return *service_;
  }
  int Pauses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
  }
  // Plays, waits until the mixer has gone idle again, and tells whether the output got the
  // clip's 480 frames at `level` (at 0: nothing but silence).
  bool PlayedAt(const std::function<bool()>& play, int16_t level) {
    const int pauses = Pauses();
    std::unique_lock<std::mutex> lock(mutex_);
    samples_.clear();
    lock.unlock();
    if (!play()) return false;
    lock.lock();
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [&] { return pauses_ > pauses; }))
      return false;
    const long at_level = std::count(samples_.begin(), samples_.end(), level);
    return samples_.size() >= 480 && at_level == (level ? 480 : long(samples_.size()));
  }

  TempDir dir_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int16_t> samples_;
  int pauses_ = 0;
  bool open_fails_ = false;
  uint32_t rate_ = 0;
  uint16_t channels_ = 0;
  std::unique_ptr<KeySoundService> service_;
};

TEST_F(KeySoundServiceTest, InitializeNamesTheClipThatFailsAndTheFormatMismatch) {
  std::string message;
  EXPECT_FALSE(Service().Initialize(dir_.path(), &message));
  EXPECT_EQ(message, "無法載入按鍵音：key14");

  WriteConstantSounds(dir_.path());
  testing::WriteFile(dir_.path() / "key30.caf", "caff but not really");
  EXPECT_FALSE(Service().Initialize(dir_.path(), &message));
  EXPECT_EQ(message, "無法載入按鍵音：key30");

  WriteConstantSounds(dir_.path());
  WriteClip(dir_.path(), "key33", Constant(5, 100, 44100));
  EXPECT_FALSE(Service().Initialize(dir_.path(), &message));
  EXPECT_EQ(message, "按鍵音格式不一致");
  EXPECT_FALSE(service_->Play("key14", 100));

  WriteConstantSounds(dir_.path());
  open_fails_ = true;
  EXPECT_FALSE(Service().Initialize(dir_.path(), &message));
  EXPECT_EQ(message, "ALSA 初始化失敗：no such device");
  EXPECT_FALSE(service_->enabled());
}

TEST_F(KeySoundServiceTest, PlaysTheNamedClipAtTheClampedVolumeAndThePlayerFollowsTheSettings) {
  WriteConstantSounds(dir_.path());
  std::string message = "x";
  ASSERT_TRUE(Service().Initialize(dir_.path(), &message));
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(rate_, 48000u);
  const struct {
    std::string_view type;
    int32_t volume;
    int16_t level;
  } cases[] = {{"key14", 100, 1000}, {"key38", 50, 1000}, {"key30", 150, 1200}, {"key30", -5, 0}};
  for (const auto& c : cases) {
    EXPECT_TRUE(PlayedAt([&] { return service_->Play(c.type, c.volume); }, c.level))
        << c.type << " at " << c.volume;
  }
  EXPECT_FALSE(service_->Play("key99", 100));
  EXPECT_FALSE(service_->Play("KEY14", 100));

  KeySoundPlayer player(service_.get());
  auto play_key = [&] {
    player.PlayKey('a');
    return true;
  };
  player.ApplySettings(false, "key28", 100);
  const int pauses = Pauses();
  player.PlayKey('a');
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(Pauses(), pauses) << "key sounds are off: nothing plays";
  player.ApplySettings(true, "key28", 100);
  EXPECT_TRUE(PlayedAt(play_key, 1100));
  player.ApplySettings(true, "no-such-sound", 40);
  EXPECT_TRUE(PlayedAt(play_key, 400)) << "the default key14 at 40";
  // Kind 19 names its sound and volume, whatever the switch says.
  player.ApplySettings(false, "key14", 100);
  EXPECT_TRUE(PlayedAt([&] { return player.Play("key31", 100); }, 1300));
  EXPECT_FALSE(player.Play("key32 ", 100));

  service_->Shutdown();
  EXPECT_FALSE(service_->Play("key14", 100));
}

TEST(KeySoundAlsa, NullDevicePlaysThroughTheRealOutputPath) {
  KeySoundService service(MakeAlsaOutput("null"));
  std::string message;
  ASSERT_TRUE(service.Initialize(kShippedSounds, &message)) << message;
  for (size_t i = 0; i < kVoiceSlotCount; ++i)
    EXPECT_TRUE(service.Play(AppOptions::kKeySoundTypes[i], 60));
  EXPECT_FALSE(service.Play("key38", 60)) << "a ninth click while eight sound";
  // The null device consumes at the real rate: the slots come free as the clips end.
  bool all_free = false;
  for (int i = 0; i < 100 && !all_free; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int started = 0;
    while (started < int(kVoiceSlotCount) && service.Play("key14", 0)) ++started;
    all_free = started == int(kVoiceSlotCount);
  }
  EXPECT_TRUE(all_free);
}

// The shipped clips are the generator's output, and they are what a key sound should be.
TEST(KeySoundClips, ShippedClipsAreTheGeneratorsShortCleanAndDistinct) {
  std::vector<SoundClip> clips;
  for (std::string_view type : AppOptions::kKeySoundTypes) {
    std::string bytes;
    const auto path = kShippedSounds / (std::string(type) + ".caf");
    ASSERT_EQ(ReadRegularFile(path, kMaxCafFileBytes, &bytes), ReadFileResult::kRead) << path;
    const std::vector<uint8_t> regenerated = WriteCaf(SynthesizeKeySound(type));
    EXPECT_EQ(bytes, std::string(regenerated.begin(), regenerated.end()))
        << type << " differs from the generator's output: run kavi-keysound-gen sounds";
    SoundClip clip;
    ASSERT_TRUE(ParseCaf(regenerated, &clip, nullptr));
    EXPECT_TRUE(clips.empty() || clip.SameFormat(clips.front())) << type;
    EXPECT_LE(clip.frames(), size_t(clip.sample_rate * 0.080)) << type << " is over 80 ms";
    // No click at either end: the clip starts and ends at (near) silence.
    EXPECT_LE(std::abs(clip.samples.front()), 100) << type;
    EXPECT_LE(std::abs(clip.samples.back()), 100) << type;
    int16_t peak = 0;
    for (int16_t s : clip.samples) peak = std::max<int16_t>(peak, std::abs(s));
    EXPECT_GT(peak, 4000) << type << " is too quiet to hear";
    clips.push_back(std::move(clip));
  }
  // Distinct: each pair differs in length or clearly in its waveform.
  for (size_t a = 0; a < clips.size(); ++a)
    for (size_t b = a + 1; b < clips.size(); ++b) {
      const auto& x = clips[a].samples;
      const auto& y = clips[b].samples;
      double diff = 0, energy = 0;
      for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        diff += std::pow(double(x[i]) - y[i], 2);
        energy += double(x[i]) * x[i];
      }
      EXPECT_TRUE(x.size() != y.size() || diff > 0.5 * energy) << a << " and " << b;
    }
}

}  // namespace
}  // namespace kavi::win
