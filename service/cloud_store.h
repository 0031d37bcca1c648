// SPDX-License-Identifier: Apache-2.0
// Where the aggregate of reported words lives. SQLite is the embedded default; a deployment
// that outgrows one machine would put PostgreSQL behind this same interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "service/cloud_words.h"

namespace kavi::service {

class CloudStore {
 public:
  virtual ~CloudStore() = default;
  // Adds the batch's counts in one transaction, once per batch id: a batch id seen before adds
  // nothing and sets *counted to false. False with a message when the store fails (nothing is
  // added then).
  virtual bool AddBatch(const ReportBatch& batch, bool* counted, std::string* error) = 0;
  // The most reported words and pairs, highest count first (ties in text order).
  virtual bool TopWords(size_t limit, std::vector<WordCount>* out, std::string* error) = 0;
  virtual bool TopPairs(size_t limit, std::vector<PairCount>* out, std::string* error) = 0;
  // Changes whenever the aggregate changes.
  virtual uint64_t Generation() const = 0;
};

// Opens (creating) the SQLite database at `path`; null with a message on failure.
std::unique_ptr<CloudStore> OpenSqliteCloudStore(const std::filesystem::path& path,
                                                 std::string* error);

}  // namespace kavi::service
