// SPDX-License-Identifier: Apache-2.0
// Kinds 16 to 18, 44 and 45: installing and removing scheme packs, the job's status, and
// cancelling it.
#pragma once

#include "ports/scheme_pack_port.h"
#include "protocol/pipe_records.h"
#include "server/session/shared_state.h"

namespace kavi::win {

bool IsPackRequest(RequestKind kind);

// An install or removal holds the busy flag until the job's end callback gives it back.
PipeResponse HandlePackRequest(const PipeRequest& request, SchemePackPort* packs, JobFlags& jobs);

}  // namespace kavi::win
