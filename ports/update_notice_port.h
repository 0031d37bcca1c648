// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which services reach each other: the update checker
// tells the tray that a verified update waits to be installed.
#pragma once

#include <string>

namespace kavi::win {

class UpdateNoticePort {
 public:
  virtual ~UpdateNoticePort() = default;
  // Shows the update notice for this version; its action opens the about page.
  virtual void ShowUpdateNotice(const std::string& version) = 0;
};

}  // namespace kavi::win
