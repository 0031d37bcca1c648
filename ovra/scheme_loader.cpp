#include "ovra/scheme_loader.h"

#include <libime/core/languagemodel.h>

#include <system_error>
#include <utility>

#include "ovra/pinyin_composer.h"
#include "ovra/table_composer.h"
#include "ovra/user_db.h"

namespace kavi::win {

void SchemeLoader::LoadCatalog(const std::filesystem::path& shared_data_dir,
                               const std::filesystem::path& user_data_dir) {
  user_data_dir_ = user_data_dir;
  catalog_.Load({shared_data_dir / kSharedSchemeDir, user_data_dir / kSchemePackDir},
                {shared_data_dir, KAVI_LIBIME_DATA_DIR, KAVI_LIBIME_MODEL_DIR});
}

bool SchemeLoader::Start(const std::string& id, bool extension_b, std::string* message) {
  SchemeDefinition scheme;
  std::shared_ptr<const libime::StaticLanguageModelFile> model;
  if (!Prepare(id, &scheme, &model, message)) return false;
  auto build = [scheme, model, extension_b, dir = user_data_dir_] {
    return Build(scheme, model, extension_b, dir);
  };
  try {
    loading_ = std::async(std::launch::async, build);
  } catch (const std::system_error&) {
    // No thread to be had: load here instead.
    std::promise<LoadedScheme> done;
    done.set_value(build());
    loading_ = done.get_future();
  }
  return true;
}

LoadedScheme SchemeLoader::Wait() {
  return loading_.valid() ? loading_.get() : LoadedScheme{};
}

LoadedScheme SchemeLoader::LoadNow(const std::string& id, bool extension_b) {
  SchemeDefinition scheme;
  std::shared_ptr<const libime::StaticLanguageModelFile> model;
  LoadedScheme loaded;
  if (!Prepare(id, &scheme, &model, &loaded.message)) return loaded;
  return Build(scheme, std::move(model), extension_b, user_data_dir_);
}

bool SchemeLoader::Prepare(const std::string& id, SchemeDefinition* scheme,
                           std::shared_ptr<const libime::StaticLanguageModelFile>* model,
                           std::string* message) {
  const SchemeDefinition* found = catalog_.Find(id);
  if (!found) {
    *message = "no scheme \"" + id + "\"";
    return false;
  }
  *model = models_.Get(found->language_model, message);
  if (!*model) return false;
  *scheme = *found;
  return true;
}

LoadedScheme SchemeLoader::Build(const SchemeDefinition& scheme,
                                 std::shared_ptr<const libime::StaticLanguageModelFile> model,
                                 bool extension_b, const std::filesystem::path& user_data_dir) {
  LoadedScheme loaded;
  loaded.kind = scheme.kind;
  if (scheme.kind == SchemeKind::kPinyin) {
    loaded.composer = PinyinComposer::Create(scheme, std::move(model), &loaded.message);
  } else {
    loaded.composer = TableComposer::Create(scheme, std::move(model), &loaded.message);
  }
  if (!loaded.composer) return loaded;
  loaded.composer->SetExtensionB(extension_b);
  std::string message;
  if (!loaded.composer->LoadUserData(UserDb(user_data_dir, scheme.id), &message)) {
    loaded.message = "user data of " + scheme.id + ": " + message;
  }
  return loaded;
}

}  // namespace kavi::win
