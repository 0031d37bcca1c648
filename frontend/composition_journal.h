// SPDX-License-Identifier: Apache-2.0
// The requests that built the open composition. A connection ends when one reply takes longer
// than the transaction time-out (or when the server restarts), and the server drops the
// composition of a connection that ends; replaying these on the new connection rebuilds it, so
// that a slow key never loses or garbles what the user typed.
#pragma once

#include <cstddef>
#include <vector>

#include "protocol/pipe_records.h"

namespace kavi::win {

class CompositionJournal {
 public:
  // More requests than this in one composition (backspaces included) are not kept; a
  // reconnect then ends the composition as it would without a journal.
  static constexpr size_t kMaxRequests = 256;

  // A request that the server took into the open composition.
  void Add(const PipeRequest& request);
  // What the reply to any request says about the composition: once it is closed, the journal
  // starts afresh; a commit that leaves part of it open (a long sentence's settled front) cannot
  // be replayed without committing that part twice.
  void Observe(bool composing, bool committed);
  void Clear();

  bool Replayable() const { return complete_ && !requests_.empty(); }
  const std::vector<PipeRequest>& requests() const { return requests_; }

 private:
  std::vector<PipeRequest> requests_;
  bool complete_ = true;
};

}  // namespace kavi::win
