// SPDX-License-Identifier: Apache-2.0
// Kinds 33 to 37: pairing with the companion app and fetching codes from it.
#pragma once

#include "ports/companion_port.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

bool IsCompanionRequest(RequestKind kind);

PipeResponse HandleCompanionRequest(const PipeRequest& request, CompanionPort* companion);

}  // namespace kavi::win
