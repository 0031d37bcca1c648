// SPDX-License-Identifier: Apache-2.0
#include "ovra/model_store.h"

#include <libime/core/languagemodel.h>

#include <exception>

#include "ovra/english_words.h"
#include "ovra/log.h"

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

std::shared_ptr<const EnglishWords> ModelStore::EnglishWordsOf(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(english_mutex_);
  auto [it, added] = english_words_.try_emplace(path);
  if (added) {
    auto words = std::make_shared<EnglishWords>();
    std::string message;
    if (words->Load(path, &message)) {
      it->second = std::move(words);
    } else {
      LogEngineEvent(message);
    }
  }
  return it->second;
}

}  // namespace kavi::win
