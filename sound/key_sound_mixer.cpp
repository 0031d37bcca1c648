// SPDX-License-Identifier: Apache-2.0
#include "sound/key_sound_mixer.h"

#include <algorithm>
#include <cmath>

namespace kavi::win {
namespace {

constexpr int32_t kUnityGain = 1 << 16;
constexpr int64_t kHalf = 1 << 15;  // rounds the Q16 product to the nearest sample value
constexpr int32_t kFullScale = 32767;
constexpr int32_t kKnee = kFullScale * 3 / 4;
// Periods longer than this are rendered in pieces, so the accumulator is allocated once.
constexpr size_t kMaxRenderSamples = 4096;

}  // namespace

int16_t LimitSample(int32_t sum) {
  const int32_t magnitude = sum < 0 ? -sum : sum;
  if (magnitude <= kKnee) return static_cast<int16_t>(sum);
  constexpr double kRoom = kFullScale - kKnee;
  const double over = (magnitude - kKnee) / kRoom;
  const auto limited = static_cast<int32_t>(kKnee + kRoom * std::tanh(over));
  const int32_t clamped = std::min(limited, kFullScale);
  return static_cast<int16_t>(sum < 0 ? -clamped : clamped);
}

KeySoundMixer::KeySoundMixer(uint16_t channels)
    : channels_(channels ? channels : 1), accumulator_(kMaxRenderSamples) {}

bool KeySoundMixer::Start(const SoundClip& clip, float gain) {
  for (VoiceSlot& slot : slots_) {
    uint8_t expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire))
      continue;
    slot.clip = &clip;
    slot.gain = static_cast<int32_t>(std::lround(std::clamp(gain, 0.0f, 1.0f) * kUnityGain));
    slot.position = 0;
    slot.state.store(kPlaying, std::memory_order_release);
    return true;
  }
  return false;
}

bool KeySoundMixer::Render(int16_t* out, size_t frame_count) {
  bool any = false;
  size_t done = 0;
  const size_t total = frame_count * channels_;
  while (done < total) {
    const size_t count = std::min(total - done, kMaxRenderSamples / channels_ * channels_);
    std::fill_n(accumulator_.begin(), count, 0);
    for (VoiceSlot& slot : slots_) {
      if (slot.state.load(std::memory_order_acquire) != kPlaying) continue;
      any = true;
      const std::vector<int16_t>& samples = slot.clip->samples;
      const size_t take = std::min(count, samples.size() - slot.position);
      const int16_t* source = samples.data() + slot.position;
      for (size_t i = 0; i < take; ++i)
        accumulator_[i] += static_cast<int32_t>((int64_t{source[i]} * slot.gain + kHalf) >> 16);
      slot.position += take;
      if (slot.position >= samples.size()) slot.state.store(kFree, std::memory_order_release);
    }
    for (size_t i = 0; i < count; ++i) out[done + i] = LimitSample(accumulator_[i]);
    done += count;
  }
  return any;
}

bool KeySoundMixer::AnyBusy() const {
  for (const VoiceSlot& slot : slots_)
    if (slot.state.load(std::memory_order_acquire) != kFree) return true;
  return false;
}

void KeySoundMixer::StopAll() {
  for (VoiceSlot& slot : slots_) {
    uint8_t expected = kPlaying;
    slot.state.compare_exchange_strong(expected, kFree, std::memory_order_acq_rel);
  }
}

}  // namespace kavi::win
