// SPDX-License-Identifier: Apache-2.0
// The candidate list of a State reply: the engine's page with the cloud hot word merged in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr char kCloudComment[] = "☁";

struct CandidateEntry {
  std::string text;
  std::string comment;
  bool cloud = false;
  int32_t engine_index = -1;  // global index in the engine's list; -1 for the cloud entry
};

// Merges a cloud hot word into the list: no change when it is empty or equals the first or the
// second entry; an equal later entry moves to the second place with the cloud comment; else a
// cloud entry is inserted at the second place (the first of an empty list).
void MergeCloudCandidate(std::vector<CandidateEntry>* entries, std::string_view hot_word);

// The position of the entry with the given global engine index, or -1.
int PositionOfEngineIndex(const std::vector<CandidateEntry>& entries, int32_t engine_index);

// True when the list is not the engine's page as is (a cloud entry, or an entry whose engine
// index is not page_start plus its slot): selection then goes through the list.
bool ListDiffersFromEnginePage(const std::vector<CandidateEntry>& entries, int32_t page_start);

}  // namespace kavi::win
