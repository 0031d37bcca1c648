// SPDX-License-Identifier: Apache-2.0
#include "ovra/table_composer.h"

#include <libime/core/historybigram.h>
#include <libime/core/userlanguagemodel.h>
#include <libime/table/tablebaseddictionary.h>
#include <libime/table/tablecontext.h>
#include <libime/table/tableoptions.h>

#include <exception>
#include <sstream>

#include "ovra/history_text.h"
#include "ovra/scheme.h"
#include "ovra/user_data_text.h"
#include "ovra/user_db.h"

namespace kavi::win {
namespace {

libime::OrderPolicy OrderPolicyNamed(const std::string& name) {
  if (name == "no") return libime::OrderPolicy::No;
  if (name == "freq") return libime::OrderPolicy::Freq;
  return libime::OrderPolicy::Fast;
}

}  // namespace

std::unique_ptr<TableComposer> TableComposer::Create(
    const SchemeDefinition& scheme,
    std::shared_ptr<const libime::StaticLanguageModelFile> language_model, std::string* message) {
  try {
    auto dict = std::make_unique<libime::TableBasedDictionary>();
    dict->load(scheme.dictionaries[0].c_str(), libime::TableFormat::Binary);
    libime::TableOptions options;
    options.setOrderPolicy(OrderPolicyNamed(scheme.table.order));
    options.setLearning(scheme.table.learning);
    // Auto-commit happens here, not inside the context, so the commit reaches the application
    // at once instead of piling up in the preedit.
    options.setAutoSelect(false);
    options.setLanguageCode("zh_CN");
    dict->setTableOptions(options);
    auto model = std::make_unique<libime::UserLanguageModel>(std::move(language_model));
    message->clear();
    return std::unique_ptr<TableComposer>(
        new TableComposer(std::move(dict), std::move(model), scheme.table.auto_select));
  } catch (const std::exception& e) {
    *message = "cannot load scheme " + scheme.id + ": " + e.what();
    return nullptr;
  }
}

TableComposer::TableComposer(std::unique_ptr<libime::TableBasedDictionary> dict,
                             std::unique_ptr<libime::UserLanguageModel> model, bool auto_select)
    : dict_(std::move(dict)),
      model_(std::move(model)),
      context_(std::make_unique<libime::TableContext>(*dict_, *model_)),
      auto_select_(auto_select) {}

TableComposer::~TableComposer() = default;

bool TableComposer::AcceptsInput(char c) const {
  return static_cast<unsigned char>(c) < 0x80 && context_->isValidInput(static_cast<uint32_t>(c));
}

Selection TableComposer::Type(char c) {
  const std::string& code = context_->currentCode();
  Selection finished;
  // A full-length code followed by another key: the first candidate is taken and the key starts
  // the next code.
  if (code.size() >= dict_->maxLength() && context_->candidates().size() > 0) {
    finished = Select(0);
    if (finished.done) Learn();
    context_->clear();
  }
  context_->type(std::string_view(&c, 1));
  if (auto_select_ && context_->currentCode().size() >= dict_->maxLength() &&
      context_->candidates().size() == 1) {
    Selection sole = Select(0);
    if (sole.done) {
      Learn();
      context_->clear();
      finished.done = true;
      finished.text += sole.text;
      finished.input_code += sole.input_code;
      finished.spelling += sole.spelling;
    }
  }
  return finished;
}

void TableComposer::Backspace() {
  context_->backspace();
}

void TableComposer::Delete() {
  context_->del();
}

// A shape code is short and edited from its end only; there is no cursor to move.
void TableComposer::MoveCursor(int delta) {}

void TableComposer::MoveCursorToEnd(bool end) {}

void TableComposer::Clear() {
  context_->clear();
}

bool TableComposer::Empty() const {
  return context_->empty();
}

const std::string& TableComposer::Input() const {
  return context_->userInput();
}

std::string TableComposer::Preedit(size_t* cursor, size_t* unconverted_start) const {
  std::string text = context_->preedit();
  *cursor = text.size();
  *unconverted_start = std::min(context_->selectedSentence().size(), text.size());
  return text;
}

size_t TableComposer::CandidateCount() const {
  return context_->candidates().size();
}

std::string TableComposer::CandidateText(size_t index) const {
  auto candidates = context_->candidates();
  return index < candidates.size() ? candidates[index].toString() : std::string();
}

std::string TableComposer::CandidateComment(size_t index) const {
  if (index >= context_->candidates().size()) return {};
  return context_->candidateHint(index);
}

Selection TableComposer::Select(size_t index) {
  if (index >= context_->candidates().size()) return {};
  context_->select(index);
  return TakeSelected();
}

Selection TableComposer::TakeSelected() {
  Selection result;
  if (!context_->selected()) return result;
  result.done = true;
  result.text = context_->selectedSentence();
  for (size_t i = 0; i < context_->selectedSize(); ++i) {
    result.input_code += context_->selectedCode(i);
  }
  result.spelling = ExpandInput(result.input_code);
  learn_pending_ = true;
  return result;
}

void TableComposer::Learn() {
  if (!learn_pending_) return;
  learn_pending_ = false;
  context_->learn();
}

std::string TableComposer::ExpandInput(const std::string& input) {
  std::string code;
  for (char c : input) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c >= 'a' && c <= 'z') code.push_back(c);
  }
  return code;
}

std::vector<std::string> TableComposer::Predict(const std::vector<std::string>& committed,
                                                size_t max_count) {
  return {};
}

bool TableComposer::LoadUserData(const UserDb& db, std::string* message) {
  auto* dict = dict_.get();
  auto* model = model_.get();
  std::string dict_message;
  bool dict_ok = db.Read(
      kUserDictFile, [dict](std::istream& in) { dict->loadUser(in, libime::TableFormat::Binary); },
      &dict_message);
  bool history_ok = db.Read(
      kUserHistoryFile, [model](std::istream& in) { model->load(in); }, message);
  if (!history_ok) model->history().clear();
  if (!dict_ok) *message = dict_message;
  return dict_ok && history_ok;
}

bool TableComposer::SaveUserData(const UserDb& db, std::string* message) {
  auto* dict = dict_.get();
  auto* model = model_.get();
  return db.Write(
             kUserDictFile,
             [dict](std::ostream& out) { dict->saveUser(out, libime::TableFormat::Binary); },
             message) &&
         db.Write(
             kUserHistoryFile, [model](std::ostream& out) { model->save(out); }, message);
}

UserDataText TableComposer::ExportUserData() {
  UserDataText text;
  std::ostringstream words;
  dict_->saveUser(words, libime::TableFormat::Text);
  text.words = words.str();
  text.history = HistoryText(model_->history());
  return text;
}

bool TableComposer::MergeUserData(const UserDataText& text, std::string* message) {
  bool ok = true;
  if (!text.words.empty()) {
    // Loading the table's text form adds its phrases to those already there.
    try {
      std::istringstream in(text.words);
      dict_->loadUser(in, libime::TableFormat::Text);
    } catch (const std::exception& e) {
      *message = std::string("unusable words: ") + e.what();
      ok = false;
    }
  }
  return AdoptHistoryText(model_->history(), text.history, message) && ok;
}

bool TableComposer::ReadUserDataText(const UserDb& db, UserDataText* out, std::string* message) {
  libime::TableBasedDictionary dict;
  libime::HistoryBigram history;
  if (!db.Peek(
          kUserDictFile, [&](std::istream& in) { dict.loadUser(in, libime::TableFormat::Binary); },
          message) ||
      !db.Peek(
          kUserHistoryFile, [&](std::istream& in) { history.load(in); }, message)) {
    return false;
  }
  std::ostringstream words;
  dict.saveUser(words, libime::TableFormat::Text);
  out->words = words.str();
  out->history = HistoryText(history);
  return true;
}

}  // namespace kavi::win
