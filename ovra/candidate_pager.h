// SPDX-License-Identifier: Apache-2.0
// Which page of the candidate list is shown and which entry on it is highlighted.
#pragma once

#include <cstddef>

namespace kavi::win {

class CandidatePager {
 public:
  static constexpr size_t kDefaultPageSize = 5;
  // The digits 1-9 and 0 pick the first ten of a page; the rest are picked by highlight or click.
  static constexpr size_t kMaxPageSize = 16;

  void SetPageSize(size_t page_size);
  // A new candidate list: back to the first page, highlight on its first entry.
  void Reset(size_t total);

  size_t page_size() const { return page_size_; }
  size_t total() const { return total_; }
  size_t page() const { return page_; }
  size_t PageStart() const { return page_ * page_size_; }
  size_t PageCount() const;  // entries on the current page
  bool IsLastPage() const { return PageStart() + page_size_ >= total_; }
  size_t highlighted() const { return highlighted_; }  // index on the page
  size_t HighlightedIndex() const { return PageStart() + highlighted_; }

  // Moves one page; false when there is none in that direction.
  bool ChangePage(bool backward);
  // Moves the highlight by delta entries, crossing pages; false at either end of the list.
  bool MoveHighlight(int delta);
  bool Highlight(size_t index_on_page);

 private:
  size_t page_size_ = kDefaultPageSize;
  size_t total_ = 0;
  size_t page_ = 0;
  size_t highlighted_ = 0;
};

}  // namespace kavi::win
