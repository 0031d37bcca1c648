// SPDX-License-Identifier: Apache-2.0
// The client of the recogniser helper: it starts the signed helper program as a child with the
// engine word and the model file, waits for "READY", sends one request line per recording and
// reads one reply line, strictly one request at a time. The helper stays running between
// recordings so that the model is loaded once; any failure after it started stops it, so that
// the next request starts a fresh one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "voice/helper_protocol.h"
#include "voice/voice_clock.h"

namespace kavi::win {

inline constexpr char kHelperArgumentsMessage[] = "helper 轉寫參數無效";
inline constexpr char kHelperPathMessage[] = "錄音路徑無法編碼為 UTF-8";
inline constexpr char kHelperPipesMessage[] = "無法建立 helper 管道";
inline constexpr char kHelperStartMessage[] = "無法啟動本機語音 helper";
inline constexpr char kHelperRefusedMessage[] = "helper 拒絕啟動：";
inline constexpr char kHelperHandshakeMessage[] = "helper READY 握手失敗";
inline constexpr char kHelperExitedMessage[] = "helper 已意外退出";
inline constexpr char kHelperPipeReadMessage[] = "無法讀取 helper 管道";
inline constexpr char kHelperReadMessage[] = "讀取 helper 回應失敗";
inline constexpr char kHelperTooLargeMessage[] = "helper 回應超過大小限制";
inline constexpr char kHelperTimeoutMessage[] = "helper 回應逾時";
inline constexpr char kHelperRequestMessage[] = "helper 請求無效";
inline constexpr char kHelperWriteMessage[] = "寫入 helper 管道失敗";
inline constexpr char kHelperFailedMessage[] = "本機語音轉寫失敗：";
inline constexpr char kHelperInvalidReplyMessage[] = "本機語音 helper 回應無效";

inline constexpr char kHelperStderrLogName[] = "voice-helper.stderr.log";
// The longest the reply pipe is waited on before the child's life and the deadline are
// checked again.
inline constexpr int kHelperPollMs = 5;

class VoiceHelper {
 public:
  // The helper's standard error is appended to "voice-helper.stderr.log" in `log_dir`; its
  // signature is checked against `trust_anchors` before every start.
  VoiceHelper(std::filesystem::path log_dir, std::vector<std::filesystem::path> trust_anchors,
              const VoiceClock& clock = SystemVoiceClock());
  ~VoiceHelper();
  VoiceHelper(const VoiceHelper&) = delete;
  VoiceHelper& operator=(const VoiceHelper&) = delete;

  // Transcribes the WAV file with the helper `executable` started as `executable engine model`
  // (a running one is reused when all three match). `text` receives the recognised text.
  bool Transcribe(const std::filesystem::path& executable, const std::string& engine,
                  const std::filesystem::path& model, const std::filesystem::path& wav,
                  const std::string& language, std::string* text, std::string* error);
  // Ends the running helper, if any (after the request in progress).
  void Stop();
  // Kills the running helper at once, so that a request in progress fails now (shutdown).
  void Abort();
  // The running helper's process id; 0 when none runs.
  uint32_t process_id();

 private:
  bool EnsureStarted(const std::filesystem::path& executable, const std::string& engine,
                     const std::filesystem::path& model, std::string* error);
  bool ReadLine(uint64_t timeout_ms, std::string* line, std::string* error);
  void StopLocked();

  const std::filesystem::path log_dir_;
  const std::vector<std::filesystem::path> trust_anchors_;
  const VoiceClock& clock_;
  ProcessLauncher launcher_;

  std::mutex mutex_;  // serialises requests; guards everything below
  std::unique_ptr<ChildProcess> child_;
  // The same child for Abort, which must not wait for a request; changed with both locks held.
  std::mutex abort_mutex_;
  ChildProcess* abortable_ = nullptr;
  std::filesystem::path executable_;
  std::filesystem::path model_;
  std::string engine_;
  ReplyBuffer buffer_;
};

}  // namespace kavi::win
