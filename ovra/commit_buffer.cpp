// SPDX-License-Identifier: Apache-2.0
#include "ovra/commit_buffer.h"

#include <utility>

namespace kavi::win {

void CommitBuffer::Append(const std::string& text, const std::string& alternative,
                          const std::string& input_code) {
  if (text.empty()) return;
  if (!has_pending_) {
    pending_.alternative_text = alternative;
  } else if (!pending_.alternative_text.empty() || !alternative.empty()) {
    if (pending_.alternative_text.empty()) pending_.alternative_text = pending_.text;
    pending_.alternative_text += alternative.empty() ? text : alternative;
  }
  pending_.text += text;
  pending_.input_code += input_code;
  has_pending_ = true;
}

bool CommitBuffer::Take(CommitRecord* record) {
  if (!has_pending_) return false;
  *record = std::move(pending_);
  Clear();
  return true;
}

void CommitBuffer::Clear() {
  pending_ = {};
  has_pending_ = false;
}

}  // namespace kavi::win
