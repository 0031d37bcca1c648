// SPDX-License-Identifier: Apache-2.0
#include "voice/capture_samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kavi::win {
namespace {

float FloatSample(const uint8_t* p) {
  float value;
  std::memcpy(&value, p, sizeof(value));
  return std::isfinite(value) ? value : 0.0f;
}

float Int16Sample(const uint8_t* p) {
  const int16_t value = static_cast<int16_t>(p[0] | (p[1] << 8));
  return static_cast<float>(value) * (1.0f / 32768.0f);
}

float Int24Sample(const uint8_t* p) {
  int32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
  if (value & 0x800000) value -= 0x1000000;  // sign extension
  return static_cast<float>(value) * (1.0f / 8388608.0f);
}

float Int32Sample(const uint8_t* p) {
  const int32_t value = static_cast<int32_t>(
      static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
      (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
  return static_cast<float>(value) * (1.0f / 2147483648.0f);
}

using SampleReader = float (*)(const uint8_t*);

SampleReader ReaderFor(const PcmCaptureFormat& format) {
  if (format.encoding == PcmEncoding::kFloat) return FloatSample;
  switch (format.bits_per_sample) {
    case 16:
      return Int16Sample;
    case 24:
      return Int24Sample;
    default:
      return Int32Sample;
  }
}

}  // namespace

bool IsCapturableFormat(const PcmCaptureFormat& format) {
  if (format.channels == 0 || format.sample_rate == 0) return false;
  switch (format.encoding) {
    case PcmEncoding::kFloat:
      return format.bits_per_sample == 32;
    case PcmEncoding::kSignedInteger:
      return format.bits_per_sample == 16 || format.bits_per_sample == 24 ||
             format.bits_per_sample == 32;
    case PcmEncoding::kOther:
      return false;
  }
  return false;
}

void AppendMonoSamples(const PcmCaptureFormat& format, const uint8_t* data, uint32_t frames,
                       bool silent, std::vector<float>* samples) {
  if (silent) {
    samples->insert(samples->end(), frames, 0.0f);
    return;
  }
  const SampleReader read = ReaderFor(format);
  const size_t sample_bytes = format.bits_per_sample / 8u;
  const size_t frame_bytes = format.BytesPerFrame();
  const float channels = static_cast<float>(format.channels);
  for (uint32_t f = 0; f < frames; ++f) {
    const uint8_t* frame = data + f * frame_bytes;
    float sum = 0.0f;
    for (uint16_t c = 0; c < format.channels; ++c) sum += read(frame + c * sample_bytes);
    samples->push_back(std::clamp(sum / channels, -1.0f, 1.0f));
  }
}

}  // namespace kavi::win
