// SPDX-License-Identifier: Apache-2.0
// Shape-based table schemes (wubi, cangjie, ...) over libime's TableContext: code lookup,
// completion hints, auto-commit of a sole full-length candidate, and learned word order.
#pragma once

#include <memory>
#include <string>

#include "ovra/composer.h"

namespace libime {
class TableBasedDictionary;
class TableContext;
class UserLanguageModel;
class StaticLanguageModelFile;
}  // namespace libime

namespace kavi::win {

struct SchemeDefinition;

class TableComposer final : public Composer {
 public:
  static std::unique_ptr<TableComposer> Create(
      const SchemeDefinition& scheme,
      std::shared_ptr<const libime::StaticLanguageModelFile> language_model, std::string* message);
  ~TableComposer() override;

  bool AcceptsInput(char c) const override;
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
  // Tables have no extension-B dictionary of their own.
  void SetExtensionB(bool enabled) override {}
  bool LoadUserData(const UserDb& db, std::string* message) override;
  bool SaveUserData(const UserDb& db, std::string* message) override;
  UserDataText ExportUserData() override;
  bool MergeUserData(const UserDataText& text, std::string* message) override;
  bool ReadUserDataText(const UserDb& db, UserDataText* out, std::string* message) override;

 private:
  TableComposer(std::unique_ptr<libime::TableBasedDictionary> dict,
                std::unique_ptr<libime::UserLanguageModel> model, bool auto_select);
  // Commits what the context already converted and keeps the code typed after it.
  Selection TakeSelected();

  std::unique_ptr<libime::TableBasedDictionary> dict_;
  std::unique_ptr<libime::UserLanguageModel> model_;
  std::unique_ptr<libime::TableContext> context_;
  bool auto_select_;
  bool learn_pending_ = false;
};

}  // namespace kavi::win
