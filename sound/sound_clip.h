// SPDX-License-Identifier: Apache-2.0
// One preloaded key sound: interleaved 16-bit PCM samples with their format.
#pragma once

#include <cstdint>
#include <vector>

namespace kavi::win {

struct SoundClip {
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  uint16_t bits_per_sample = 16;
  // Interleaved samples, channels per frame.
  std::vector<int16_t> samples;

  size_t frames() const { return channels ? samples.size() / channels : 0; }
  bool SameFormat(const SoundClip& other) const {
    return sample_rate == other.sample_rate && channels == other.channels &&
           bits_per_sample == other.bits_per_sample;
  }
};

}  // namespace kavi::win
