// SPDX-License-Identifier: Apache-2.0
#include <alsa/asoundlib.h>

#include <vector>

#include "platform/audio/alsa_device.h"
#include "platform/audio/pcm_input.h"

namespace kavi::win {
namespace {

// The formats the capture converts itself, best first: the device keeps the one it has, and
// ALSA is never asked to convert.
struct CaptureFormatChoice {
  snd_pcm_format_t format;
  PcmEncoding encoding;
  uint16_t bits;
};
constexpr CaptureFormatChoice kFormatChoices[] = {
    {SND_PCM_FORMAT_FLOAT_LE, PcmEncoding::kFloat, 32},
    {SND_PCM_FORMAT_S32_LE, PcmEncoding::kSignedInteger, 32},
    {SND_PCM_FORMAT_S24_3LE, PcmEncoding::kSignedInteger, 24},
    {SND_PCM_FORMAT_S16_LE, PcmEncoding::kSignedInteger, 16},
};

// The rate asked for when the device has several; a device without it gives its nearest.
constexpr unsigned kPreferredRate = 48000;
// Short periods keep the stop prompt; a long buffer rides out a loaded machine.
constexpr unsigned kPeriodMicroseconds = 20000;
constexpr unsigned kBufferMicroseconds = 500000;

class AlsaCapture final : public PcmCaptureStream {
 public:
  explicit AlsaCapture(std::string device) : device_(std::move(device)) {}
  ~AlsaCapture() override {
    if (pcm_) snd_pcm_close(pcm_);
  }

  bool Open(PcmCaptureFormat* format, std::string* detail) override {
    // Non-blocking: a device that another program holds fails at once instead of waiting.
    int rc = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
      pcm_ = nullptr;
      return Fail("snd_pcm_open", rc, detail);
    }
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if ((rc = snd_pcm_hw_params_any(pcm_, hw)) < 0 ||
        (rc = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
      return Fail("snd_pcm_hw_params_any", rc, detail);
    snd_pcm_hw_params_set_rate_resample(pcm_, hw, 0);

    *format = PcmCaptureFormat{};
    snd_pcm_format_t chosen = SND_PCM_FORMAT_UNKNOWN;
    for (const CaptureFormatChoice& choice : kFormatChoices) {
      if (snd_pcm_hw_params_test_format(pcm_, hw, choice.format) == 0) {
        chosen = choice.format;
        format->encoding = choice.encoding;
        format->bits_per_sample = choice.bits;
        break;
      }
    }
    if (chosen == SND_PCM_FORMAT_UNKNOWN) {
      // None the capture converts: report what the device has, and let the capture refuse it.
      snd_pcm_hw_params_get_format(hw, &chosen);
      format->bits_per_sample = static_cast<uint16_t>(snd_pcm_format_physical_width(chosen));
    }
    unsigned channels = 0;
    unsigned rate = kPreferredRate;
    unsigned period_us = kPeriodMicroseconds;
    unsigned buffer_us = kBufferMicroseconds;
    if ((rc = snd_pcm_hw_params_set_format(pcm_, hw, chosen)) < 0 ||
        (rc = snd_pcm_hw_params_set_channels_first(pcm_, hw, &channels)) < 0 ||
        (rc = snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, nullptr)) < 0 ||
        (rc = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer_us, nullptr)) < 0 ||
        (rc = snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period_us, nullptr)) < 0 ||
        (rc = snd_pcm_hw_params(pcm_, hw)) < 0)
      return Fail("snd_pcm_hw_params", rc, detail);
    format->channels = static_cast<uint16_t>(channels);
    format->sample_rate = rate;
    format->name = snd_pcm_format_name(chosen);
    bytes_per_frame_ = format->BytesPerFrame();
    snd_pcm_uframes_t period = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
    max_packet_frames_ = period > 0 ? static_cast<uint32_t>(period) : rate / 50;
    buffer_.resize(static_cast<size_t>(max_packet_frames_) * bytes_per_frame_);
    return true;
  }

  bool Start(std::string* detail) override {
    int rc = snd_pcm_prepare(pcm_);
    if (rc >= 0) rc = snd_pcm_start(pcm_);
    if (rc < 0) return Fail("snd_pcm_start", rc, detail);
    return true;
  }

  WaitResult Wait(Wakeup& wakeup) override {
    const int count = snd_pcm_poll_descriptors_count(pcm_);
    if (count <= 0) return WaitResult::kFailed;
    std::vector<pollfd> fds(static_cast<size_t>(count));
    if (snd_pcm_poll_descriptors(pcm_, fds.data(), static_cast<unsigned>(count)) != count)
      return WaitResult::kFailed;
    for (;;) {
      switch (wakeup.Wait(fds, -1)) {
        case Wakeup::WaitResult::kWoken:
          return WaitResult::kWoken;
        case Wakeup::WaitResult::kReady:
          break;
        default:
          return WaitResult::kFailed;
      }
      // Some plugins signal through their own descriptors; ALSA translates the events.
      unsigned short revents = 0;
      if (snd_pcm_poll_descriptors_revents(pcm_, fds.data(), static_cast<unsigned>(count),
                                           &revents) < 0)
        return WaitResult::kFailed;
      // An error event is an overrun or a lost device: the packet query tells which.
      if (revents & (POLLIN | POLLERR)) return WaitResult::kDataReady;
    }
  }

  bool NextPacketSize(uint32_t* frames) override {
    snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail == -EPIPE) {
      // An overrun (the machine fell behind): what was lost is lost; capture goes on.
      if (snd_pcm_prepare(pcm_) < 0 || snd_pcm_start(pcm_) < 0) return false;
      *frames = 0;
      return true;
    }
    if (avail < 0) return false;  // unplugged, suspended or otherwise gone
    next_frames_ = std::min<uint32_t>(static_cast<uint32_t>(avail), max_packet_frames_);
    *frames = next_frames_;
    return true;
  }

  bool GetPacket(PcmPacket* packet) override {
    snd_pcm_sframes_t read =
        next_frames_ > 0 ? snd_pcm_readi(pcm_, buffer_.data(), next_frames_) : 0;
    if (read == -EAGAIN) read = 0;
    if (read < 0) return false;
    packet->data = buffer_.data();
    packet->frames = static_cast<uint32_t>(read);
    packet->silent = false;  // ALSA has no such mark
    return true;
  }

  void ReleasePacket(uint32_t) override {}

  void Stop() override {
    if (pcm_) snd_pcm_drop(pcm_);
  }

 private:
  bool Fail(const char* call, int rc, std::string* detail) {
    if (detail) *detail = AlsaFailure(device_, call, rc);
    return false;
  }

  const std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  uint32_t bytes_per_frame_ = 0;
  uint32_t max_packet_frames_ = 0;
  uint32_t next_frames_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<PcmCaptureStream> MakeAlsaCapture(std::string device) {
  SilenceAlsaDiagnostics();
  return std::make_unique<AlsaCapture>(std::move(device));
}

}  // namespace kavi::win
