// SPDX-License-Identifier: Apache-2.0
// One entry of the companion app's 2FA list, as the plug-in pages and the companion client see it.
#pragma once

#include <string>

namespace kavi::win {

struct TwoFactorEntry {
  std::string id;       // sent back as the payload of a code request
  std::string name;     // issuer or label
  std::string account;  // may be empty
  bool locked = false;  // the entry asks for confirmation on the phone
};

}  // namespace kavi::win
