// SPDX-License-Identifier: Apache-2.0
// Kinds 33 to 37: pairing with the companion app and fetching codes from it.
//
//   33 start pairing   text = the name this app shows on the companion (empty: "Kavi");
//                      Ok with the pairing link in the commit-text field, or Refused with why.
//   34 wait for pairing  argument = milliseconds to wait (0 or more than 40,000: 40,000);
//                      Ok once paired (the nickname in the commit-text field), else Refused
//                      with why (still waiting, denied, failed).
//   35 status          Ok; 86 = 0 unpaired, 1 pairing, 2 paired; 82 = entries in the 2FA list
//                      (once fetched); commit text = the link while pairing, the nickname once
//                      paired; candidate slots 0 to 4 = app id, Safe id, nickname, link, last
//                      pairing error, each with its name as the comment.
//   36 request code    text = the 2FA entry id; Ok with the code in the commit-text field
//                      (not committed: a message), or Refused with why.
//   37 unpair          Ok.
//
// 34 and 36 wait for the user: the client allows them 45 s, the server answers within 40 s.
#pragma once

#include <cstdint>

#include "ports/companion_port.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr char kDefaultCompanionAppName[] = "Kavi";
inline constexpr uint32_t kCompanionMaxWaitMs = 40000;

bool IsCompanionRequest(RequestKind kind);

// `cancellation` is the session's: the wait for the user ends with the session.
PipeResponse HandleCompanionRequest(const PipeRequest& request, CompanionPort* companion,
                                    HttpCancellation* cancellation);

}  // namespace kavi::win
