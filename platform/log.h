// SPDX-License-Identifier: Apache-2.0
// One line per event on stderr (the journal when run as a user service).
#pragma once

#include <string_view>

namespace kavi::win {

// Writes text as one event; lines begin with "[Kavi] " by convention of the callers.
void LogLine(std::string_view text);

}  // namespace kavi::win
