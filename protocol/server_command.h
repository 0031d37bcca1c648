// SPDX-License-Identifier: Apache-2.0
// Commands that the candidate window and the toolbar post for the client that owns the
// composition. The client receives the latest one on its next PollAsync (status code at 82,
// value at 86) and answers it with the matching request.
#pragma once

#include <cstdint>
#include <functional>

namespace kavi::win {

enum class ServerCommand : uint32_t {
  SelectCandidate = 1,     // value: row on the page
  ChangePage = 2,          // value: -1 previous, +1 next
  HighlightCandidate = 3,  // value: row on the page
  SelectPanelRow = 5,      // value: row of the expanded panel
  HighlightPanelRow = 6,   // value: row of the expanded panel
  ToggleInputMode = 7,     // value: 0
};

// Posts a command addressed to (context id, session nonce); a newer command replaces an older one.
using ServerCommandPoster =
    std::function<void(ServerCommand command, int32_t value, uint64_t context_id, uint64_t nonce)>;

}  // namespace kavi::win
