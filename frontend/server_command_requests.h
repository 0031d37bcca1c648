// SPDX-License-Identifier: Apache-2.0
// The request with which a client answers a command that the candidate window or the toolbar
// posted for it (a click, hover, wheel turn or the mode toggle).
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/pipe_records.h"

namespace kavi::win {

// Nullopt for codes this client does not know: they are ignored.
std::optional<PipeRequest> RequestForServerCommand(uint32_t code, uint32_t value,
                                                   uint64_t context_id);

}  // namespace kavi::win
