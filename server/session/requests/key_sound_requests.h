// SPDX-License-Identifier: Apache-2.0
// Kind 19: play a named key sound.
#pragma once

#include "ports/key_sound_port.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

PipeResponse HandleKeySoundRequest(const PipeRequest& request, KeySoundPort* key_sounds);

}  // namespace kavi::win
