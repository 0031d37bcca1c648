// SPDX-License-Identifier: Apache-2.0
// One dictation from start to text, as a small state machine: Idle → Starting (the microphone
// opens) → Recording → Transcribing → Idle. Each transition reports an event and the session
// it concerns, so that late results of an earlier session are told apart.
#pragma once

#include <cstdint>

namespace kavi::win {

enum class VoiceState : uint32_t { kIdle = 0, kStarting = 1, kRecording = 2, kTranscribing = 3 };

enum class VoiceEvent : uint32_t {
  kNone = 0,  // nothing changed (Begin: busy)
  kBegun = 1,
  kMicStarted = 2,
  kAborted = 3,  // stopped while starting, or reset
  kTranscribe = 4,
  kTooShort = 5,
  kSucceeded = 6,
  kFailed = 7,
};

// The status published to the pipe replies and the toolbar.
enum class VoiceStatus : uint32_t {
  kIdle = 0,
  kStarting = 1,
  kRecording = 2,
  kTranscribing = 3,
  kSucceeded = 4,  // a transcription or a model job
  kFailed = 5,
  kModelJob = 6,
  kModelJobCancelled = 7,
};

// A recording shorter than this is dropped rather than transcribed.
inline constexpr uint64_t kMinRecordingMs = 280;

struct VoiceTransition {
  VoiceEvent event = VoiceEvent::kNone;
  uint64_t session_id = 0;
};

class VoiceSession {
 public:
  // `last_id` is the id before the first session's (ids count up from it, skipping 0).
  explicit VoiceSession(uint64_t last_id = 0) : id_(last_id) {}

  VoiceTransition Begin();
  VoiceTransition MicStarted(uint64_t id, uint64_t now_ms);
  VoiceTransition Stop(uint64_t now_ms);
  VoiceTransition Finished(uint64_t id, bool ok);
  VoiceTransition Reset();

  VoiceState state() const { return state_; }
  uint64_t id() const { return id_; }

 private:
  VoiceTransition Event(VoiceEvent event) const { return {event, id_}; }

  VoiceState state_ = VoiceState::kIdle;
  uint64_t id_;
  uint64_t started_at_ = 0;
};

}  // namespace kavi::win
