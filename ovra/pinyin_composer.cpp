// SPDX-License-Identifier: Apache-2.0
#include "ovra/pinyin_composer.h"

#include <libime/core/historybigram.h>
#include <libime/core/prediction.h>
#include <libime/core/userlanguagemodel.h>
#include <libime/pinyin/pinyincontext.h>
#include <libime/pinyin/pinyindictionary.h>
#include <libime/pinyin/pinyinencoder.h>
#include <libime/pinyin/pinyinime.h>
#include <libime/pinyin/shuangpinprofile.h>

#include <algorithm>
#include <exception>
#include <sstream>
#include <string_view>
#include <utility>

#include "ovra/flat_dictionary.h"
#include "ovra/history_text.h"
#include "ovra/log.h"
#include "ovra/scheme.h"
#include "ovra/user_data_text.h"
#include "ovra/user_db.h"

namespace kavi::win {
namespace {

// Sentence alternatives kept besides the best conversion.
constexpr size_t kSentenceCandidates = 2;
// Paths the sentence search keeps per position. libime keeps 20; 6 finds the same first
// candidates on every key of our sentence corpus and spends a quarter less per key on long
// input (the search is most of a key's work).
constexpr size_t kSentenceBeam = 6;

bool ShuangpinLayout(const std::string& name, libime::ShuangpinBuiltinProfile* profile) {
  static const std::pair<const char*, libime::ShuangpinBuiltinProfile> kLayouts[] = {
      {"ziranma", libime::ShuangpinBuiltinProfile::Ziranma},
      {"ms", libime::ShuangpinBuiltinProfile::MS},
      {"ziguang", libime::ShuangpinBuiltinProfile::Ziguang},
      {"abc", libime::ShuangpinBuiltinProfile::ABC},
      {"zhongwenzhixing", libime::ShuangpinBuiltinProfile::Zhongwenzhixing},
      {"pinyinjiajia", libime::ShuangpinBuiltinProfile::PinyinJiajia},
      {"xiaohe", libime::ShuangpinBuiltinProfile::Xiaohe},
  };
  for (const auto& [layout_name, layout] : kLayouts) {
    if (name == layout_name) {
      *profile = layout;
      return true;
    }
  }
  return false;
}

bool FuzzyFlag(const std::string& name, libime::PinyinFuzzyFlags* flags) {
  using F = libime::PinyinFuzzyFlag;
  static const std::pair<const char*, F> kFlags[] = {
      {"common_typo", F::CommonTypo},
      {"v_u", F::V_U},
      {"an_ang", F::AN_ANG},
      {"en_eng", F::EN_ENG},
      {"ian_iang", F::IAN_IANG},
      {"in_ing", F::IN_ING},
      {"u_ou", F::U_OU},
      {"uan_uang", F::UAN_UANG},
      {"ch_c", F::C_CH},
      {"f_h", F::F_H},
      {"l_n", F::L_N},
      {"sh_s", F::S_SH},
      {"zh_z", F::Z_ZH},
      {"ve_ue", F::VE_UE},
      {"inner", F::Inner},
      {"inner_short", F::InnerShort},
      {"partial_final", F::PartialFinal},
      {"partial_sp", F::PartialSp},
  };
  for (const auto& [flag_name, flag] : kFlags) {
    if (name == flag_name) {
      *flags |= flag;
      return true;
    }
  }
  return false;
}

// The letters of text in lower case; separators and anything else dropped.
std::string LettersOnly(std::string_view text) {
  std::string letters;
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c >= 'a' && c <= 'z') letters.push_back(c);
  }
  return letters;
}

std::string SpacedPinyin(std::string full) {
  std::replace(full.begin(), full.end(), '\'', ' ');
  return full;
}

constexpr std::string_view kUmlautU = "ü";

// Every whole syllable as it is typed ("lv" for lü, and "lue" too for lüe); the bare nasals
// (n, ng, m, r) are left out: they read almost any consonant as a syllable.
const std::vector<std::string>& WholeSyllables() {
  static const std::vector<std::string> syllables = [] {
    using libime::PinyinEncoder;
    std::vector<std::string> all;
    for (char i = PinyinEncoder::firstInitial; i <= PinyinEncoder::lastInitial; ++i) {
      for (char f = PinyinEncoder::firstFinal; f <= PinyinEncoder::lastFinal; ++f) {
        const auto initial = static_cast<libime::PinyinInitial>(i);
        const auto final = static_cast<libime::PinyinFinal>(f);
        if (!PinyinEncoder::isValidInitialFinal(initial, final)) continue;
        std::string syllable = PinyinEncoder::initialFinalToPinyinString(initial, final);
        if (const size_t u = syllable.find(kUmlautU); u != std::string::npos) {
          syllable.replace(u, kUmlautU.size(), "v");
          if (syllable.ends_with("ve"))
            all.push_back(syllable.substr(0, syllable.size() - 2) + "ue");
        }
        if (syllable.find_first_of("aeiouv") != std::string::npos) all.push_back(syllable);
      }
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
  }();
  return syllables;
}

// Whether letters split into whole syllables.
bool SplitsIntoSyllables(std::string_view letters) {
  constexpr size_t kLongestSyllable = 6;  // "zhuang"
  const auto& syllables = WholeSyllables();
  std::vector<bool> ends(letters.size() + 1, false);
  ends[0] = true;
  for (size_t from = 0; from < letters.size(); ++from) {
    if (!ends[from]) continue;
    for (size_t to = from + 1; to <= std::min(letters.size(), from + kLongestSyllable); ++to) {
      if (std::binary_search(syllables.begin(), syllables.end(), letters.substr(from, to - from))) {
        ends[to] = true;
      }
    }
  }
  return ends[letters.size()];
}

}  // namespace

std::unique_ptr<PinyinComposer> PinyinComposer::Create(
    const SchemeDefinition& scheme,
    std::shared_ptr<const libime::StaticLanguageModelFile> language_model,
    const std::filesystem::path& flat_dir, std::string* message) {
  libime::PinyinFuzzyFlags flags = libime::PinyinFuzzyFlag::None;
  for (const auto& name : scheme.fuzzy) {
    if (!FuzzyFlag(name, &flags)) {
      *message = "unknown fuzzy flag \"" + name + "\"";
      return nullptr;
    }
  }
  libime::ShuangpinBuiltinProfile layout{};
  bool shuangpin = !scheme.shuangpin_layout.empty();
  if (shuangpin && !ShuangpinLayout(scheme.shuangpin_layout, &layout)) {
    *message = "unknown shuangpin layout \"" + scheme.shuangpin_layout + "\"";
    return nullptr;
  }
  try {
    auto dict = std::make_unique<FlatLoadingDictionary>();
    std::string note;
    dict->Load(libime::PinyinDictionary::SystemDict, scheme.dictionaries[0], flat_dir, &note);
    if (!note.empty()) LogEngineEvent(note);
    for (size_t i = 1; i < scheme.dictionaries.size(); ++i) {
      dict->addEmptyDict();
      dict->Load(dict->dictSize() - 1, scheme.dictionaries[i], flat_dir, &note);
      if (!note.empty()) LogEngineEvent(note);
    }
    auto ime = std::make_unique<libime::PinyinIME>(
        std::move(dict), std::make_unique<libime::UserLanguageModel>(std::move(language_model)));
    ime->setNBest(kSentenceCandidates);
    ime->setBeamSize(kSentenceBeam);
    ime->setFuzzyFlags(flags);
    if (shuangpin) ime->setShuangpinProfile(std::make_shared<libime::ShuangpinProfile>(layout));
    message->clear();
    return std::unique_ptr<PinyinComposer>(
        new PinyinComposer(std::move(ime), scheme.extension_b, shuangpin, scheme.fuzzy));
  } catch (const std::exception& e) {
    *message = "cannot load scheme " + scheme.id + ": " + e.what();
    return nullptr;
  }
}

PinyinComposer::PinyinComposer(std::unique_ptr<libime::PinyinIME> ime,
                               std::filesystem::path extension_b, bool shuangpin,
                               std::vector<std::string> scheme_fuzzy)
    : ime_(std::move(ime)),
      context_(std::make_unique<libime::PinyinContext>(ime_.get())),
      scratch_(std::make_unique<libime::PinyinContext>(ime_.get())),
      prediction_(std::make_unique<libime::Prediction>()),
      extension_b_path_(std::move(extension_b)),
      shuangpin_(shuangpin),
      scheme_fuzzy_(std::move(scheme_fuzzy)) {
  context_->setUseShuangpin(shuangpin);
  scratch_->setUseShuangpin(shuangpin);
  prediction_->setUserLanguageModel(ime_->model());
}

PinyinComposer::~PinyinComposer() = default;

bool PinyinComposer::AcceptsInput(char c) const {
  if (context_->size() >= kMaxInputBytes) return false;
  if (shuangpin_) {
    const auto& valid = ime_->shuangpinProfile()->validInput();
    return valid.count(c) > 0 && (c >= 'a' && c <= 'z' ? true : !context_->empty());
  }
  return (c >= 'a' && c <= 'z') || (c == '\'' && !context_->empty());
}

bool PinyinComposer::Full() const {
  return context_->size() >= kMaxInputBytes;
}

void PinyinComposer::SetUserFuzzy(const std::vector<std::string>& names) {
  libime::PinyinFuzzyFlags flags = libime::PinyinFuzzyFlag::None;
  for (const auto& name : scheme_fuzzy_) FuzzyFlag(name, &flags);
  // The names were checked when the user's file was read.
  for (const auto& name : names) FuzzyFlag(name, &flags);
  ime_->setFuzzyFlags(flags);
  // The context keeps the reading it made before; typing the input again reads it anew.
  if (context_->empty()) return;
  const std::string input = context_->userInput();
  context_->clear();
  context_->type(input);
}

bool PinyinComposer::ReadsAsPinyin() const {
  if (shuangpin_) return true;
  std::string_view rest(context_->userInput());
  rest.remove_prefix(std::min(context_->selectedLength(), rest.size()));
  while (!rest.empty()) {
    const size_t mark = rest.find('\'');
    if (!SplitsIntoSyllables(rest.substr(0, mark))) return false;
    rest.remove_prefix(mark == std::string_view::npos ? rest.size() : mark + 1);
  }
  return true;
}

Selection PinyinComposer::SettleFront() {
  const auto& candidates = context_->candidates();
  if (candidates.empty()) return {};
  const auto& sentence = candidates[0].sentence();
  const std::string input = context_->userInput();
  const size_t selected = std::min(context_->selectedLength(), input.size());
  const std::string_view rest = std::string_view(input).substr(selected);
  // Segment positions count from the end of what the user already selected.
  Selection front;
  front.text = context_->selectedSentence();
  size_t settled = 0;
  for (size_t i = 0; i + 1 < sentence.size() && settled < rest.size() / 2; ++i) {
    front.text += sentence[i]->word();
    settled = sentence[i]->to()->index();
  }
  if (settled == 0 || settled >= rest.size()) return {};
  front.done = true;
  front.input_code = input.substr(0, selected + settled);
  front.spelling = LettersOnly(front.input_code);
  const std::string remaining(rest.substr(settled));
  context_->clear();
  context_->type(remaining);
  return front;
}

Selection PinyinComposer::Type(char c) {
  context_->type(std::string_view(&c, 1));
  return {};
}

void PinyinComposer::Backspace() {
  context_->backspace();
}

void PinyinComposer::Delete() {
  context_->del();
}

void PinyinComposer::MoveCursor(int delta) {
  long target = static_cast<long>(context_->cursor()) + delta;
  target = std::clamp<long>(target, 0, static_cast<long>(context_->size()));
  context_->setCursor(static_cast<size_t>(target));
}

void PinyinComposer::MoveCursorToEnd(bool end) {
  context_->setCursor(end ? context_->size() : 0);
}

void PinyinComposer::Clear() {
  context_->clear();
}

bool PinyinComposer::Empty() const {
  return context_->empty();
}

const std::string& PinyinComposer::Input() const {
  return context_->userInput();
}

std::string PinyinComposer::Preedit(size_t* cursor, size_t* unconverted_start) const {
  auto mode = shuangpin_ ? libime::PinyinPreeditMode::Pinyin : libime::PinyinPreeditMode::RawText;
  auto [text, position] = context_->preeditWithCursor(mode);
  *cursor = std::min(position, text.size());
  *unconverted_start = std::min(context_->selectedSentence().size(), text.size());
  return text;
}

size_t PinyinComposer::CandidateCount() const {
  return context_->candidates().size();
}

std::string PinyinComposer::CandidateText(size_t index) const {
  const auto& candidates = context_->candidates();
  return index < candidates.size() ? candidates[index].toString() : std::string();
}

std::string PinyinComposer::CandidateComment(size_t index) const {
  const auto& candidates = context_->candidates();
  if (index >= candidates.size() || candidates[index].sentence().empty()) return {};
  const auto& sentence = candidates[index].sentence();
  std::string full = context_->candidateFullPinyin(index);
  std::string_view rest(context_->userInput());
  rest.remove_prefix(std::min(context_->selectedLength(), rest.size()));
  size_t from = sentence.front()->from()->index();
  size_t to = sentence.back()->to()->index();
  if (from > to || to > rest.size()) return {};
  std::string typed = LettersOnly(rest.substr(from, to - from));
  if (shuangpin_) {
    size_t syllables = std::count(full.begin(), full.end(), '\'') + 1;
    if (typed.size() >= syllables * 2) return {};
  } else if (typed == LettersOnly(full)) {
    return {};
  }
  return SpacedPinyin(std::move(full));
}

Selection PinyinComposer::Select(size_t index) {
  if (index >= context_->candidates().size()) return {};
  context_->select(index);
  Selection result;
  if (context_->selected()) {
    result.done = true;
    result.text = context_->selectedSentence();
    result.input_code = context_->userInput();
    result.spelling = LettersOnly(context_->selectedFullPinyin());
  }
  return result;
}

void PinyinComposer::Learn() {
  context_->learn();
}

std::string PinyinComposer::ExpandInput(const std::string& input) {
  if (input == context_->userInput() && !context_->candidates().empty()) {
    return LettersOnly(context_->selectedFullPinyin() + context_->candidateFullPinyin(0));
  }
  std::string code;
  for (char c : input) {
    if (code.size() >= kMaxInputBytes) break;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || c == '\'' || (shuangpin_ && c == ';')) code.push_back(c);
  }
  scratch_->clear();
  scratch_->type(code);
  std::string expanded;
  if (!scratch_->candidates().empty()) expanded = LettersOnly(scratch_->candidateFullPinyin(0));
  scratch_->clear();
  return expanded;
}

std::vector<std::string> PinyinComposer::Predict(const std::vector<std::string>& committed,
                                                 size_t max_count) {
  if (committed.empty()) return {};
  try {
    return prediction_->predict(committed, max_count);
  } catch (const std::exception&) {
    return {};
  }
}

void PinyinComposer::SetExtensionB(bool enabled) {
  if (extension_b_path_.empty()) return;
  auto* dict = ime_->dict();
  if (enabled && extension_b_index_ == 0) {
    try {
      dict->addEmptyDict();
      extension_b_index_ = dict->dictSize() - 1;
      dict->load(extension_b_index_, extension_b_path_.c_str(), libime::PinyinDictFormat::Binary);
    } catch (const std::exception&) {
      dict->clear(extension_b_index_);
    }
  }
  if (extension_b_index_ != 0) {
    dict->setFlags(extension_b_index_,
                   enabled ? libime::PinyinDictFlags{libime::PinyinDictFlag::NoFlag}
                           : libime::PinyinDictFlags{libime::PinyinDictFlag::Disabled});
  }
}

bool PinyinComposer::LoadUserData(const UserDb& db, std::string* message) {
  auto* dict = ime_->dict();
  auto* model = ime_->model();
  std::string dict_message;
  bool dict_ok = db.Read(
      kUserDictFile,
      [dict](std::istream& in) {
        dict->load(libime::PinyinDictionary::UserDict, in, libime::PinyinDictFormat::Binary);
      },
      &dict_message);
  if (!dict_ok) dict->clear(libime::PinyinDictionary::UserDict);
  bool history_ok = db.Read(
      kUserHistoryFile, [model](std::istream& in) { model->load(in); }, message);
  if (!history_ok) model->history().clear();
  if (!dict_ok) *message = dict_message;
  return dict_ok && history_ok;
}

bool PinyinComposer::SaveUserData(const UserDb& db, std::string* message) {
  auto* dict = ime_->dict();
  auto* model = ime_->model();
  return db.Write(
             kUserDictFile,
             [dict](std::ostream& out) {
               dict->save(libime::PinyinDictionary::UserDict, out,
                          libime::PinyinDictFormat::Binary);
             },
             message) &&
         db.Write(
             kUserHistoryFile, [model](std::ostream& out) { model->save(out); }, message);
}

UserDataText PinyinComposer::ExportUserData() {
  UserDataText text;
  std::ostringstream words;
  ime_->dict()->save(libime::PinyinDictionary::UserDict, words, libime::PinyinDictFormat::Text);
  text.words = words.str();
  text.history = HistoryText(ime_->model()->history());
  return text;
}

bool PinyinComposer::MergeUserData(const UserDataText& text, std::string* message) {
  auto* dict = ime_->dict();
  bool ok = true;
  std::ostringstream saved;
  dict->save(libime::PinyinDictionary::UserDict, saved, libime::PinyinDictFormat::Text);
  const std::string ours = saved.str();
  const std::string merged = MergeWordLines(ours, text.words);
  if (merged != ours) {
    // Loading text replaces the dictionary: the merged list carries ours too.
    try {
      std::istringstream in(merged);
      dict->load(libime::PinyinDictionary::UserDict, in, libime::PinyinDictFormat::Text);
    } catch (const std::exception& e) {
      std::istringstream in(ours);
      dict->load(libime::PinyinDictionary::UserDict, in, libime::PinyinDictFormat::Text);
      *message = std::string("unusable words: ") + e.what();
      ok = false;
    }
  }
  return AdoptHistoryText(ime_->model()->history(), text.history, message) && ok;
}

bool PinyinComposer::ReadUserDataText(const UserDb& db, UserDataText* out, std::string* message) {
  libime::PinyinDictionary dict;
  libime::HistoryBigram history;
  if (!db.Peek(
          kUserDictFile,
          [&](std::istream& in) {
            dict.load(libime::PinyinDictionary::UserDict, in, libime::PinyinDictFormat::Binary);
          },
          message) ||
      !db.Peek(
          kUserHistoryFile, [&](std::istream& in) { history.load(in); }, message)) {
    return false;
  }
  std::ostringstream words;
  dict.save(libime::PinyinDictionary::UserDict, words, libime::PinyinDictFormat::Text);
  out->words = words.str();
  out->history = HistoryText(history);
  return true;
}

}  // namespace kavi::win
