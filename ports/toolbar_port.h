// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

namespace kavi::win {

class ToolbarPort {
 public:
  virtual ~ToolbarPort() = default;
  virtual void SetClientFocus(bool has_focus) = 0;
  virtual void SetAsciiMode(bool ascii_mode) = 0;
};

}  // namespace kavi::win
