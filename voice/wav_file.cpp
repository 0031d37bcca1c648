// SPDX-License-Identifier: Apache-2.0
#include "voice/wav_file.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <system_error>

namespace kavi::win {
namespace {

constexpr char kTemporarySuffix[] = ".tmp";
constexpr uint16_t kPcmFormatTag = 1;

void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

uint32_t GetU32(std::string_view bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

uint16_t GetU16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

bool Fail(std::string* error, const char* message) {
  if (error) *error = message;
  return false;
}

}  // namespace

int16_t PcmSample(float sample) {
  const float clamped = std::clamp(sample, -1.0f, 1.0f);
  const float scaled = clamped < 0 ? clamped * 32768.0f : clamped * 32767.0f;
  return static_cast<int16_t>(std::nearbyint(scaled));  // the default rounding: ties to even
}

std::string EncodePcmWav(std::span<const float> samples, uint32_t sample_rate) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  std::string out;
  out.reserve(kWavHeaderBytes + data_bytes);
  out += "RIFF";
  PutU32(&out, data_bytes + 36);
  out += "WAVEfmt ";
  PutU32(&out, 16);
  PutU16(&out, kPcmFormatTag);
  PutU16(&out, 1);  // channels
  PutU32(&out, sample_rate);
  PutU32(&out, sample_rate * 2);  // bytes per second
  PutU16(&out, 2);                // block align
  PutU16(&out, 16);               // bits per sample
  out += "data";
  PutU32(&out, data_bytes);
  for (float sample : samples) PutU16(&out, static_cast<uint16_t>(PcmSample(sample)));
  return out;
}

bool WritePcmWav(const std::filesystem::path& path, std::span<const float> samples,
                 uint32_t sample_rate, std::string* error) {
  if (samples.empty() || sample_rate == 0 || samples.size() > kMaxWavSamples)
    return Fail(error, kInvalidPcmMessage);
  // The recording lives only until it is transcribed: it is renamed into place whole, but not
  // flushed to disk, which would only delay the transcription.
  const std::filesystem::path temporary = path.string() + kTemporarySuffix;
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) return Fail(error, kWavCreateMessage);
  const std::string bytes = EncodePcmWav(samples, sample_rate);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  std::error_code ec;
  if (!out.fail()) std::filesystem::rename(temporary, path, ec);
  if (out.fail() || ec) {
    std::filesystem::remove(temporary, ec);
    return Fail(error, kWavWriteMessage);
  }
  if (error) error->clear();
  return true;
}

bool DecodePcmWav(std::string_view bytes, PcmWav* wav, std::string* error) {
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE") {
    *error = "not a RIFF WAVE file";
    return false;
  }
  bool have_format = false;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string_view id = bytes.substr(at, 4);
    const uint64_t size = GetU32(bytes, at + 4);
    const size_t body = at + 8;
    if (size > bytes.size() - body) {
      *error = "truncated WAV chunk";
      return false;
    }
    if (id == "fmt ") {
      if (size < 16 || GetU16(bytes, body) != kPcmFormatTag || GetU16(bytes, body + 2) != 1 ||
          GetU16(bytes, body + 14) != 16) {
        *error = "WAV file is not 16-bit mono PCM";
        return false;
      }
      wav->sample_rate = GetU32(bytes, body + 4);
      have_format = wav->sample_rate != 0;
    } else if (id == "data") {
      if (!have_format) {
        *error = "WAV data before its format";
        return false;
      }
      wav->samples.resize(size / 2);
      for (size_t i = 0; i < wav->samples.size(); ++i)
        wav->samples[i] = static_cast<int16_t>(GetU16(bytes, body + 2 * i));
      return true;
    }
    at = body + size + (size & 1);  // chunks are padded to even sizes
  }
  *error = have_format ? "WAV file has no data" : "WAV file has no format";
  return false;
}

}  // namespace kavi::win
