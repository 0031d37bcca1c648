// SPDX-License-Identifier: Apache-2.0
// A sound device for tests: it opens in a chosen format and hands out prepared packets, then
// waits for the stop; any step can be made to fail.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/pcm_input.h"
#include "voice/wav_file.h"

namespace kavi::win::testing {

struct ScriptedPacket {
  std::vector<uint8_t> bytes;
  uint32_t frames = 0;
  bool silent = false;
};

// What a test prepares, shared with the stream that the capture thread owns.
struct CaptureScript {
  PcmCaptureFormat format;
  std::deque<ScriptedPacket> packets;
  bool open_fails = false;
  bool start_fails = false;
  bool wait_fails_after_packets = false;  // once the packets are gone, the wait fails
  bool size_fails_after_packets = false;  // ... the packet query fails
  bool read_fails = false;
  // When set, opening the device waits until it returns true (a device that is slow to open).
  std::function<bool()> open_when;
  std::atomic<int> opened{0};
  std::atomic<int> stopped{0};
  std::mutex mutex;

  void Add(ScriptedPacket packet) {
    std::lock_guard<std::mutex> lock(mutex);
    packets.push_back(std::move(packet));
  }
};

class ScriptedCaptureStream : public PcmCaptureStream {
 public:
  explicit ScriptedCaptureStream(std::shared_ptr<CaptureScript> script)
      : script_(std::move(script)) {}

  bool Open(PcmCaptureFormat* format, std::string* detail) override {
    ++script_->opened;
    for (int i = 0; script_->open_when && !script_->open_when() && i < 10000; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (script_->open_fails) {
      *detail = "scripted: no device";
      return false;
    }
    *format = script_->format;
    return true;
  }
  bool Start(std::string* detail) override {
    if (script_->start_fails) *detail = "scripted: cannot start";
    return !script_->start_fails;
  }
  WaitResult Wait(Wakeup& wakeup) override {
    if (HasPackets()) return WaitResult::kDataReady;
    if (script_->wait_fails_after_packets) return WaitResult::kFailed;
    if (script_->size_fails_after_packets) return WaitResult::kDataReady;
    const WaitResult woken =
        wakeup.Wait(std::span<const int>(), -1, std::span<bool>()) == Wakeup::WaitResult::kWoken
            ? WaitResult::kWoken
            : WaitResult::kFailed;
    return HasPackets() ? WaitResult::kDataReady : woken;
  }
  bool NextPacketSize(uint32_t* frames) override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    if (script_->packets.empty() && script_->size_fails_after_packets) return false;
    *frames = script_->packets.empty() ? 0 : script_->packets.front().frames;
    return true;
  }
  bool GetPacket(PcmPacket* packet) override {
    if (script_->read_fails) return false;
    std::lock_guard<std::mutex> lock(script_->mutex);
    current_ = std::move(script_->packets.front());
    script_->packets.pop_front();
    packet->data = current_.bytes.data();
    packet->frames = current_.frames;
    packet->silent = current_.silent;
    return true;
  }
  void ReleasePacket(uint32_t) override {}
  void Stop() override { ++script_->stopped; }

 private:
  bool HasPackets() {
    std::lock_guard<std::mutex> lock(script_->mutex);
    return !script_->packets.empty();
  }

  std::shared_ptr<CaptureScript> script_;
  ScriptedPacket current_;
};

inline PcmCaptureFactory ScriptedFactory(std::shared_ptr<CaptureScript> script) {
  return [script] { return std::make_unique<ScriptedCaptureStream>(script); };
}

// A packet of `frames` frames whose samples are given in their raw little-endian form.
template <typename Sample>
ScriptedPacket PacketOf(const std::vector<Sample>& interleaved, uint16_t channels) {
  ScriptedPacket packet;
  packet.bytes.resize(interleaved.size() * sizeof(Sample));
  std::memcpy(packet.bytes.data(), interleaved.data(), packet.bytes.size());
  packet.frames = static_cast<uint32_t>(interleaved.size() / channels);
  return packet;
}

// The format of a 16-bit mono device, like the WAV files espeak-ng writes.
inline PcmCaptureFormat Int16Mono(uint32_t rate) {
  return {PcmEncoding::kSignedInteger, 16, 1, rate, "S16_LE"};
}

// A script that plays a 16-bit mono WAV file's samples in 10 ms packets at the file's rate.
inline std::shared_ptr<CaptureScript> PlayWav(const PcmWav& wav) {
  auto script = std::make_shared<CaptureScript>();
  script->format = Int16Mono(wav.sample_rate);
  const size_t step = wav.sample_rate / 100;
  for (size_t at = 0; at < wav.samples.size(); at += step) {
    const size_t end = std::min(wav.samples.size(), at + step);
    script->packets.push_back(
        PacketOf(std::vector<int16_t>(wav.samples.begin() + static_cast<std::ptrdiff_t>(at),
                                      wav.samples.begin() + static_cast<std::ptrdiff_t>(end)),
                 1));
  }
  return script;
}

}  // namespace kavi::win::testing
