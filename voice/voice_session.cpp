// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_session.h"

namespace kavi::win {

VoiceTransition VoiceSession::Begin() {
  if (state_ != VoiceState::kIdle) return Event(VoiceEvent::kNone);
  if (++id_ == 0) id_ = 1;
  started_at_ = 0;
  state_ = VoiceState::kStarting;
  return Event(VoiceEvent::kBegun);
}

VoiceTransition VoiceSession::MicStarted(uint64_t id, uint64_t now_ms) {
  if (state_ != VoiceState::kStarting || id != id_) return Event(VoiceEvent::kNone);
  started_at_ = now_ms;
  state_ = VoiceState::kRecording;
  return Event(VoiceEvent::kMicStarted);
}

VoiceTransition VoiceSession::Stop(uint64_t now_ms) {
  switch (state_) {
    case VoiceState::kStarting:
      state_ = VoiceState::kIdle;
      return Event(VoiceEvent::kAborted);
    case VoiceState::kRecording:
      if (now_ms - started_at_ >= kMinRecordingMs) {
        state_ = VoiceState::kTranscribing;
        return Event(VoiceEvent::kTranscribe);
      }
      state_ = VoiceState::kIdle;
      return Event(VoiceEvent::kTooShort);
    default:
      return Event(VoiceEvent::kNone);
  }
}

VoiceTransition VoiceSession::Finished(uint64_t id, bool ok) {
  if (state_ != VoiceState::kTranscribing || id != id_) return Event(VoiceEvent::kNone);
  state_ = VoiceState::kIdle;
  return Event(ok ? VoiceEvent::kSucceeded : VoiceEvent::kFailed);
}

VoiceTransition VoiceSession::Reset() {
  if (state_ == VoiceState::kIdle) return Event(VoiceEvent::kNone);
  state_ = VoiceState::kIdle;
  return Event(VoiceEvent::kAborted);
}

}  // namespace kavi::win
