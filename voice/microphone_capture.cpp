// SPDX-License-Identifier: Apache-2.0
#include "voice/microphone_capture.h"

#include <algorithm>
#include <system_error>

#include "platform/log.h"
#include "voice/capture_samples.h"
#include "voice/resampler.h"
#include "voice/wav_file.h"

namespace kavi::win {

MicrophoneCapture::MicrophoneCapture(PcmCaptureFactory streams) : streams_(std::move(streams)) {}

MicrophoneCapture::~MicrophoneCapture() {
  Cancel();
}

bool MicrophoneCapture::Start(uint64_t session_id, StartNotification notification,
                              std::string* error) {
  std::lock_guard<std::mutex> control(control_mutex_);
  // A capture that ended by itself (a failure, the five-minute cap) is reaped first.
  if (thread_.joinable() && !capturing_) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stop_wakeup_.valid() || thread_.joinable()) {
    if (error) *error = kCaptureActiveMessage;
    return false;
  }
  stop_requested_ = false;
  samples_.clear();
  sample_rate_ = 0;
  error_.clear();
  cancel_requested_ = false;
  capturing_ = true;
  try {
    thread_ = std::thread(&MicrophoneCapture::Capture, this, session_id, std::move(notification));
  } catch (const std::system_error&) {
    capturing_ = false;
    if (error) *error = kCaptureThreadMessage;
    return false;
  }
  if (error) error->clear();
  return true;
}

bool MicrophoneCapture::StopAndSave(const std::filesystem::path& wav, std::string* error) {
  std::vector<float> samples;
  uint32_t rate = 0;
  std::string stored_error;
  bool cancelled = false;
  {
    std::lock_guard<std::mutex> control(control_mutex_);
    EndThread();
    std::lock_guard<std::mutex> lock(mutex_);
    samples.swap(samples_);
    rate = sample_rate_;
    stored_error.swap(error_);
    cancelled = cancel_requested_;
    sample_rate_ = 0;
    cancel_requested_ = false;
  }
  if (cancelled || !stored_error.empty()) {
    if (error) *error = cancelled ? kCaptureCancelledMessage : stored_error;
    return false;
  }
  std::vector<float> resampled = ResampleLinear(samples, rate, kRecogniserSampleRate);
  return WritePcmWav(wav, resampled, kRecogniserSampleRate, error);
}

void MicrophoneCapture::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_requested_ = true;
  }
  std::lock_guard<std::mutex> control(control_mutex_);
  EndThread();
  std::lock_guard<std::mutex> lock(mutex_);
  samples_.clear();
  samples_.shrink_to_fit();
  sample_rate_ = 0;
  error_.clear();
  cancel_requested_ = false;
}

void MicrophoneCapture::EndThread() {
  stop_requested_ = true;
  stop_wakeup_.Wake();
  if (thread_.joinable()) thread_.join();
}

void MicrophoneCapture::Fail(uint64_t session_id, const StartNotification& notification,
                             const char* message, const std::string& detail) {
  if (!detail.empty()) LogLine("[Kavi] " + detail + "\n");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = message;
  }
  if (notification) notification(session_id, false, message);
}

void MicrophoneCapture::Capture(uint64_t session_id, StartNotification notification) {
  std::unique_ptr<PcmCaptureStream> stream = streams_ ? streams_() : nullptr;
  PcmCaptureFormat format;
  std::string detail;
  if (!stream || !stream->Open(&format, &detail)) {
    Fail(session_id, notification, kOpenMicrophoneMessage, detail);
  } else if (!IsCapturableFormat(format)) {
    Fail(session_id, notification, kUnsupportedFormatMessage,
         "microphone format " + format.name + " is not one the recording converts");
  } else if (!stream->Start(&detail)) {
    Fail(session_id, notification, kStartCaptureMessage, detail);
  } else {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sample_rate_ = format.sample_rate;
    }
    if (notification) notification(session_id, true, std::string());
    const uint64_t cap = static_cast<uint64_t>(format.sample_rate) * kMaxRecordingSeconds;
    bool running = true;
    while (running && !stop_requested_) {
      switch (stream->Wait(stop_wakeup_)) {
        case PcmCaptureStream::WaitResult::kWoken:
          continue;  // a stop, or a wake-up left over from an earlier one
        case PcmCaptureStream::WaitResult::kFailed:
          Fail(session_id, notification, kMicrophoneWaitMessage, std::string());
          running = false;
          continue;
        case PcmCaptureStream::WaitResult::kDataReady:
          break;
      }
      // A device that delivers faster than it is read (ALSA's null device) would keep the
      // drain going forever: a stop ends it too.
      while (!stop_requested_) {
        uint32_t frames = 0;
        if (!stream->NextPacketSize(&frames)) {
          Fail(session_id, notification, kMicrophoneGoneMessage, std::string());
          running = false;
          break;
        }
        if (frames == 0) break;
        PcmPacket packet;
        if (!stream->GetPacket(&packet)) {
          Fail(session_id, notification, kReadSamplesMessage, std::string());
          running = false;
          break;
        }
        bool capped = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          const uint64_t held = samples_.size();
          const uint64_t room = cap > held ? cap - held : 0;
          const uint32_t taken = static_cast<uint32_t>(std::min<uint64_t>(packet.frames, room));
          AppendMonoSamples(format, packet.data, taken, packet.silent, &samples_);
          if (taken < packet.frames) {
            // Noticed at StopAndSave: the notification is not called.
            error_ = kRecordingTooLongMessage;
            capped = true;
          }
        }
        stream->ReleasePacket(packet.frames);
        if (capped) {
          running = false;
          break;
        }
      }
    }
    stream->Stop();
  }
  stream.reset();
  capturing_ = false;
  // The notification (and what it holds) ends with the thread.
  notification = nullptr;
}

}  // namespace kavi::win
