// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/voice_requests.h"

#include <optional>
#include <string>

#include "server/session/requests/request_replies.h"

namespace kavi::win {
namespace {

constexpr char kVoiceSettingsUnreadable[] = "無法讀取最新語音設定";
constexpr char kNoModelJob[] = "目前沒有模型下載作業";

// Kind 29 works without the voice service: it only empties the result slot.
PipeResponse TakeVoiceResult(const PipeRequest& request, VoiceTextSlots& slots,
                             CandidateWindowPort* window) {
  PipeResponse reply = MakeSimpleReply(request, ReplyKind::State, true);
  std::optional<VoiceTextSlots::Piece> piece = slots.Take(VoiceTextSlots::kResultSlot);
  if (!piece) return reply;
  reply.value = piece->more ? 1 : 0;
  if (piece->commit) {
    reply.has_commit = 1;
    CopyTextField(reply.commit_text, piece->text);
  } else {
    reply.candidate_count = 1;
    CopyTextField(reply.candidates[0].text, piece->text);
  }
  if (window) window->ShowReply(reply);
  return reply;
}

}  // namespace

bool IsVoiceRequest(RequestKind kind) {
  return kind >= RequestKind::VoiceToggle && kind <= RequestKind::CancelVoiceModelJobAlt;
}

PipeResponse HandleVoiceRequest(const PipeRequest& request, VoicePort* voice, VoiceTextSlots& slots,
                                CandidateWindowPort* window) {
  const auto kind = static_cast<RequestKind>(request.kind);
  if (kind == RequestKind::PollVoiceResult) return TakeVoiceResult(request, slots, window);

  switch (kind) {
    case RequestKind::VoiceToggle:
    case RequestKind::VoiceStart:
    case RequestKind::VoiceStop:
    case RequestKind::VoiceCancel:
    case RequestKind::VoiceToggleAlt: {
      if (!voice) return RefusedReply(request);
      if (!voice->ReloadSettings()) return RefusedReply(request, kVoiceSettingsUnreadable);
      const bool alternate = kind == RequestKind::VoiceToggleAlt;
      const int command =
          alternate ? 0 : request.kind - static_cast<uint16_t>(RequestKind::VoiceToggle);
      std::string message;
      if (!voice->Command(command, alternate, &message)) return RefusedReply(request, message);
      return OkReply(request);
    }
    case RequestKind::DownloadVoiceModel:
    case RequestKind::RemoveVoiceModel: {
      if (!voice) return RefusedReply(request);
      std::string message;
      if (!voice->StartModelJob(kind == RequestKind::DownloadVoiceModel,
                                std::string(TextFieldView(request.text)), &message))
        return RefusedReply(request, message);
      return OkReply(request);
    }
    case RequestKind::CancelVoiceModelJob:
    case RequestKind::CancelVoiceModelJobAlt:
      if (!voice || !voice->CancelModelJob(kind == RequestKind::CancelVoiceModelJobAlt))
        return RefusedReply(request, kNoModelJob);
      return OkReply(request);
    default: {  // VoiceStatus
      if (!voice) return RefusedReply(request);
      uint32_t value = 0, word = 0;
      voice->StateWords(&value, &word);
      PipeResponse reply = StatusReply(request, value);
      reply.cursor = word;
      return reply;
    }
  }
}

}  // namespace kavi::win
