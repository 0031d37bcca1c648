// SPDX-License-Identifier: Apache-2.0
// The language models, loaded once per file and shared by every scheme that names them. The
// file stays mapped across engine restarts, so a restart after a maintenance job costs little.
// A restart is prepared on the job's thread while sessions use the engine, so the store is
// shared by two loaders and guards itself.
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

class ModelStore {
 public:
  std::shared_ptr<const libime::StaticLanguageModelFile> Get(const std::filesystem::path& path,
                                                             std::string* message);

 private:
  std::mutex mutex_;
  std::map<std::filesystem::path, std::shared_ptr<const libime::StaticLanguageModelFile>> models_;
};

}  // namespace kavi::win
