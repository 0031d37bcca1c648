// SPDX-License-Identifier: Apache-2.0
// Kinds 22 to 32: dictation (toggle, start, stop, cancel), its status and result, and the
// voice model jobs.
#pragma once

#include "ports/candidate_window_port.h"
#include "ports/voice_port.h"
#include "protocol/pipe_records.h"
#include "server/session/shared_state.h"

namespace kavi::win {

bool IsVoiceRequest(RequestKind kind);

// `slots` hold the recognised text waiting for kind 29; `window` (may be null) shows it.
PipeResponse HandleVoiceRequest(const PipeRequest& request, VoicePort* voice, VoiceTextSlots& slots,
                                CandidateWindowPort* window);

}  // namespace kavi::win
