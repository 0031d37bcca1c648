// SPDX-License-Identifier: Apache-2.0
#include "ovra/candidate_pager.h"

#include <algorithm>

namespace kavi::win {

void CandidatePager::SetPageSize(size_t page_size) {
  size_t global = HighlightedIndex();
  page_size_ = std::clamp<size_t>(page_size, 1, kMaxPageSize);
  page_ = global / page_size_;
  highlighted_ = global % page_size_;
}

void CandidatePager::Reset(size_t total) {
  total_ = total;
  page_ = 0;
  highlighted_ = 0;
}

size_t CandidatePager::PageCount() const {
  size_t start = PageStart();
  return start >= total_ ? 0 : std::min(page_size_, total_ - start);
}

bool CandidatePager::ChangePage(bool backward) {
  if (backward) {
    if (page_ == 0) return false;
    --page_;
  } else {
    if (IsLastPage()) return false;
    ++page_;
  }
  highlighted_ = std::min(highlighted_, PageCount() == 0 ? 0 : PageCount() - 1);
  return true;
}

bool CandidatePager::MoveHighlight(int delta) {
  long target = static_cast<long>(HighlightedIndex()) + delta;
  if (target < 0 || target >= static_cast<long>(total_)) return false;
  page_ = static_cast<size_t>(target) / page_size_;
  highlighted_ = static_cast<size_t>(target) % page_size_;
  return true;
}

bool CandidatePager::Highlight(size_t index_on_page) {
  if (index_on_page >= PageCount()) return false;
  highlighted_ = index_on_page;
  return true;
}

}  // namespace kavi::win
