// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer.
#pragma once

namespace kavi::win {

// The saving of what the engine learns.
class UserDataPort {
 public:
  virtual ~UserDataPort() = default;
  // A commit taught the engine something; it is saved soon after. Never blocks.
  virtual void NoteCommit() = 0;
};

}  // namespace kavi::win
