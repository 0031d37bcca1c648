// SPDX-License-Identifier: Apache-2.0
// Voice input's one owner: it turns start, stop, toggle and cancel commands into a recording,
// has the recording transcribed by the helper on a job thread, tidies the text (polishing by
// the service, the output language, bilingual text) and hands it to the completion notifier,
// which types it for the user. It also runs the model store's download and removal jobs, and
// publishes a status and a progress for the pipe replies and the toolbar.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_record.h"
#include "net/http_cancellation.h"
#include "platform/audio/pcm_input.h"
#include "ports/voice_port.h"
#include "voice/microphone_capture.h"
#include "voice/voice_clock.h"
#include "voice/voice_helper.h"
#include "voice/voice_model_store.h"
#include "voice/voice_output.h"
#include "voice/voice_session.h"

namespace kavi::win {

inline constexpr char kModelJobRunningMessage[] = "語音模型作業正在執行";
inline constexpr char kVoiceBusyMessage[] = "語音工作正在執行";
inline constexpr char kMicrophoneFailedMessage[] = "無法啟動麥克風錄音";
inline constexpr char kNothingToStopMessage[] = "目前沒有可停止的錄音";
inline constexpr char kRecordingTooShortMessage[] = "錄音太短，已取消轉寫";
inline constexpr char kCannotSaveRecordingMessage[] = "無法儲存錄音";
inline constexpr char kTranscriptionJobMessage[] = "無法建立語音轉寫工作";
inline constexpr char kModelChangedMessage[] = "語音模型路徑在錄音期間發生變更";
inline constexpr char kNoSpeechMessage[] = "沒有識別到語音";
inline constexpr char kOnlineEngineMessage[] = "在線引擎不需要下載模型";
inline constexpr char kModelJobThreadMessage[] = "無法建立模型作業";
inline constexpr char kNoModelJobMessage[] = "目前沒有模型下載作業";

inline constexpr char kVoiceHelperProgram[] = "kavi-voice-ggml";
// The helper is stopped after this long without a transcription.
inline constexpr uint64_t kHelperIdleMs = 600000;

enum class VoiceAction { kToggle = 0, kStart = 1, kStop = 2, kCancel = 3 };

struct VoiceControllerOptions {
  std::filesystem::path program_dir;  // where kavi-voice-ggml lies
  std::filesystem::path models_dir;
  std::filesystem::path temp_dir;  // recordings
  std::filesystem::path log_dir;   // the helper's standard error
  // The helper's signature is checked against these (see platform/signature).
  std::vector<std::filesystem::path> trust_anchors;
  // Where the service is; null: no service (no polishing, translation or model downloads).
  ServiceLocator service;
  // Takes the finished text (ok) or the failure's message; `origin` is the flag of the start.
  std::function<void(bool ok, const std::string& text, bool origin)> notifier;
  ScriptConverter converter;  // may be empty
  // Reads the current configuration for ReloadSettings; null: the last one given stays.
  std::function<bool(ConfigRecord* config)> load_settings;
  PcmCaptureFactory microphone;
  const VoiceClock* clock = &SystemVoiceClock();
};

class VoiceController final : public VoicePort {
 public:
  explicit VoiceController(VoiceControllerOptions options);
  ~VoiceController() override;
  VoiceController(const VoiceController&) = delete;
  VoiceController& operator=(const VoiceController&) = delete;

  void UpdateConfig(const ConfigRecord& config);
  // Toggle, start, stop or cancel; `origin` comes back with the text to the notifier.
  bool Dispatch(int action, bool origin, std::string* error);
  uint32_t Status() const { return status_; }
  uint32_t Progress() const { return progress_; }
  VoiceState session_state() const;
  // Ends everything: the recording, the job, the idle thread and the helper. Idempotent.
  void Shutdown();
  // The running helper's process id, 0 when none.
  uint32_t helper_process_id() { return helper_.process_id(); }

  // VoicePort.
  bool ReloadSettings() override;
  bool Command(int command, bool alternate, std::string* message) override;
  bool StartModelJob(bool download, const std::string& model, std::string* message) override;
  bool CancelModelJob(bool alternate) override;
  void StateWords(uint32_t* value, uint32_t* cursor_word) override;

 private:
  bool Start(bool origin, std::string* error);
  bool Stop(std::string* error);
  bool Cancel(std::string* error);
  void OnMicrophone(uint64_t session_id, bool ok, const std::string& message);
  struct Job {
    uint64_t session_id = 0;
    std::filesystem::path wav;
    ConfigRecord config;
    bool origin = false;
    std::filesystem::path model;
  };
  void Transcribe(Job job);
  // The transcription's text, tidied; false with the failure's message.
  bool Recognise(const Job& job, std::string* text);
  void RunModelJob(std::string engine, bool remove);
  // Joins the job thread when its job has ended (job_thread_mutex_ held).
  void ReapJobThread();
  // Starts `body` on the job thread; false when the thread cannot be made.
  bool StartJobThread(std::function<void()> body);
  void IdleLoop();
  std::filesystem::path HelperPath() const;
  void SetStatus(VoiceStatus status) { status_ = static_cast<uint32_t>(status); }

  const VoiceControllerOptions options_;
  const VoiceClock& clock_;
  VoiceModelStore store_;
  MicrophoneCapture capture_;
  VoiceHelper helper_;

  mutable std::mutex mutex_;  // guards the fields below up to the atomics
  VoiceSession session_;
  ConfigRecord config_;
  bool origin_ = false;
  std::filesystem::path model_path_;
  bool shutting_down_ = false;
  uint64_t last_helper_use_ = 0;  // 0: no idle deadline pending
  std::condition_variable idle_changed_;

  std::mutex job_thread_mutex_;  // guards the thread handle
  std::thread job_thread_;
  std::atomic<bool> job_running_{false};
  std::atomic<bool> job_cancel_{false};
  std::atomic<uint8_t> download_cancel_{0};
  std::atomic<bool> remove_partial_{false};
  HttpCancellation job_http_;
  std::atomic<uint32_t> status_{0};
  std::atomic<uint32_t> progress_{0};
  std::thread idle_thread_;
};

}  // namespace kavi::win
