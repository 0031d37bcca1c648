// SPDX-License-Identifier: Apache-2.0
// Word lists from the cloud service: hot words keyed by the spelled-out input, and word pairs
// whose weights lift a candidate that follows the previously committed word. Bigrams are added
// to a pending table and take effect together on Rebuild, so a half-loaded list is never used.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace kavi::win {

class CloudWords {
 public:
  // Replaces every hot word. Keys must be letters a-z and values non-empty; otherwise nothing
  // changes and the call fails.
  bool ReplaceHot(const std::vector<std::pair<std::string, std::string>>& entries);
  const std::string* LookupHot(const std::string& expanded_input) const;
  void ClearHot() { hot_.clear(); }

  void ClearBigrams();
  void AddBigram(const std::string& first, const std::string& second, double weight);
  void RebuildBigrams();
  // The weight of second following first; 0 when the pair is unknown.
  double BigramWeight(const std::string& first, const std::string& second) const;
  bool HasBigramsAfter(const std::string& first) const;

 private:
  using BigramTable = std::unordered_map<std::string, std::unordered_map<std::string, double>>;

  std::unordered_map<std::string, std::string> hot_;
  BigramTable bigrams_;
  BigramTable pending_bigrams_;
};

}  // namespace kavi::win
