// SPDX-License-Identifier: Apache-2.0
// Eight voice slots summed into one stream. A key press claims a free slot with one
// compare-and-swap and hands it a preloaded clip; the mixer thread renders every playing slot
// into the output period and frees a slot when its clip ends. Nothing is allocated per key.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sound/sound_clip.h"

namespace kavi::win {

inline constexpr size_t kVoiceSlotCount = 8;

class KeySoundMixer {
 public:
  // `channels` is the clips' (and the output's) channel count.
  explicit KeySoundMixer(uint16_t channels);

  // Starts the clip on the first free slot at gain 0..1; false (the click is dropped) when all
  // eight are busy. The clip must outlive its playing.
  bool Start(const SoundClip& clip, float gain);

  // Renders the next `frame_count` frames of every playing slot into `out` (interleaved) and
  // frees the slots whose clips ended. Returns whether any slot was playing. Called from one
  // thread only.
  bool Render(int16_t* out, size_t frame_count);

  bool AnyBusy() const;
  // Drops every playing click (shutdown).
  void StopAll();

 private:
  // Free: nobody owns the slot. Claimed: Start is filling it in. Playing: the mixer owns it.
  enum SlotState : uint8_t { kFree, kClaimed, kPlaying };

  struct VoiceSlot {
    std::atomic<uint8_t> state{kFree};
    const SoundClip* clip = nullptr;
    // Q16 fixed-point gain: 65536 is unity.
    int32_t gain = 0;
    size_t position = 0;  // in samples
  };

  uint16_t channels_;
  std::array<VoiceSlot, kVoiceSlotCount> slots_;
  std::vector<int32_t> accumulator_;
};

// Maps a sum of several full-scale voices into the 16-bit range: linear up to three quarters of
// full scale, then a smooth knee that approaches but never passes full scale.
int16_t LimitSample(int32_t sum);

}  // namespace kavi::win
