// SPDX-License-Identifier: Apache-2.0
// Recording from the microphone: a capture thread keeps the speech in memory as mono float
// samples at the device's rate, up to five minutes; on stop they are resampled to 16 kHz and
// written as the WAV file that the recogniser reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/pcm_input.h"
#include "platform/wakeup.h"

namespace kavi::win {

inline constexpr char kCaptureActiveMessage[] = "audio capture is already active";
inline constexpr char kCaptureThreadMessage[] = "cannot create audio capture thread";
inline constexpr char kOpenMicrophoneMessage[] = "cannot open the default microphone";
inline constexpr char kUnsupportedFormatMessage[] = "unsupported microphone sample format";
inline constexpr char kStartCaptureMessage[] = "cannot start microphone capture";
inline constexpr char kMicrophoneWaitMessage[] = "microphone wait failed";
inline constexpr char kMicrophoneGoneMessage[] = "microphone device became unavailable";
inline constexpr char kReadSamplesMessage[] = "cannot read microphone samples";
inline constexpr char kRecordingTooLongMessage[] = "recording exceeded five minutes";
inline constexpr char kCaptureCancelledMessage[] = "audio capture cancelled";

inline constexpr uint64_t kMaxRecordingSeconds = 300;

class MicrophoneCapture {
 public:
  // Called once on the capture thread: whether the microphone opened, with the failure's
  // message. A failure after the opening (the device lost) calls it again with ok false.
  using StartNotification =
      std::function<void(uint64_t session_id, bool ok, const std::string& message)>;

  // `streams` makes the device stream of each recording.
  explicit MicrophoneCapture(PcmCaptureFactory streams);
  ~MicrophoneCapture();
  MicrophoneCapture(const MicrophoneCapture&) = delete;
  MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

  // Starts the capture thread and returns at once; the device is opened on the thread and the
  // outcome reported through `notification`. False while a capture runs.
  bool Start(uint64_t session_id, StartNotification notification, std::string* error);
  // Ends the capture and writes what it recorded, at 16 kHz, to `wav`.
  bool StopAndSave(const std::filesystem::path& wav, std::string* error);
  // Ends the capture and drops the recording.
  void Cancel();

 private:
  void Capture(uint64_t session_id, StartNotification notification);
  // Records the failure and tells the notification.
  void Fail(uint64_t session_id, const StartNotification& notification, const char* message,
            const std::string& detail);
  void EndThread();

  const PcmCaptureFactory streams_;
  // Serialises Start, StopAndSave and Cancel, which join the thread.
  std::mutex control_mutex_;
  std::thread thread_;
  Wakeup stop_wakeup_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> capturing_{false};

  std::mutex mutex_;  // guards the fields below
  std::vector<float> samples_;
  uint32_t sample_rate_ = 0;
  std::string error_;
  bool cancel_requested_ = false;
};

}  // namespace kavi::win
