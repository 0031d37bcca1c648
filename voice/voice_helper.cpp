// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_helper.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "platform/directories.h"
#include "platform/log.h"
#include "platform/process.h"
#include "text/utf8.h"
#include "voice/helper_signature.h"

namespace kavi::win {

VoiceHelper::VoiceHelper(std::filesystem::path log_dir,
                         std::vector<std::filesystem::path> trust_anchors, const VoiceClock& clock)
    : log_dir_(std::move(log_dir)), trust_anchors_(std::move(trust_anchors)), clock_(clock) {
  // A helper that dies while a request is written must fail the write, not end the server.
  IgnoreBrokenPipeSignal();
}

VoiceHelper::~VoiceHelper() {
  Stop();
}

void VoiceHelper::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  StopLocked();
}

uint32_t VoiceHelper::process_id() {
  std::lock_guard<std::mutex> lock(mutex_);
  return child_ && child_->Running() ? static_cast<uint32_t>(child_->pid()) : 0;
}

void VoiceHelper::Abort() {
  std::lock_guard<std::mutex> lock(abort_mutex_);
  if (abortable_) abortable_->Terminate();
}

void VoiceHelper::StopLocked() {
  {
    std::lock_guard<std::mutex> lock(abort_mutex_);
    abortable_ = nullptr;
  }
  child_.reset();  // closes the pipes and kills the process group
  executable_.clear();
  model_.clear();
  engine_.clear();
  buffer_.Clear();
}

bool VoiceHelper::EnsureStarted(const std::filesystem::path& executable, const std::string& engine,
                                const std::filesystem::path& model, std::string* error) {
  if (child_ && executable_ == executable && model_ == model && engine_ == engine &&
      child_->Running())
    return true;
  StopLocked();
  if (!VerifyHelperSignature(executable, trust_anchors_, error)) return false;

  ChildCommand command;
  command.program = executable;
  command.args = {engine, model.string()};
  command.working_directory = executable.parent_path();
  std::string ignored;
  if (CreateDirectories(log_dir_, kPrivateDirectoryMode, &ignored))
    command.stderr_log = log_dir_ / kHelperStderrLogName;
  ProcessLauncher::Failure failure = ProcessLauncher::Failure::kNone;
  std::string detail;
  child_ = launcher_.Launch(command, &failure, &detail);
  if (!child_) {
    LogLine("[Kavi] " + detail + "\n");
    *error =
        failure == ProcessLauncher::Failure::kPipes ? kHelperPipesMessage : kHelperStartMessage;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(abort_mutex_);
    abortable_ = child_.get();
  }
  executable_ = executable;
  model_ = model;
  engine_ = engine;
  buffer_.Clear();

  std::string line;
  std::string rest;
  const bool read = ReadLine(kReadyTimeoutMs, &line, error);
  const LineKind kind = read ? ClassifyHelperLine(line, &rest) : LineKind::kOther;
  if (kind == LineKind::kReady) return true;
  StopLocked();
  *error = kind == LineKind::kError ? kHelperRefusedMessage + rest : kHelperHandshakeMessage;
  return false;
}

bool VoiceHelper::ReadLine(uint64_t timeout_ms, std::string* line, std::string* error) {
  const uint64_t deadline = clock_.NowMs() + timeout_ms;
  for (;;) {
    if (std::optional<std::string> taken = buffer_.TakeLine()) {
      *line = std::move(*taken);
      return true;
    }
    if (!child_) {
      *error = kHelperExitedMessage;
      return false;
    }
    // What the child wrote before it ended is read first: a helper that refuses to start
    // writes its reason and exits at once.
    std::string bytes;
    const ChildProcess::ReadResult result = child_->Read(kHelperPollMs, kPipePieceBytes, &bytes);
    switch (result) {
      case ChildProcess::ReadResult::kData:
        if (!buffer_.Append(bytes)) {
          *error = kHelperTooLargeMessage;
          return false;
        }
        break;
      case ChildProcess::ReadResult::kWaitFailed:
        *error = kHelperPipeReadMessage;
        return false;
      case ChildProcess::ReadResult::kReadFailed:
        *error = kHelperReadMessage;
        return false;
      case ChildProcess::ReadResult::kEnded:
      case ChildProcess::ReadResult::kNoData:
        if (!child_->Running()) {
          *error = kHelperExitedMessage;
          return false;
        }
        // A child that closed its output but lives on may still end: look again shortly.
        if (result == ChildProcess::ReadResult::kEnded)
          std::this_thread::sleep_for(std::chrono::milliseconds(kHelperPollMs));
        break;
    }
    if (clock_.NowMs() > deadline) {
      *error = kHelperTimeoutMessage;
      return false;
    }
  }
}

bool VoiceHelper::Transcribe(const std::filesystem::path& executable, const std::string& engine,
                             const std::filesystem::path& model, const std::filesystem::path& wav,
                             const std::string& language, std::string* text, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == nullptr || language.find_first_of("\r\n\t") != std::string::npos ||
      !IsHelperEngineWord(engine)) {
    *error = kHelperArgumentsMessage;
    return false;
  }
  const std::string path = wav.string();
  if (path.empty() || !IsValidUtf8(path) || path.find_first_of("\r\n\t") != std::string::npos) {
    *error = kHelperPathMessage;
    return false;
  }
  if (!EnsureStarted(executable, engine, model, error)) return false;
  const std::optional<std::string> request = RequestLine(path, language);
  if (!request) {
    *error = kHelperRequestMessage;
    return false;
  }
  if (!child_->Write(*request, kPipePieceBytes)) {
    StopLocked();
    *error = kHelperWriteMessage;
    return false;
  }
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(wav, ec);
  std::string line;
  if (!ReadLine(ReplyTimeoutMs(ec ? std::nullopt : std::optional<uint64_t>(size)), &line, error)) {
    StopLocked();
    return false;
  }
  std::string rest;
  switch (ClassifyHelperLine(line, &rest)) {
    case LineKind::kOk:
      *text = std::move(rest);
      error->clear();
      return true;
    case LineKind::kError:
      StopLocked();
      *error = kHelperFailedMessage + rest;
      return false;
    default:
      StopLocked();
      *error = kHelperInvalidReplyMessage;
      return false;
  }
}

}  // namespace kavi::win
