// SPDX-License-Identifier: Apache-2.0
// The recordings handed to the recogniser: 16-bit mono PCM WAV files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr char kInvalidPcmMessage[] = "invalid PCM data";
inline constexpr char kWavCreateMessage[] = "cannot create WAV file";
inline constexpr char kWavWriteMessage[] = "cannot write WAV file";

inline constexpr size_t kWavHeaderBytes = 44;
// The most samples a file may hold: the RIFF size (2 × n + 36) must fit in 32 bits.
inline constexpr uint64_t kMaxWavSamples = 0x7FFFFFED;
inline constexpr uint32_t kRecogniserSampleRate = 16000;

// The 16-bit sample of a float: clamped to [-1, 1], scaled by 32768 below zero and 32767 above,
// rounded to nearest (ties to even).
int16_t PcmSample(float sample);

// The whole file as bytes: the 44-byte header and the samples.
std::string EncodePcmWav(std::span<const float> samples, uint32_t sample_rate);

// Writes the file (through a temporary name moved onto the path, so that a reader never sees
// half of it). False with "invalid PCM data" for no samples, a zero rate or too many samples,
// else with the create or write message.
bool WritePcmWav(const std::filesystem::path& path, std::span<const float> samples,
                 uint32_t sample_rate, std::string* error);

// A decoded 16-bit mono PCM file.
struct PcmWav {
  uint32_t sample_rate = 0;
  std::vector<int16_t> samples;
};

// Reads a RIFF WAVE file of 16-bit mono PCM (chunks in any order, unknown ones skipped). False
// with a short English reason for anything else.
bool DecodePcmWav(std::string_view bytes, PcmWav* wav, std::string* error);

}  // namespace kavi::win
