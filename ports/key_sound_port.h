// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include <cstdint>
#include <string>

namespace kavi::win {

class KeySoundPort {
 public:
  virtual ~KeySoundPort() = default;
  // The click of an ordinary key press.
  virtual void PlayKey(uint32_t keysym) = 0;
  // A named sound with the request's argument; true when it played.
  virtual bool Play(const std::string& name, uint32_t argument) = 0;
};

}  // namespace kavi::win
