// SPDX-License-Identifier: Apache-2.0
#include "server/session/candidate_list.h"

#include <algorithm>

namespace kavi::win {

void MergeCloudCandidate(std::vector<CandidateEntry>* entries, std::string_view hot_word) {
  if (hot_word.empty()) return;
  if (entries->size() > 0 && (*entries)[0].text == hot_word) return;
  if (entries->size() > 1 && (*entries)[1].text == hot_word) return;
  for (size_t i = 2; i < entries->size(); ++i) {
    if ((*entries)[i].text != hot_word) continue;
    CandidateEntry moved = std::move((*entries)[i]);
    moved.comment = kCloudComment;
    entries->erase(entries->begin() + static_cast<std::ptrdiff_t>(i));
    entries->insert(entries->begin() + 1, std::move(moved));
    return;
  }
  CandidateEntry cloud{std::string(hot_word), kCloudComment, true, -1};
  entries->insert(entries->begin() + (entries->empty() ? 0 : 1), std::move(cloud));
}

int PositionOfEngineIndex(const std::vector<CandidateEntry>& entries, int32_t engine_index) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].cloud && entries[i].engine_index == engine_index) return static_cast<int>(i);
  return -1;
}

bool ListDiffersFromEnginePage(const std::vector<CandidateEntry>& entries, int32_t page_start) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].cloud || entries[i].engine_index != page_start + static_cast<int32_t>(i))
      return true;
  return false;
}

}  // namespace kavi::win
