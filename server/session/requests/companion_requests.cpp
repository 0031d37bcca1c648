// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/companion_requests.h"

#include "server/session/requests/request_replies.h"

namespace kavi::win {

bool IsCompanionRequest(RequestKind kind) {
  return kind >= RequestKind::CompanionRequest0 && kind <= RequestKind::CompanionRequest4;
}

PipeResponse HandleCompanionRequest(const PipeRequest& request, CompanionPort* companion) {
  if (!companion) return RefusedReply(request);
  return companion->Handle(request);
}

}  // namespace kavi::win
