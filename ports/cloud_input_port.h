// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include <string>

namespace kavi::win {

// Commit statistics and cloud words.
class CloudInputPort {
 public:
  virtual ~CloudInputPort() = default;
  // Records a commit: the committed text and the expanded (spelled-out) input code.
  virtual void RecordCommit(const std::string& text, const std::string& expanded_input) = 0;
  // Forgets the previously committed word, so that no word pair spans a focus change.
  virtual void ClearContext() = 0;
};

}  // namespace kavi::win
