// SPDX-License-Identifier: Apache-2.0
// Full pinyin and shuangpin over libime's PinyinContext: sentence conversion with the language
// model, abbreviations, the user dictionary and history, and next-word prediction.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ovra/composer.h"

namespace libime {
class PinyinIME;
class PinyinContext;
class Prediction;
class StaticLanguageModelFile;
}  // namespace libime

namespace kavi::win {

struct SchemeDefinition;

class PinyinComposer final : public Composer {
 public:
  // Longest raw input kept; conversion time grows with it and nobody types more per word.
  static constexpr size_t kMaxInputBytes = 64;

  // The scheme's dictionaries come from their flat lists in `flat_dir` where current ones are
  // there (flat_dictionary.h), else from the dictionaries themselves.
  static std::unique_ptr<PinyinComposer> Create(
      const SchemeDefinition& scheme,
      std::shared_ptr<const libime::StaticLanguageModelFile> language_model,
      const std::filesystem::path& flat_dir, std::string* message);
  ~PinyinComposer() override;

  void SetUserFuzzy(const std::vector<std::string>& names) override;
  bool ReadsAsPinyin() const override;
  bool AcceptsInput(char c) const override;
  bool Full() const override;
  Selection SettleFront() override;
  Selection Type(char c) override;
  void Backspace() override;
  void Delete() override;
  void MoveCursor(int delta) override;
  void MoveCursorToEnd(bool end) override;
  void Clear() override;
  bool Empty() const override;
  const std::string& Input() const override;
  std::string Preedit(size_t* cursor, size_t* unconverted_start) const override;
  size_t CandidateCount() const override;
  std::string CandidateText(size_t index) const override;
  std::string CandidateComment(size_t index) const override;
  Selection Select(size_t index) override;
  void Learn() override;
  std::string ExpandInput(const std::string& input) override;
  std::vector<std::string> Predict(const std::vector<std::string>& committed,
                                   size_t max_count) override;
  void SetExtensionB(bool enabled) override;
  bool LoadUserData(const UserDb& db, std::string* message) override;
  bool SaveUserData(const UserDb& db, std::string* message) override;
  UserDataText ExportUserData() override;
  bool MergeUserData(const UserDataText& text, std::string* message) override;
  bool ReadUserDataText(const UserDb& db, UserDataText* out, std::string* message) override;

 private:
  PinyinComposer(std::unique_ptr<libime::PinyinIME> ime, std::filesystem::path extension_b,
                 bool shuangpin, std::vector<std::string> scheme_fuzzy);

  std::unique_ptr<libime::PinyinIME> ime_;
  std::unique_ptr<libime::PinyinContext> context_;
  // Spells out inputs other than the one being composed, without disturbing it.
  std::unique_ptr<libime::PinyinContext> scratch_;
  std::unique_ptr<libime::Prediction> prediction_;
  std::filesystem::path extension_b_path_;
  size_t extension_b_index_ = 0;  // 0: not loaded
  bool shuangpin_;
  std::vector<std::string> scheme_fuzzy_;  // the scheme's own flags; the user's add to them
};

}  // namespace kavi::win
