// SPDX-License-Identifier: Apache-2.0
#include "ovra/scheme_loader.h"

#include <libime/core/languagemodel.h>

#include <future>
#include <system_error>
#include <utility>

#include "ovra/flat_dictionary.h"
#include "ovra/log.h"
#include "ovra/pinyin_composer.h"
#include "ovra/table_composer.h"
#include "ovra/user_db.h"

namespace kavi::win {

void SchemeLoader::LoadCatalog(const std::filesystem::path& shared_data_dir,
                               const std::filesystem::path& user_data_dir) {
  shared_data_dir_ = shared_data_dir;
  user_data_dir_ = user_data_dir;
  catalog_.Load({shared_data_dir / kSharedSchemeDir, user_data_dir / kSchemePackDir},
                {shared_data_dir, KAVI_LIBIME_DATA_DIR, KAVI_LIBIME_MODEL_DIR});
}

LoadedScheme SchemeLoader::Load(const std::string& id, bool extension_b) {
  LoadedScheme loaded = LoadShared(id, extension_b);
  AddUserData(id, &loaded);
  return loaded;
}

LoadedScheme SchemeLoader::LoadShared(const std::string& id, bool extension_b) {
  LoadedScheme loaded;
  const SchemeDefinition* scheme = catalog_.Find(id);
  if (!scheme) {
    loaded.message = "no scheme \"" + id + "\"";
    return loaded;
  }
  auto model = models_.Get(scheme->language_model, &loaded.message);
  if (!model) return loaded;
  loaded.kind = scheme->kind;
  // The English word list is read on a thread of its own while the dictionaries load (the two
  // cores of a small machine each take one).
  std::future<std::shared_ptr<const EnglishWords>> english;
  if (!scheme->english_words.empty()) {
    try {
      english = std::async(std::launch::async, [this, path = scheme->english_words] {
        return models_.EnglishWordsOf(path);
      });
    } catch (const std::system_error&) {
      // No thread to be had: the list is read after the dictionaries instead.
    }
  }
  if (scheme->kind == SchemeKind::kPinyin) {
    loaded.composer = PinyinComposer::Create(
        *scheme, std::move(model), shared_data_dir_ / kFlatDictionaryDir, &loaded.message);
  } else {
    loaded.composer = TableComposer::Create(*scheme, std::move(model), &loaded.message);
  }
  std::shared_ptr<const EnglishWords> english_words;
  if (english.valid()) {
    english_words = english.get();
  } else if (loaded.composer && !scheme->english_words.empty()) {
    english_words = models_.EnglishWordsOf(scheme->english_words);
  }
  if (!loaded.composer) return loaded;
  loaded.english_words = std::move(english_words);
  loaded.composer->SetExtensionB(extension_b);
  return loaded;
}

void SchemeLoader::AddUserData(const std::string& id, LoadedScheme* loaded) const {
  if (!loaded->composer) return;
  std::string message;
  if (!loaded->composer->LoadUserData(UserDb(user_data_dir_, id), &message)) {
    loaded->message = "user data of " + id + ": " + message;
  }
}

}  // namespace kavi::win
