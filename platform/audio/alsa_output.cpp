// SPDX-License-Identifier: Apache-2.0
#include <alsa/asoundlib.h>

#include "platform/audio/alsa_device.h"
#include "platform/audio/pcm_output.h"

namespace kavi::win {
namespace {

// Four periods of buffer: a click starts within one period, and the mixer thread has three
// periods of slack before the device runs dry.
constexpr unsigned kPeriodsPerBuffer = 4;

class AlsaOutput final : public PcmOutput {
 public:
  explicit AlsaOutput(std::string device) : device_(std::move(device)) {}
  ~AlsaOutput() override {
    if (pcm_) snd_pcm_close(pcm_);
  }

  bool Open(uint32_t sample_rate, uint16_t channels, size_t period_frames,
            std::string* message) override {
    int rc = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (rc < 0) return Fail("snd_pcm_open", rc, message);
    channels_ = channels;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_uframes_t period = period_frames;
    snd_pcm_uframes_t buffer = period_frames * kPeriodsPerBuffer;
    unsigned rate = sample_rate;
    if ((rc = snd_pcm_hw_params_any(pcm_, hw)) < 0 ||
        (rc = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (rc = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
        (rc = snd_pcm_hw_params_set_channels(pcm_, hw, channels)) < 0 ||
        (rc = snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, nullptr)) < 0 ||
        (rc = snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, nullptr)) < 0 ||
        (rc = snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer)) < 0 ||
        (rc = snd_pcm_hw_params(pcm_, hw)) < 0)
      return Fail("snd_pcm_hw_params", rc, message);
    if (message) message->clear();
    return true;
  }

  bool Write(const int16_t* frames, size_t frame_count) override {
    while (frame_count > 0) {
      snd_pcm_sframes_t written = snd_pcm_writei(pcm_, frames, frame_count);
      if (written < 0) {
        // An underrun (the stream ran dry after a pause) or a suspend: restart and go on.
        if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) return false;
        continue;
      }
      frames += static_cast<size_t>(written) * channels_;
      frame_count -= static_cast<size_t>(written);
    }
    return true;
  }

  void Pause() override {
    snd_pcm_drain(pcm_);
    snd_pcm_prepare(pcm_);
  }

 private:
  bool Fail(const char* call, int rc, std::string* message) {
    if (message) *message = AlsaFailure(device_, call, rc);
    if (pcm_) snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return false;
  }

  std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  uint16_t channels_ = 1;
};

}  // namespace

std::unique_ptr<PcmOutput> MakeAlsaOutput(std::string device) {
  SilenceAlsaDiagnostics();
  return std::make_unique<AlsaOutput>(std::move(device));
}

}  // namespace kavi::win
