// SPDX-License-Identifier: Apache-2.0
// Key sounds: how long a click takes from Play to its first sample in the output, and what
// the mixer costs for one second of fast typing.
//
//   build/bench/sound/kavi_sound_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "config/config_record.h"
#include "sound/key_sound_mixer.h"
#include "sound/key_sound_service.h"
#include "tools/keysound/key_sound_recipes.h"

namespace kavi::win {
namespace {

using Clock = std::chrono::steady_clock;
const std::filesystem::path kSounds = std::filesystem::path(KAVI_SOURCE_DIR) / "sounds";

// Notes when the first non-silent sample arrives and when the mixer goes idle again. It takes
// frames at once, as a device with room in its buffer does.
class TimingOutput final : public PcmOutput {
 public:
  struct Shared {
    std::atomic<int64_t> first_sample_ns{0};
    std::mutex mutex;
    std::condition_variable idle;
    int pauses = 0;
  };
  explicit TimingOutput(Shared* shared) : shared_(shared) {}
  bool Open(uint32_t, uint16_t, size_t, std::string*) override { return true; }
  bool Write(const int16_t* frames, size_t count) override {
    if (shared_->first_sample_ns.load(std::memory_order_relaxed) == 0) {
      for (size_t i = 0; i < count; ++i)
        if (frames[i] != 0) {
          shared_->first_sample_ns.store(Clock::now().time_since_epoch().count(),
                                         std::memory_order_release);
          break;
        }
    }
    return true;
  }
  void Pause() override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->pauses;
    shared_->idle.notify_all();
  }

 private:
  Shared* shared_;
};

void BM_PlayToFirstSample(benchmark::State& state) {
  TimingOutput::Shared shared;
  KeySoundService service(std::make_unique<TimingOutput>(&shared));
  std::string message;
  if (!service.Initialize(kSounds, &message)) {
    state.SkipWithError(message.c_str());
    return;
  }
  for (auto _ : state) {
    int pauses;
    {
      std::lock_guard<std::mutex> lock(shared.mutex);
      pauses = shared.pauses;
    }
    shared.first_sample_ns.store(0);
    const int64_t start = Clock::now().time_since_epoch().count();
    service.Play("key14", 100);
    int64_t first = 0;
    while ((first = shared.first_sample_ns.load(std::memory_order_acquire)) == 0) {
    }
    state.SetIterationTime(static_cast<double>(first - start) * 1e-9);
    std::unique_lock<std::mutex> lock(shared.mutex);
    shared.idle.wait(lock, [&] { return shared.pauses > pauses; });
  }
}
BENCHMARK(BM_PlayToFirstSample)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// One second of audio at 48 kHz with a key every 1/15 s, cycling through the eleven clips,
// rendered in mixer periods: the time per iteration is the mixer's CPU per second of typing.
void BM_MixerSecondOfTypingAt15KeysPerSecond(benchmark::State& state) {
  std::vector<SoundClip> clips;
  for (std::string_view type : AppOptions::kKeySoundTypes)
    clips.push_back(SynthesizeKeySound(type));
  constexpr size_t kFramesPerSecond = kKeySoundRate;
  constexpr size_t kFramesPerKey = kFramesPerSecond / 15;
  std::vector<int16_t> period(kMixerPeriodFrames);
  KeySoundMixer mixer(1);
  size_t key = 0;
  for (auto _ : state) {
    size_t next_key = 0;
    for (size_t frame = 0; frame < kFramesPerSecond; frame += kMixerPeriodFrames) {
      if (frame >= next_key) {
        mixer.Start(clips[key++ % clips.size()], 0.6f);
        next_key += kFramesPerKey;
      }
      mixer.Render(period.data(), kMixerPeriodFrames);
      benchmark::DoNotOptimize(period.data());
    }
  }
}
BENCHMARK(BM_MixerSecondOfTypingAt15KeysPerSecond)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kavi::win

BENCHMARK_MAIN();
