// SPDX-License-Identifier: Apache-2.0
// A capture stream from a sound device in the device's own sample format, read packet by packet
// as the device fills its buffer. The ALSA capture is the real one; tests inject a stand-in that
// plays prepared packets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wakeup.h"

namespace kavi::win {

enum class PcmEncoding { kFloat, kSignedInteger, kOther };

// The interleaved frames a stream delivers. A 24-bit sample takes three bytes.
struct PcmCaptureFormat {
  PcmEncoding encoding = PcmEncoding::kOther;
  uint16_t bits_per_sample = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  std::string name;  // the device's name for the format, for logs ("S16_LE")

  uint32_t BytesPerFrame() const { return channels * ((bits_per_sample + 7u) / 8u); }
};

// One packet of captured frames, valid until ReleasePacket.
struct PcmPacket {
  const uint8_t* data = nullptr;
  uint32_t frames = 0;
  bool silent = false;  // the device says the packet is silence, whatever the bytes hold
};

class PcmCaptureStream {
 public:
  enum class WaitResult { kWoken, kDataReady, kFailed };

  virtual ~PcmCaptureStream() = default;
  // Opens the device and reports the format it captures in. `detail` says why it failed.
  virtual bool Open(PcmCaptureFormat* format, std::string* detail) = 0;
  // Starts capturing in that format.
  virtual bool Start(std::string* detail) = 0;
  // Blocks until a packet is ready or `wakeup` is woken.
  virtual WaitResult Wait(Wakeup& wakeup) = 0;
  // The frames of the next packet, 0 when none is ready; false when the device is gone.
  virtual bool NextPacketSize(uint32_t* frames) = 0;
  // The next packet; false when it cannot be read.
  virtual bool GetPacket(PcmPacket* packet) = 0;
  virtual void ReleasePacket(uint32_t frames) = 0;
  virtual void Stop() = 0;
};

// Makes a fresh, unopened stream for each recording.
using PcmCaptureFactory = std::function<std::unique_ptr<PcmCaptureStream>()>;

// Capture from an ALSA device (kDefaultPcmDevice for the user's microphone). It never blocks
// on a busy device: opening it fails instead.
std::unique_ptr<PcmCaptureStream> MakeAlsaCapture(std::string device);

}  // namespace kavi::win
