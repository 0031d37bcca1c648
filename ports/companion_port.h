// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include "protocol/pipe_records.h"

namespace kavi::win {

class CompanionPort {
 public:
  virtual ~CompanionPort() = default;
  // Kinds 33 to 37: answers the request with a complete reply.
  virtual PipeResponse Handle(const PipeRequest& request) = 0;
};

}  // namespace kavi::win
