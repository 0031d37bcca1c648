// SPDX-License-Identifier: Apache-2.0
#include "ovra/model_store.h"

#include <libime/core/languagemodel.h>

#include <exception>

namespace kavi::win {

std::shared_ptr<const libime::StaticLanguageModelFile> ModelStore::Get(
    const std::filesystem::path& path, std::string* message) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = models_.find(path);
  if (it != models_.end()) return it->second;
  try {
    auto model = std::make_shared<const libime::StaticLanguageModelFile>(path.c_str());
    models_.emplace(path, model);
    if (message) message->clear();
    return model;
  } catch (const std::exception& e) {
    if (message) *message = "cannot load language model " + path.string() + ": " + e.what();
    return nullptr;
  }
}

}  // namespace kavi::win
