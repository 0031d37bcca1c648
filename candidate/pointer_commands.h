// SPDX-License-Identifier: Apache-2.0
// What a pointer action over the window asks of the session that owns the composition.
#pragma once

#include <optional>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "protocol/server_command.h"

namespace kavi::win {

struct PointerCommand {
  ServerCommand command;
  int32_t value;
  bool operator==(const PointerCommand&) const = default;
};

// A left-button release at (x, y) in DIPs: a page change on the paging zone, else the row.
std::optional<PointerCommand> ClickCommand(const CandidateContent& content,
                                           const CandidateLayout& layout, double x, double y);

// The row under (x, y) when it differs from *hovered, which is updated.
std::optional<PointerCommand> HoverCommand(const CandidateContent& content,
                                           const CandidateLayout& layout, double x, double y,
                                           int* hovered);

// A wheel turn away from the user (positive) pages back.
PointerCommand WheelCommand(int delta);

}  // namespace kavi::win
