// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/companion_requests.h"

#include <string>

#include "server/session/requests/request_replies.h"

namespace kavi::win {
namespace {

PipeResponse MessageReply(const PipeRequest& request, std::string_view text) {
  return MakeMessageReply(request, ReplyKind::Ok, true, text);
}

PipeResponse StatusOf(const PipeRequest& request, const CompanionStatus& status) {
  PipeResponse reply = MessageReply(
      request, status.state == CompanionStatus::State::kPairing ? status.pairing_link
               : status.state == CompanionStatus::State::kPaired ? status.nickname
                                                                 : std::string());
  reply.value = static_cast<uint32_t>(status.state);
  reply.status_code = status.list_ready ? status.entry_count : 0;
  const std::pair<const char*, const std::string*> fields[] = {
      {"app_id", &status.app_id},        {"safe_id", &status.safe_id},
      {"nickname", &status.nickname},    {"link", &status.pairing_link},
      {"error", &status.pairing_error},
  };
  uint32_t slot = 0;
  for (const auto& [name, value] : fields) {
    CopyTextField(reply.candidates[slot].text, *value);
    CopyTextField(reply.candidates[slot].comment, name);
    ++slot;
  }
  reply.candidate_count = slot;
  return reply;
}

}  // namespace

bool IsCompanionRequest(RequestKind kind) {
  return kind >= RequestKind::CompanionRequest0 && kind <= RequestKind::CompanionRequest4;
}

PipeResponse HandleCompanionRequest(const PipeRequest& request, CompanionPort* companion,
                                    HttpCancellation* cancellation) {
  if (!companion) return RefusedReply(request);
  const std::string text(TextFieldView(request.text));
  std::string error;
  switch (static_cast<RequestKind>(request.kind)) {
    case RequestKind::CompanionRequest0: {
      std::string link;
      if (!companion->StartPairing(text.empty() ? kDefaultCompanionAppName : text, &link, &error))
        return RefusedReply(request, error);
      return MessageReply(request, link);
    }
    case RequestKind::CompanionRequest1: {
      const uint32_t wait = request.argument == 0 || request.argument > kCompanionMaxWaitMs
                                ? kCompanionMaxWaitMs
                                : request.argument;
      if (!companion->WaitForPairing(wait, &error)) return RefusedReply(request, error);
      return MessageReply(request, companion->Status().nickname);
    }
    case RequestKind::CompanionRequest2:
      return StatusOf(request, companion->Status());
    case RequestKind::CompanionRequest3: {
      std::string code;
      if (!companion->RequestCode(text, &code, &error, cancellation, kCompanionMaxWaitMs))
        return RefusedReply(request, error);
      PipeResponse reply = MessageReply(request, code);
      code.assign(code.size(), '\0');
      return reply;
    }
    case RequestKind::CompanionRequest4:
      companion->Unpair();
      return OkReply(request);
    default:
      return RefusedReply(request);
  }
}

}  // namespace kavi::win
