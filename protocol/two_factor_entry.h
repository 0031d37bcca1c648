// SPDX-License-Identifier: Apache-2.0
// One entry of the companion app's 2FA list, as the plug-in pages and the companion client see it.
#pragma once

#include <string>
#include <vector>

namespace kavi::win {

struct TwoFactorEntry {
  std::string id;       // sent back as the payload of a code request
  std::string name;     // issuer or label
  std::string account;  // may be empty
  bool locked = false;  // listed before the account key was available: a code can still be asked
  std::string type;     // the entry's type as the companion lists it ("totp")
  std::string status = "active";
  std::string data;  // the entry's plain descriptive data, as received
  std::vector<std::string> flags;
};

}  // namespace kavi::win
