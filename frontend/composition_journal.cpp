// SPDX-License-Identifier: Apache-2.0
#include "frontend/composition_journal.h"

namespace kavi::win {

void CompositionJournal::Add(const PipeRequest& request) {
  if (!complete_) return;
  if (requests_.size() == kMaxRequests) {
    complete_ = false;
    requests_.clear();
    return;
  }
  requests_.push_back(request);
}

void CompositionJournal::Observe(bool composing, bool committed) {
  if (!composing) {
    Clear();
  } else if (committed) {
    complete_ = false;
    requests_.clear();
  }
}

void CompositionJournal::Clear() {
  requests_.clear();
  complete_ = true;
}

}  // namespace kavi::win
