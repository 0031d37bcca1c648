// Turns a scheme id into a ready composer: finds the scheme file, maps its language model (once
// per file, shared by every scheme), reads its dictionaries and the user's learned data. The
// reading may run on a thread of its own so that start-up does not wait for the dictionaries.
#pragma once

#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "ovra/composer.h"
#include "ovra/model_store.h"
#include "ovra/scheme.h"

namespace kavi::win {

struct LoadedScheme {
  std::unique_ptr<Composer> composer;  // null when the scheme could not be loaded
  SchemeKind kind = SchemeKind::kPinyin;
  std::string message;  // why there is no composer, or what went wrong with the user data
};

class SchemeLoader {
 public:
  // Reads the scheme files of "<shared>/schemas" and of the pack directory "<user>/build".
  void LoadCatalog(const std::filesystem::path& shared_data_dir,
                   const std::filesystem::path& user_data_dir);

  // Starts loading the scheme in the background; false with a message when it is unknown.
  bool Start(const std::string& id, bool extension_b, std::string* message);
  bool loading() const { return loading_.valid(); }
  // Waits for the scheme that Start began.
  LoadedScheme Wait();
  LoadedScheme LoadNow(const std::string& id, bool extension_b);

 private:
  bool Prepare(const std::string& id, SchemeDefinition* scheme,
               std::shared_ptr<const libime::StaticLanguageModelFile>* model, std::string* message);
  // Touches nothing of the loader, so it may run on any thread.
  static LoadedScheme Build(const SchemeDefinition& scheme,
                            std::shared_ptr<const libime::StaticLanguageModelFile> model,
                            bool extension_b, const std::filesystem::path& user_data_dir);

  SchemeCatalog catalog_;
  ModelStore models_;
  std::filesystem::path user_data_dir_;
  std::future<LoadedScheme> loading_;
};

}  // namespace kavi::win
