// SPDX-License-Identifier: Apache-2.0
// A stream of interleaved signed 16-bit frames to a sound device. The ALSA output is the real
// one; tests hand the mixer a recording stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/alsa_device.h"

namespace kavi::win {

class PcmOutput {
 public:
  virtual ~PcmOutput() = default;
  // Opens the stream in the given format; `period_frames` is the size of one write.
  virtual bool Open(uint32_t sample_rate, uint16_t channels, size_t period_frames,
                    std::string* message) = 0;
  // Writes `frame_count` frames, blocking until the device takes them; false when the device
  // failed for good.
  virtual bool Write(const int16_t* frames, size_t frame_count) = 0;
  // Nothing more will be written for a while: let what was written play out, then stop the
  // stream so an idle key-sound service costs no CPU. The next Write restarts it.
  virtual void Pause() = 0;
};

std::unique_ptr<PcmOutput> MakeAlsaOutput(std::string device);

}  // namespace kavi::win
