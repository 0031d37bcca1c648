// SPDX-License-Identifier: Apache-2.0
// The eleven key sounds, synthesised: each is a short sum of damped resonances, filtered noise
// bursts and pitch sweeps, shaped so that it starts and ends at silence.
#pragma once

#include <string_view>
#include <vector>

#include "sound/sound_clip.h"

namespace kavi::win {

inline constexpr uint32_t kKeySoundRate = 48000;
inline constexpr double kMaxKeySoundSeconds = 0.080;

struct KeySoundRecipe {
  std::string_view type;         // "key14" ...
  std::string_view description;  // what it sounds like, for people
};

// In the order of the sound type table.
const std::vector<KeySoundRecipe>& KeySoundRecipes();

// The clip of one sound type: mono, 16-bit, kKeySoundRate. Deterministic.
SoundClip SynthesizeKeySound(std::string_view type);

}  // namespace kavi::win
