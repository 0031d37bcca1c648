// SPDX-License-Identifier: Apache-2.0
#include "sound/caf_file.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace kavi::win {
namespace {

constexpr char kFileType[] = "caff";
constexpr uint16_t kFileVersion = 1;
constexpr size_t kFileHeaderBytes = 8;
constexpr size_t kChunkHeaderBytes = 12;
constexpr uint64_t kChunkRunsToEnd = ~uint64_t{0};
constexpr size_t kDescriptionBytes = 32;
constexpr char kDescriptionType[] = "desc";
constexpr char kDataType[] = "data";
constexpr char kLinearPcm[] = "lpcm";
// kCAFLinearPCMFormatFlagIsLittleEndian, and no float flag: little-endian integer samples.
constexpr uint32_t kLittleEndianIntegerFlags = 2;
constexpr uint32_t kBitsPerSample = 16;
constexpr size_t kEditCountBytes = 4;

uint16_t Big16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Big32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint64_t Big64(const uint8_t* p) {
  return uint64_t{Big32(p)} << 32 | Big32(p + 4);
}
bool TypeIs(const uint8_t* p, const char* type) {
  return std::memcmp(p, type, 4) == 0;
}

void PutBig16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}
void PutBig32(std::vector<uint8_t>* out, uint32_t v) {
  PutBig16(out, static_cast<uint16_t>(v >> 16));
  PutBig16(out, static_cast<uint16_t>(v));
}
void PutBig64(std::vector<uint8_t>* out, uint64_t v) {
  PutBig32(out, static_cast<uint32_t>(v >> 32));
  PutBig32(out, static_cast<uint32_t>(v));
}
void PutType(std::vector<uint8_t>* out, const char* type) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(type[i]));
}

bool Fail(std::string* message, const char* text) {
  if (message) *message = text;
  return false;
}

struct Description {
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
};

// The 32-byte "desc" body: rate (f64), format id, flags, bytes per packet, frames per packet,
// channels per frame, bits per channel.
bool ReadDescription(const uint8_t* p, Description* desc, std::string* message) {
  if (!TypeIs(p + 8, kLinearPcm)) return Fail(message, "invalid CAF description");
  const double rate = std::bit_cast<double>(Big64(p));
  const uint32_t flags = Big32(p + 12);
  const uint32_t bytes_per_packet = Big32(p + 16);
  const uint32_t frames_per_packet = Big32(p + 20);
  const uint32_t channels = Big32(p + 24);
  const uint32_t bits = Big32(p + 28);
  const bool rate_ok = std::isfinite(rate) && rate == std::floor(rate) &&
                       rate >= kMinCafSampleRate && rate <= kMaxCafSampleRate;
  if (!rate_ok || flags != kLittleEndianIntegerFlags || (channels != 1 && channels != 2) ||
      bits != kBitsPerSample || bytes_per_packet != channels * 2 || frames_per_packet != 1)
    return Fail(message, "unsupported CAF PCM format");
  desc->sample_rate = static_cast<uint32_t>(rate);
  desc->channels = static_cast<uint16_t>(channels);
  return true;
}

}  // namespace

bool ParseCaf(std::span<const uint8_t> bytes, SoundClip* clip, std::string* message) {
  if (!clip || bytes.size() > kMaxCafFileBytes || bytes.size() < kFileHeaderBytes ||
      !TypeIs(bytes.data(), kFileType) || Big16(bytes.data() + 4) != kFileVersion ||
      Big16(bytes.data() + 6) != 0)
    return Fail(message, "invalid CAF header");

  bool have_description = false;
  Description desc;
  const uint8_t* audio = nullptr;
  size_t audio_bytes = 0;
  size_t offset = kFileHeaderBytes;
  while (offset < bytes.size()) {
    const size_t left = bytes.size() - offset;
    if (left < kChunkHeaderBytes) return Fail(message, "truncated CAF chunk");
    const uint8_t* header = bytes.data() + offset;
    const uint64_t declared = Big64(header + 4);
    const size_t available = left - kChunkHeaderBytes;
    if (declared != kChunkRunsToEnd && declared > available)
      return Fail(message, "invalid CAF chunk size");
    const size_t size = declared == kChunkRunsToEnd ? available : static_cast<size_t>(declared);
    const uint8_t* body = header + kChunkHeaderBytes;

    if (TypeIs(header, kDescriptionType)) {
      if (have_description || size != kDescriptionBytes)
        return Fail(message, "invalid CAF description");
      if (!ReadDescription(body, &desc, message)) return false;
      have_description = true;
    } else if (TypeIs(header, kDataType)) {
      if (audio || !have_description || size <= kEditCountBytes)
        return Fail(message, "invalid CAF audio data");
      audio = body + kEditCountBytes;
      audio_bytes = size - kEditCountBytes;
      if (audio_bytes % (desc.channels * 2u) != 0)
        return Fail(message, "misaligned CAF audio data");
    }
    offset += kChunkHeaderBytes + size;
  }
  if (!have_description || !audio || audio_bytes == 0) return Fail(message, "incomplete CAF audio");

  SoundClip parsed;
  parsed.sample_rate = desc.sample_rate;
  parsed.channels = desc.channels;
  parsed.bits_per_sample = kBitsPerSample;
  parsed.samples.resize(audio_bytes / 2);
  for (size_t i = 0; i < parsed.samples.size(); ++i)
    parsed.samples[i] = static_cast<int16_t>(audio[2 * i] | audio[2 * i + 1] << 8);
  *clip = std::move(parsed);
  if (message) message->clear();
  return true;
}

std::vector<uint8_t> WriteCaf(const SoundClip& clip) {
  std::vector<uint8_t> out;
  out.reserve(kFileHeaderBytes + 2 * kChunkHeaderBytes + kDescriptionBytes + kEditCountBytes +
              clip.samples.size() * 2);
  PutType(&out, kFileType);
  PutBig16(&out, kFileVersion);
  PutBig16(&out, 0);

  PutType(&out, kDescriptionType);
  PutBig64(&out, kDescriptionBytes);
  PutBig64(&out, std::bit_cast<uint64_t>(static_cast<double>(clip.sample_rate)));
  PutType(&out, kLinearPcm);
  PutBig32(&out, kLittleEndianIntegerFlags);
  PutBig32(&out, clip.channels * 2u);
  PutBig32(&out, 1);
  PutBig32(&out, clip.channels);
  PutBig32(&out, kBitsPerSample);

  PutType(&out, kDataType);
  PutBig64(&out, kEditCountBytes + clip.samples.size() * 2);
  PutBig32(&out, 0);
  for (int16_t sample : clip.samples) {
    const auto v = static_cast<uint16_t>(sample);
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  return out;
}

}  // namespace kavi::win
