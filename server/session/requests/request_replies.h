// SPDX-License-Identifier: Apache-2.0
// The small replies that the session and every service's request handler build.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/pipe_records.h"

namespace kavi::win {

// Refused, with an optional message in the commit-text field.
inline PipeResponse RefusedReply(const PipeRequest& request, std::string_view message = {}) {
  return MakeMessageReply(request, ReplyKind::Refused, false, message);
}

inline PipeResponse OkReply(const PipeRequest& request) {
  return MakeSimpleReply(request, ReplyKind::Ok, true);
}

inline PipeResponse BusyReply(const PipeRequest& request) {
  return MakeSimpleReply(request, ReplyKind::Busy, false);
}

// A State reply that carries one status word at offset 86.
inline PipeResponse StatusReply(const PipeRequest& request, uint32_t value) {
  PipeResponse reply = MakeSimpleReply(request, ReplyKind::State, true);
  reply.value = value;
  return reply;
}

}  // namespace kavi::win
