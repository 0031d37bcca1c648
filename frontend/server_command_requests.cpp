// SPDX-License-Identifier: Apache-2.0
#include "frontend/server_command_requests.h"

#include "protocol/server_command.h"

namespace kavi::win {
namespace {

std::optional<RequestKind> KindFor(uint32_t code) {
  switch (static_cast<ServerCommand>(code)) {
    case ServerCommand::SelectCandidate:
      return RequestKind::SelectCandidate;
    case ServerCommand::ChangePage:
      return RequestKind::ChangePage;
    case ServerCommand::HighlightCandidate:
      return RequestKind::HighlightCandidate;
    case ServerCommand::SelectPanelRow:
      return RequestKind::CommitCandidate;
    case ServerCommand::HighlightPanelRow:
      return RequestKind::HoverCandidate;
    case ServerCommand::ToggleInputMode:
      return RequestKind::ToggleAsciiMode;
  }
  return std::nullopt;
}

}  // namespace

std::optional<PipeRequest> RequestForServerCommand(uint32_t code, uint32_t value,
                                                   uint64_t context_id) {
  std::optional<RequestKind> kind = KindFor(code);
  if (!kind) return std::nullopt;
  PipeRequest request = MakeRequest(*kind);
  request.context_id = context_id;
  if (*kind != RequestKind::ToggleAsciiMode) request.argument = value;
  return request;
}

}  // namespace kavi::win
