// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_controller.h"

#include <algorithm>
#include <system_error>

#include "net/kavi_api_client.h"
#include "net/win_http_client.h"
#include "platform/directories.h"
#include "platform/log.h"
#include "voice/helper_protocol.h"
#include "voice/helper_signature.h"

namespace kavi::win {
namespace {

constexpr char kRecordingPrefix[] = "voice-";
constexpr char kRecordingSuffix[] = ".wav";

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool Succeed(std::string* error) {
  if (error) error->clear();
  return true;
}

// The service, when one is configured: its HTTPS client and API client for one job.
class ServiceSession {
 public:
  explicit ServiceSession(const ServiceEndpoints& endpoints)
      : http_([&] {
          HttpClientOptions options;
          options.extra_ca_bundle = endpoints.extra_ca_bundle;
          return options;
        }()),
        api_(http_, endpoints.service_base_url) {}
  const KaviApiClient& api() const { return api_; }

 private:
  WinHttpClient http_;
  KaviApiClient api_;
};

}  // namespace

VoiceController::VoiceController(VoiceControllerOptions options)
    : options_(std::move(options)),
      clock_(*options_.clock),
      store_(options_.models_dir, options_.service),
      capture_(options_.microphone),
      helper_(options_.log_dir, options_.trust_anchors, clock_),
      idle_thread_(&VoiceController::IdleLoop, this) {}

VoiceController::~VoiceController() {
  Shutdown();
}

std::filesystem::path VoiceController::HelperPath() const {
  return options_.program_dir / kVoiceHelperProgram;
}

void VoiceController::UpdateConfig(const ConfigRecord& config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = config;
}

VoiceState VoiceController::session_state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_.state();
}

bool VoiceController::ReloadSettings() {
  if (!options_.load_settings) return true;
  ConfigRecord config;
  if (!options_.load_settings(&config)) return false;
  UpdateConfig(config);
  return true;
}

bool VoiceController::Command(int command, bool alternate, std::string* message) {
  return Dispatch(command, alternate, message);
}

void VoiceController::StateWords(uint32_t* value, uint32_t* cursor_word) {
  *value = Status();
  *cursor_word = Progress();
}

bool VoiceController::Dispatch(int action, bool origin, std::string* error) {
  switch (static_cast<VoiceAction>(action)) {
    case VoiceAction::kToggle: {
      bool idle;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        idle = session_.state() == VoiceState::kIdle;
      }
      return idle ? Start(origin, error) : Stop(error);
    }
    case VoiceAction::kStart:
      return Start(origin, error);
    case VoiceAction::kStop:
      return Stop(error);
    case VoiceAction::kCancel:
      return Cancel(error);
  }
  return false;
}

bool VoiceController::Start(bool origin, std::string* error) {
  {
    std::lock_guard<std::mutex> threads(job_thread_mutex_);
    ReapJobThread();
  }
  VoiceTransition begun;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job_running_) return Fail(error, kModelJobRunningMessage);
    begun = session_.Begin();
    if (begun.event == VoiceEvent::kNone) return Fail(error, kVoiceBusyMessage);
    origin_ = origin;
    model_path_.clear();
    std::string message;
    if (!store_.Resolve(config_.app.voice_engine, &model_path_, &message) ||
        !VerifyHelperSignature(HelperPath(), options_.trust_anchors, &message)) {
      session_.Reset();
      SetStatus(VoiceStatus::kFailed);
      return Fail(error, message);
    }
    SetStatus(VoiceStatus::kStarting);
  }
  std::string message;
  if (!capture_.Start(
          begun.session_id,
          [this](uint64_t id, bool ok, const std::string& text) { OnMicrophone(id, ok, text); },
          &message)) {
    std::lock_guard<std::mutex> lock(mutex_);
    session_.Reset();
    SetStatus(VoiceStatus::kFailed);
    return Fail(error, message);
  }
  return Succeed(error);
}

void VoiceController::OnMicrophone(uint64_t session_id, bool ok, const std::string& message) {
  if (ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_.MicStarted(session_id, clock_.NowMs()).event == VoiceEvent::kMicStarted)
      SetStatus(VoiceStatus::kRecording);
    return;
  }
  bool existed;
  bool origin;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    existed = session_.Reset().event != VoiceEvent::kNone;
    origin = origin_;
    SetStatus(VoiceStatus::kFailed);
  }
  if (existed && options_.notifier)
    options_.notifier(false, message.empty() ? kMicrophoneFailedMessage : message, origin);
}

bool VoiceController::Stop(std::string* error) {
  VoiceTransition stopped;
  Job job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped = session_.Stop(clock_.NowMs());
    job.config = config_;
    job.origin = origin_;
    job.model = model_path_;
  }
  switch (stopped.event) {
    case VoiceEvent::kAborted:
    case VoiceEvent::kTooShort:
      capture_.Cancel();
      if (stopped.event == VoiceEvent::kTooShort) {
        SetStatus(VoiceStatus::kFailed);
        if (error) *error = kRecordingTooShortMessage;
      } else {
        SetStatus(VoiceStatus::kIdle);
        if (error) error->clear();
      }
      return true;
    case VoiceEvent::kTranscribe:
      break;
    default:
      return Fail(error, kNothingToStopMessage);
  }
  job.session_id = stopped.session_id;
  std::string ignored;
  CreateDirectories(options_.temp_dir, kPrivateDirectoryMode, &ignored);
  job.wav = options_.temp_dir /
            (kRecordingPrefix + std::to_string(stopped.session_id) + kRecordingSuffix);
  std::string message;
  if (!capture_.StopAndSave(job.wav, &message)) {
    std::lock_guard<std::mutex> lock(mutex_);
    session_.Finished(stopped.session_id, false);
    SetStatus(VoiceStatus::kFailed);
    return Fail(error, message.empty() ? kCannotSaveRecordingMessage : message);
  }
  job_running_ = true;
  SetStatus(VoiceStatus::kTranscribing);
  if (!StartJobThread([this, job = std::move(job)]() mutable { Transcribe(std::move(job)); })) {
    job_running_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    session_.Finished(stopped.session_id, false);
    SetStatus(VoiceStatus::kFailed);
    return Fail(error, kTranscriptionJobMessage);
  }
  return Succeed(error);
}

bool VoiceController::Cancel(std::string* error) {
  bool existed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    existed = session_.Reset().event != VoiceEvent::kNone;
  }
  if (existed) {
    capture_.Cancel();
    SetStatus(VoiceStatus::kIdle);
  }
  return Succeed(error);
}

void VoiceController::ReapJobThread() {
  if (job_thread_.joinable() && !job_running_) job_thread_.join();
}

bool VoiceController::StartJobThread(std::function<void()> body) {
  std::lock_guard<std::mutex> threads(job_thread_mutex_);
  // The previous job said it ended; its thread is about to.
  if (job_thread_.joinable()) job_thread_.join();
  try {
    job_thread_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void VoiceController::Transcribe(Job job) {
  job_http_.Rearm();
  std::string text;
  const bool ok = Recognise(job, &text);
  std::error_code ignored;
  std::filesystem::remove(job.wav, ignored);
  VoiceTransition finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished = session_.Finished(job.session_id, ok);
    SetStatus(ok ? VoiceStatus::kSucceeded : VoiceStatus::kFailed);
  }
  job_running_ = false;
  // A session cancelled meanwhile gets no text.
  if ((finished.event == VoiceEvent::kSucceeded || finished.event == VoiceEvent::kFailed) &&
      options_.notifier)
    options_.notifier(ok, text, job.origin);
}

bool VoiceController::Recognise(const Job& job, std::string* text) {
  const std::string& engine = job.config.app.voice_engine;
  const std::string word = engine == kQwenEngine ? kQwenEngineWord : kSenseVoiceEngineWord;
  std::filesystem::path model;
  if (!store_.Resolve(engine, &model, text)) return false;
  if (model != job.model) return Fail(text, kModelChangedMessage);
  std::string recognised;
  if (!helper_.Transcribe(HelperPath(), word, model, job.wav, kAutoLanguage, &recognised, text))
    return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last_helper_use_ = clock_.NowMs();
  }
  idle_changed_.notify_all();
  recognised = TrimVoiceText(recognised);
  if (recognised.empty()) return Fail(text, kNoSpeechMessage);

  const ServiceEndpoints endpoints = options_.service ? options_.service() : ServiceEndpoints{};
  if (endpoints.service_base_url.empty()) {
    *text = ApplyOutputLanguage(recognised, job.config.app.voice_output_language,
                                job.config.app.voice_bilingual, options_.converter, nullptr);
    return true;
  }
  const ServiceSession service(endpoints);
  if (job.config.app.voice_polish) {
    std::string polished, error;
    if (service.api().PolishVoiceText(recognised, VoicePolishOptions{}, &polished, &error,
                                      &job_http_) &&
        !TrimVoiceText(polished).empty())
      recognised = TrimVoiceText(polished);
    else
      LogLine("[Kavi] 語音潤色失敗，降級使用原文\n");
  }
  const TextTranslator translator = [&](const std::string& source, const std::string& target,
                                        std::string* translation, std::string* error) {
    return service.api().Translate(source, "to", target, translation, error, &job_http_);
  };
  *text = ApplyOutputLanguage(recognised, job.config.app.voice_output_language,
                              job.config.app.voice_bilingual, options_.converter, translator);
  return true;
}

bool VoiceController::StartModelJob(bool download, const std::string& model,
                                    std::string* message) {
  {
    std::lock_guard<std::mutex> threads(job_thread_mutex_);
    ReapJobThread();
  }
  std::string engine;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_.state() != VoiceState::kIdle || job_running_)
      return Fail(message, kVoiceBusyMessage);
    engine = model.empty() ? config_.app.voice_engine : model;
    if (!IsModelEngine(engine)) return Fail(message, kOnlineEngineMessage);
    job_running_ = true;
  }
  job_cancel_ = false;
  download_cancel_ = 0;
  remove_partial_ = false;
  progress_ = 0;
  SetStatus(VoiceStatus::kModelJob);
  if (!StartJobThread([this, engine, download] { RunModelJob(engine, !download); })) {
    job_running_ = false;
    SetStatus(VoiceStatus::kFailed);
    return Fail(message, kModelJobThreadMessage);
  }
  return Succeed(message);
}

void VoiceController::RunModelJob(std::string engine, bool remove) {
  job_http_.Rearm();
  std::string error;
  bool ok;
  if (remove) {
    helper_.Stop();  // it may hold the model open
    ok = store_.Remove(engine, &error);
  } else {
    ok = store_.Download(
        engine, &download_cancel_, &job_http_,
        [this](uint64_t done, uint64_t total) {
          progress_ = total == 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(100, done * 100 / total));
        },
        &error);
  }
  if (ok) {
    SetStatus(VoiceStatus::kSucceeded);
  } else if (job_cancel_) {
    std::string ignored;
    if (remove_partial_) {
      store_.RemovePartial(engine, &ignored);
      SetStatus(VoiceStatus::kIdle);
    } else {
      SetStatus(VoiceStatus::kModelJobCancelled);
    }
  } else {
    SetStatus(VoiceStatus::kFailed);
    LogLine("[Kavi] 語音模型作業失敗：" + error + "\n");
  }
  job_running_ = false;
}

bool VoiceController::CancelModelJob(bool alternate) {
  if (!job_running_ || Status() != static_cast<uint32_t>(VoiceStatus::kModelJob)) return false;
  remove_partial_ = alternate;
  job_cancel_ = true;
  download_cancel_ = 1;
  job_http_.Cancel();
  return true;
}

void VoiceController::IdleLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!shutting_down_) {
    if (last_helper_use_ == 0) {
      idle_changed_.wait(lock);
      continue;
    }
    const uint64_t deadline = last_helper_use_ + kHelperIdleMs;
    if (clock_.NowMs() >= deadline) {
      last_helper_use_ = 0;
      lock.unlock();
      helper_.Stop();  // waits for a transcription in progress
      lock.lock();
      continue;
    }
    clock_.WaitUntil(idle_changed_, lock, deadline);
  }
}

void VoiceController::Shutdown() {
  job_cancel_ = true;
  download_cancel_ = 1;
  job_http_.Cancel();
  helper_.Abort();
  capture_.Cancel();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_.Reset();
  }
  {
    std::lock_guard<std::mutex> threads(job_thread_mutex_);
    if (job_thread_.joinable()) job_thread_.join();
  }
  job_running_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutting_down_ = true;
  }
  idle_changed_.notify_all();
  if (idle_thread_.joinable()) idle_thread_.join();
  helper_.Stop();
}

}  // namespace kavi::win
