// SPDX-License-Identifier: Apache-2.0
// The language models and English word lists, loaded once per file and shared by every scheme
// that names them. They stay loaded across engine restarts, so a restart after a maintenance job
// costs little and the process never holds two copies of one list. A restart is prepared on the
// job's thread while sessions use the engine, so the store is shared by two loaders and guards
// itself.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace libime {
class StaticLanguageModelFile;
}

namespace kavi::win {

class EnglishWords;

class ModelStore {
 public:
  std::shared_ptr<const libime::StaticLanguageModelFile> Get(const std::filesystem::path& path,
                                                             std::string* message);
  // Null when the list cannot be read: that is logged once and not tried again.
  std::shared_ptr<const EnglishWords> EnglishWordsOf(const std::filesystem::path& path);

 private:
  std::mutex mutex_;
  std::map<std::filesystem::path, std::shared_ptr<const libime::StaticLanguageModelFile>> models_;
  // A list loads on a thread of its own beside the dictionaries: it does not hold up a model.
  std::mutex english_mutex_;
  std::map<std::filesystem::path, std::shared_ptr<const EnglishWords>> english_words_;
};

}  // namespace kavi::win
