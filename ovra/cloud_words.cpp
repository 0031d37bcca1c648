// SPDX-License-Identifier: Apache-2.0
#include "ovra/cloud_words.h"

#include <algorithm>
#include <cmath>

namespace kavi::win {
namespace {

bool IsExpandedInput(const std::string& key) {
  if (key.empty()) return false;
  for (char c : key) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

}  // namespace

bool CloudWords::ReplaceHot(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::unordered_map<std::string, std::string> hot;
  hot.reserve(entries.size());
  for (const auto& [key, value] : entries) {
    if (!IsExpandedInput(key) || value.empty()) return false;
    hot[key] = value;
  }
  hot_ = std::move(hot);
  return true;
}

const std::string* CloudWords::LookupHot(const std::string& expanded_input) const {
  auto it = hot_.find(expanded_input);
  return it == hot_.end() ? nullptr : &it->second;
}

void CloudWords::ClearBigrams() {
  bigrams_.clear();
  pending_bigrams_.clear();
}

void CloudWords::AddBigram(const std::string& first, const std::string& second, double weight) {
  if (first.empty() || second.empty() || !std::isfinite(weight) || weight <= 0) return;
  double& slot = pending_bigrams_[first][second];
  slot = std::max(slot, weight);
}

void CloudWords::RebuildBigrams() {
  bigrams_ = std::move(pending_bigrams_);
  pending_bigrams_.clear();
}

double CloudWords::BigramWeight(const std::string& first, const std::string& second) const {
  auto it = bigrams_.find(first);
  if (it == bigrams_.end()) return 0;
  auto pair = it->second.find(second);
  return pair == it->second.end() ? 0 : pair->second;
}

bool CloudWords::HasBigramsAfter(const std::string& first) const {
  return bigrams_.count(first) > 0;
}

}  // namespace kavi::win
