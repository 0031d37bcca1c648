// SPDX-License-Identifier: Apache-2.0
// Turning a sound device's packets into the recording: one mono float sample per frame.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio/pcm_input.h"

namespace kavi::win {

// True for the formats a recording converts: 32-bit float, or signed little-endian integers of
// 16, 24 (three bytes) or 32 bits; any channel count and rate above zero.
bool IsCapturableFormat(const PcmCaptureFormat& format);

// Appends one sample per frame: the mean of the frame's channels, each converted to float
// (integers scaled by 2^-(bits-1), a NaN or infinite float counting as 0), clamped to
// [-1, 1]; 0 for every frame of a packet marked silent. The format must be capturable.
void AppendMonoSamples(const PcmCaptureFormat& format, const uint8_t* data, uint32_t frames,
                       bool silent, std::vector<float>* samples);

}  // namespace kavi::win
