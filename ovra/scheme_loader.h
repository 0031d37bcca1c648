// SPDX-License-Identifier: Apache-2.0
// Turns a scheme id into a ready composer: finds the scheme file, maps its language model and
// reads its English word list (each once per file, shared by every scheme), reads its
// dictionaries and the user's learned data. Only the scheme in use is loaded; the others cost
// nothing until chosen.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "ovra/composer.h"
#include "ovra/english_words.h"
#include "ovra/model_store.h"
#include "ovra/scheme.h"

namespace kavi::win {

struct LoadedScheme {
  std::unique_ptr<Composer> composer;  // null when the scheme could not be loaded
  SchemeKind kind = SchemeKind::kPinyin;
  // The scheme's English words; null when it names none or its list cannot be read.
  std::shared_ptr<const EnglishWords> english_words;
  std::string message;  // why there is no composer, or what went wrong with the user data
};

class SchemeLoader {
 public:
  // The language models and English word lists come from `models`, which may be shared with
  // other loaders.
  explicit SchemeLoader(ModelStore& models) : models_(models) {}

  // Reads the scheme files of "<shared>/schemas" and of the pack directory "<user>/build".
  void LoadCatalog(const std::filesystem::path& shared_data_dir,
                   const std::filesystem::path& user_data_dir);
  LoadedScheme Load(const std::string& id, bool extension_b);
  // The scheme without the user's learned data: what does not change while the engine is down,
  // so it can be read ahead of a restart.
  LoadedScheme LoadShared(const std::string& id, bool extension_b);
  // Adds the user's learned data of scheme `id` to a scheme from LoadShared.
  void AddUserData(const std::string& id, LoadedScheme* loaded) const;
  // Whether the catalogue has the scheme (it does not change after LoadCatalog).
  bool Knows(const std::string& id) const { return catalog_.Find(id) != nullptr; }

 private:
  SchemeCatalog catalog_;
  ModelStore& models_;
  std::filesystem::path shared_data_dir_;
  std::filesystem::path user_data_dir_;
};

}  // namespace kavi::win
