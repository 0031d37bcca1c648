// SPDX-License-Identifier: Apache-2.0
// The account page's side of the companion kinds: 33 starts a pairing and answers with the
// pairing link, 34 waits for the companion app to approve it, 35 reports the status, 37
// unpairs. How their replies are read is kept here, in one place, for the companion service's
// replies to be read by.
#pragma once

#include <string>
#include <string_view>

#include "tools/settings/server_link.h"
#include "tools/settings/server_requests.h"

namespace kavi::win {

inline constexpr RequestKind kStartPairingKind = RequestKind::CompanionRequest0;
inline constexpr RequestKind kWaitPairingKind = RequestKind::CompanionRequest1;
inline constexpr RequestKind kCompanionStatusKind = RequestKind::CompanionRequest2;
inline constexpr RequestKind kUnpairKind = RequestKind::CompanionRequest4;
// The name this program registers with the companion app.
inline constexpr std::string_view kCompanionAppName = "Kavi";
inline constexpr std::string_view kPairingLinkPrefix = "gatekite://sso?tmp_id=";

struct CompanionStatus {
  ServiceState service = ServiceState::kServerNotRunning;
  bool paired = false;
  bool pairing = false;
  std::string account;  // the account's display text when paired
  std::string message;  // why the status could not be read
};

// The status reply: value 1 paired, 2 a pairing under way, 0 neither; the account's display
// text in the commit-text field.
CompanionStatus ReadCompanionStatus(const ServerAnswer& answer);

// The pairing link of a start reply, or empty with the reason in `error`.
std::string ReadPairingLink(const ServerAnswer& answer, std::string* error);

}  // namespace kavi::win
