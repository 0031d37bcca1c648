// SPDX-License-Identifier: Apache-2.0
// Apple Core Audio Format files holding linear 16-bit little-endian PCM: the reader accepts only
// that shape, and the writer produces it (the key sound generator writes the shipped clips).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sound/sound_clip.h"

namespace kavi::win {

inline constexpr size_t kMaxCafFileBytes = 2 * 1024 * 1024;
inline constexpr uint32_t kMinCafSampleRate = 8000;
inline constexpr uint32_t kMaxCafSampleRate = 192000;

// Parses a whole CAF file. On failure *clip is untouched and *message says why (short English:
// "invalid CAF header", "truncated CAF chunk", "invalid CAF chunk size", "invalid CAF
// description", "unsupported CAF PCM format", "invalid CAF audio data", "misaligned CAF audio
// data", "incomplete CAF audio"); on success the message is cleared.
bool ParseCaf(std::span<const uint8_t> bytes, SoundClip* clip, std::string* message);

// The file bytes of a clip: header, "desc" and "data" chunks. The clip must hold 1 or 2 channels.
std::vector<uint8_t> WriteCaf(const SoundClip& clip);

}  // namespace kavi::win
