// SPDX-License-Identifier: Apache-2.0
#include "ovra/engine.h"

#include <algorithm>
#include <cctype>

#include "ovra/composer.h"
#include "ovra/keys.h"
#include "ovra/log.h"
#include "ovra/user_db.h"
#include "platform/identity.h"
#include "platform/instance_lock.h"

namespace kavi::win {
namespace {

// Learned words are written out after this many commits as well as on sync and shutdown, so a
// crash of the server loses little.
constexpr size_t kWordsPerSave = 32;
// How far down the list a cloud word pair may lift a candidate from.
constexpr size_t kBigramReach = 100;
// Where a known English word typed in lower case shows: right after the conversion, which keeps
// the first place that typists rely on.
constexpr size_t kEnglishWordPlace = 1;
// How a candidate shows the line feeds of a custom phrase: the list holds one line each.
constexpr std::string_view kLineFeedMark = "⏎";

bool IsModifierKey(uint32_t key) {
  return key >= 0xFFE1 && key <= 0xFFEE;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      line += kLineFeedMark;
    } else {
      line.push_back(c == '\t' ? ' ' : c);
    }
  }
  return line;
}

}  // namespace

Engine::Engine() = default;
Engine::~Engine() = default;

void Engine::Setup(EnginePaths paths) {
  paths_ = std::move(paths);
  sync_ = SyncFolder(paths_.user_data_dir, InstallationId());
  user_files_.SetDirectory(paths_.user_data_dir);
  std::lock_guard<std::mutex> lock(restart_mutex_);
  restart_paths_ = paths_;
}

void Engine::PrepareRestart() {
  std::string id;
  EnginePaths paths;
  bool extension_b = false;
  {
    std::lock_guard<std::mutex> lock(restart_mutex_);
    if (adopted_id_.empty()) return;
    id = adopted_id_;
    paths = restart_paths_;
    extension_b = adopted_extension_b_;
  }
  // A loader of its own (the engine's belongs to the thread that holds the engine), reading the
  // catalogue afresh as Initialize will; the models are shared.
  SchemeLoader loader(models_);
  loader.LoadCatalog(paths.shared_data_dir, paths.user_data_dir);
  LoadedScheme scheme = loader.LoadShared(id, extension_b);
  if (!scheme.composer) return;  // Initialize loads it (or reports why it cannot)
  std::lock_guard<std::mutex> lock(restart_mutex_);
  prepared_ = Prepared{std::move(id), std::move(scheme)};
}

void Engine::Initialize() {
  if (composer_ || pending_.valid()) return;
  loader_.LoadCatalog(paths_.shared_data_dir, paths_.user_data_dir);
  user_files_.Refresh();
  std::optional<Prepared> prepared;
  {
    std::lock_guard<std::mutex> lock(restart_mutex_);
    prepared.swap(prepared_);
  }
  if (started_before_ && prepared && prepared->id == scheme_id_) {
    LoadedScheme loaded = std::move(prepared->scheme);
    loaded.composer->SetExtensionB(extension_b_);
    loader_.AddUserData(scheme_id_, &loaded);
    if (!loaded.message.empty()) LogEngineEvent(loaded.message);
    Adopt(std::move(loaded), scheme_id_);
    ClearComposition();
    return;
  }
  prepared.reset();
  // The dictionaries and the language model take most of the first start; they load while the
  // server gets ready to serve. Setting changes only record their values meanwhile; the first call
  // that needs the scheme waits for it (well within a client's time-out).
  pending_id_ = scheme_id_;
  pending_extension_b_ = extension_b_;
  pending_ = std::async(std::launch::async,
                        [this, id = pending_id_, extension_b = pending_extension_b_] {
                          return loader_.Load(id, extension_b);
                        });
  // A restart (after a maintenance job) is over only when the scheme is back: its caller
  // reports how it went, and the language model is already mapped.
  if (started_before_) AwaitScheme();
  started_before_ = true;
}

void Engine::AwaitScheme() {
  if (!pending_.valid()) return;
  LoadedScheme loaded = pending_.get();
  if (!loaded.message.empty()) LogEngineEvent(loaded.message);
  if (pending_id_ != scheme_id_) {
    // Another scheme was chosen while this one loaded.
    loaded = loader_.Load(scheme_id_, extension_b_);
    if (!loaded.message.empty()) LogEngineEvent(loaded.message);
  } else if (loaded.composer && pending_extension_b_ != extension_b_) {
    loaded.composer->SetExtensionB(extension_b_);
  }
  if (!loaded.composer && scheme_id_ != kDefaultScheme) {
    scheme_id_ = kDefaultScheme;
    loaded = loader_.Load(scheme_id_, extension_b_);
    if (!loaded.message.empty()) LogEngineEvent(loaded.message);
  }
  Adopt(std::move(loaded), scheme_id_);
  ClearComposition();
}

void Engine::Adopt(LoadedScheme loaded, const std::string& id) {
  composer_ = std::move(loaded.composer);
  english_words_ = std::move(loaded.english_words);
  scheme_kind_ = loaded.kind;
  scheme_id_ = id;
  if (!composer_) return;
  composer_->SetUserFuzzy(user_files_.pinyin().fuzzy);
  {
    std::lock_guard<std::mutex> lock(restart_mutex_);
    adopted_id_ = scheme_id_;
    adopted_extension_b_ = extension_b_;
  }
  dict_stamp_ = UserDb(paths_.user_data_dir, scheme_id_).Stamp(kUserDictFile);
  MergeSyncCopies();
}

void Engine::MergeSyncCopies() {
  std::vector<std::string> problems;
  for (const UserDataText& copy : sync_.ReadAll(scheme_id_, &problems)) {
    std::string message;
    if (!composer_->MergeUserData(copy, &message)) problems.push_back(message);
  }
  for (const std::string& problem : problems)
    LogEngineEvent("sync of " + scheme_id_ + ": " + problem);
}

void Engine::Finalize() {
  AwaitScheme();
  std::string message;
  if (composer_ && !SaveUserData(&message)) LogEngineEvent(message);
  ClearComposition();
  composer_.reset();
  commits_.Clear();
  last_committed_.clear();
  last_spelling_ = {};
}

bool Engine::SyncUserData(std::string* message) {
  AwaitScheme();
  if (!composer_) {
    if (message) message->clear();
    return true;
  }
  MergeSyncCopies();
  return SaveUserData(message);
}

void Engine::ReloadUserFiles() {
  const UserFiles::Changes changes = user_files_.Refresh();
  // While the first load runs there is no composer yet: Adopt gives it the options.
  if (changes.pinyin && composer_) composer_->SetUserFuzzy(user_files_.pinyin().fuzzy);
  if (changes.pinyin || changes.phrases) RefreshCandidates();
}

bool Engine::SaveUserData(std::string* message) {
  words_since_save_ = 0;
  const UserDb db(paths_.user_data_dir, scheme_id_);
  InstanceLock lock;
  if (!db.LockForWriting(&lock, message)) return false;
  const std::optional<FileStamp> on_disk = db.Stamp(kUserDictFile);
  if (on_disk && on_disk != dict_stamp_) {
    // Another server saved since this one read: its words join ours instead of being
    // overwritten. The history stays this one's.
    UserDataText theirs;
    std::string problem;
    if (!composer_->ReadUserDataText(db, &theirs, &problem) ||
        !composer_->MergeUserData({theirs.words, {}}, &problem)) {
      LogEngineEvent("merging " + db.directory().string() + ": " + problem);
    }
  }
  if (!composer_->SaveUserData(db, message)) return false;
  dict_stamp_ = db.Stamp(kUserDictFile);
  return sync_.Write(scheme_id_, composer_->ExportUserData(), message);
}

bool Engine::Composing() const {
  return composer_ && !composer_->Empty();
}

bool Engine::ProcessKey(uint32_t key, uint32_t modifiers) {
  AwaitScheme();
  if (!composer_ || (modifiers & keys::kReleaseMask)) return false;
  if (key == keys::kCapsLock) {
    if (good_old_caps_lock_) return false;
    SetAsciiMode(!ascii_mode_);
    return true;
  }
  if (ascii_mode_ || IsModifierKey(key)) return false;
  // Shortcuts belong to the application, but never act on it behind a half-typed word.
  if (modifiers & (keys::kControlMask | keys::kAltMask | keys::kSuperMask)) return Composing();
  if (Composing()) return HandleComposingKey(key);
  if (!predictions_.empty()) {
    bool handled = false;
    bool consumed = HandlePredictionKey(key, &handled);
    if (handled) return consumed;
  }
  return HandleIdleKey(key);
}

bool Engine::HandleIdleKey(uint32_t key) {
  if (keys::IsLower(key) && composer_->AcceptsInput(static_cast<char>(key))) {
    TypeKey(static_cast<char>(key));
    return true;
  }
  if (keys::IsUpper(key) && melt_english_ && scheme_kind_ == SchemeKind::kPinyin &&
      composer_->AcceptsInput(static_cast<char>(std::tolower(static_cast<int>(key))))) {
    TypeKey(static_cast<char>(key));
    return true;
  }
  if (key == keys::kSpace || keys::IsPrintableAscii(key)) {
    std::string mark;
    if (!keys::IsDigit(key) && !keys::IsLower(key) && !keys::IsUpper(key)) {
      mark = punctuation_.ChineseMark(key);
    }
    if (mark.empty() && full_shape_) mark = FullWidth(key);
    if (mark.empty()) return false;
    commits_.Append(mark, "", "");
    last_committed_.clear();
    return true;
  }
  return false;
}

bool Engine::HandlePredictionKey(uint32_t key, bool* handled) {
  *handled = true;
  switch (key) {
    case keys::kEscape:
      predictions_.clear();
      RebuildMenu();
      return true;
    case keys::kUp:
    case keys::kDown:
      pager_.MoveHighlight(key == keys::kUp ? -1 : 1);
      return true;
    case keys::kPageUp:
    case keys::kPageDown:
      pager_.ChangePage(key == keys::kPageUp);
      return true;
    default:
      break;
  }
  if (keys::IsDigit(key)) {
    size_t index = key == '0' ? 9 : key - '1';
    if (index < pager_.PageCount()) return SelectEntry(pager_.PageStart() + index);
  }
  // Any other key ends the prediction and does what it does without one.
  predictions_.clear();
  RebuildMenu();
  *handled = false;
  return false;
}

bool Engine::HandleComposingKey(uint32_t key) {
  if (key < 0x80 && key != ' ' && !keys::IsUpper(key) &&
      composer_->AcceptsInput(static_cast<char>(key))) {
    TypeKey(static_cast<char>(key));
    return true;
  }
  switch (key) {
    case keys::kBackSpace:
      composer_->Backspace();
      RebuildMenu();
      return true;
    case keys::kDelete:
      composer_->Delete();
      RebuildMenu();
      return true;
    case keys::kEscape:
      ClearComposition();
      return true;
    case keys::kReturn:
    case keys::kKeypadEnter:
      CommitRawInput();
      return true;
    case keys::kSpace:
      SelectEntry(pager_.HighlightedIndex());
      return true;
    case keys::kTab:
      pager_.MoveHighlight(1);
      return true;
    case keys::kHome:
    case keys::kEnd:
      composer_->MoveCursorToEnd(key == keys::kEnd);
      RebuildMenu();
      return true;
    case keys::kPageUp:
    case '-':
    case ',':
      pager_.ChangePage(true);
      return true;
    case keys::kPageDown:
    case '=':
    case '.':
      pager_.ChangePage(false);
      return true;
    case keys::kLeft:
    case keys::kRight: {
      int delta = key == keys::kLeft ? -1 : 1;
      if (linear_) {
        pager_.MoveHighlight(delta);
      } else {
        composer_->MoveCursor(delta);
        RebuildMenu();
      }
      return true;
    }
    case keys::kUp:
    case keys::kDown:
      if (linear_) {
        pager_.ChangePage(key == keys::kUp);
      } else {
        pager_.MoveHighlight(key == keys::kUp ? -1 : 1);
      }
      return true;
    default:
      break;
  }
  if (keys::IsDigit(key)) {
    size_t index = key == '0' ? 9 : key - '1';
    if (index < pager_.PageCount()) SelectEntry(pager_.PageStart() + index);
    return true;
  }
  if (keys::IsLower(key)) {
    // Input at its longest gives up its settled front part so that typing goes on; a letter the
    // code still cannot take goes back to the application: keys are never swallowed.
    const char letter = static_cast<char>(key);
    if (composer_->Full()) {
      Selection front = composer_->SettleFront();
      if (front.done) FinishWord(front);
    }
    if (!composer_->AcceptsInput(letter)) return false;
    TypeKey(letter);
    return true;
  }
  if (keys::IsUpper(key)) {
    char lower = static_cast<char>(std::tolower(static_cast<int>(key)));
    if (melt_english_ && scheme_kind_ == SchemeKind::kPinyin && composer_->AcceptsInput(lower)) {
      TypeKey(static_cast<char>(key));
    } else {
      std::string letter = full_shape_ ? FullWidth(key) : std::string(1, static_cast<char>(key));
      CommitHighlightedThen(letter);
    }
    return true;
  }
  if (keys::IsPrintableAscii(key)) {
    std::string mark = punctuation_.ChineseMark(key);
    if (mark.empty()) mark = full_shape_ ? FullWidth(key) : std::string(1, static_cast<char>(key));
    CommitHighlightedThen(mark);
    return true;
  }
  // Keys without a meaning here still must not reach the application mid-word.
  return true;
}

void Engine::TypeKey(char c) {
  predictions_.clear();
  Selection finished = composer_->Type(c);
  if (finished.done) FinishWord(finished);
  RebuildMenu();
}

void Engine::RebuildMenu() {
  menu_.clear();
  offered_phrases_ = {};
  if (Composing()) {
    size_t count = composer_->CandidateCount();
    menu_.reserve(count + 1);
    for (size_t i = 0; i < count; ++i) menu_.push_back({EntryKind::kComposer, i});
    LiftBigramFollowers();
    if (melt_english_ && scheme_kind_ == SchemeKind::kPinyin) OfferRawInput();
    if (scheme_kind_ == SchemeKind::kPinyin) OfferCustomPhrases();
  } else {
    for (size_t i = 0; i < predictions_.size(); ++i) menu_.push_back({EntryKind::kPrediction, i});
  }
  pager_.Reset(menu_.size());
}

void Engine::OfferRawInput() {
  size_t cursor = 0;
  size_t unconverted = 0;
  composer_->Preedit(&cursor, &unconverted);
  const std::string& input = composer_->Input();
  bool letters = std::all_of(input.begin(), input.end(), [](char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '\'';
  });
  if (unconverted != 0 || !letters) return;
  bool has_upper = std::any_of(input.begin(), input.end(),
                               [](char c) { return std::isupper(static_cast<unsigned char>(c)); });
  // Typed capitals say the word is English, and so does a run of English words that does not
  // read as pinyin; other letters close the first page, after the conversions most lower-case
  // input is meant as.
  size_t position = pager_.page_size() - 1;
  if (has_upper) {
    position = 0;
  } else if (IsEnglishInput(input)) {
    position = kEnglishWordPlace;
  }
  position = std::min(position, menu_.size());
  menu_.insert(menu_.begin() + static_cast<long>(position), {EntryKind::kRawInput, 0});
}

bool Engine::IsEnglishInput(const std::string& input) const {
  return english_words_ && !composer_->ReadsAsPinyin() && english_words_->IsWordRun(input);
}

void Engine::OfferCustomPhrases() {
  size_t cursor = 0;
  size_t unconverted = 0;
  composer_->Preedit(&cursor, &unconverted);
  if (unconverted != 0) return;
  offered_phrases_ = user_files_.phrases().Find(composer_->Input());
  // By position, then in file order: a phrase never lands before one listed ahead of it.
  size_t next = 0;
  for (size_t i = 0; i < offered_phrases_.size(); ++i) {
    const size_t wanted = std::max(offered_phrases_[i].position - 1, next);
    const size_t at = std::min(wanted, menu_.size());
    menu_.insert(menu_.begin() + static_cast<long>(at), {EntryKind::kCustomPhrase, i});
    next = at + 1;
  }
}

void Engine::CommitCustomPhrase(const CustomPhrase& phrase) {
  // The user's own text goes out as written, in either script, and is not learned.
  commits_.Append(phrase.text, "", phrase.code);
  last_spelling_ = {phrase.code, phrase.code};
  last_committed_.clear();
  composer_->Clear();
  predictions_.clear();
  RebuildMenu();
}

void Engine::LiftBigramFollowers() {
  if (last_committed_.empty() || !cloud_.HasBigramsAfter(last_committed_)) return;
  size_t reach = std::min(menu_.size(), kBigramReach);
  std::vector<std::pair<double, MenuEntry>> weighted;
  weighted.reserve(reach);
  bool any = false;
  for (size_t i = 0; i < reach; ++i) {
    double weight = cloud_.BigramWeight(last_committed_, composer_->CandidateText(menu_[i].index));
    any = any || weight > 0;
    weighted.push_back({weight, menu_[i]});
  }
  if (!any) return;
  std::stable_sort(weighted.begin(), weighted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < reach; ++i) menu_[i] = weighted[i].second;
}

void Engine::RefreshCandidates() {
  if (Composing()) RebuildMenu();
}

bool Engine::SelectEntry(size_t index) {
  if (index >= menu_.size()) return false;
  MenuEntry entry = menu_[index];
  switch (entry.kind) {
    case EntryKind::kRawInput:
      CommitRawInput();
      return true;
    case EntryKind::kCustomPhrase:
      CommitCustomPhrase(offered_phrases_[entry.index]);
      return true;
    case EntryKind::kPrediction: {
      std::string word = predictions_[entry.index];
      std::string shown = Display(word);
      commits_.Append(shown, shown == word ? "" : word, "");
      StartPrediction(word);
      return true;
    }
    case EntryKind::kComposer:
      break;
  }
  Selection selection = composer_->Select(entry.index);
  if (selection.done) {
    composer_->Learn();
    composer_->Clear();
    FinishWord(selection);
  }
  RebuildMenu();
  return true;
}

void Engine::CommitHighlightedThen(const std::string& suffix) {
  if (menu_.empty()) {
    CommitRawInput();
  } else {
    // The highlighted candidate may cover only the start of the input; the rest goes with the
    // best conversion of what remains.
    SelectEntry(pager_.HighlightedIndex());
    for (size_t guard = composer_->Input().size(); Composing() && guard > 0; --guard) {
      if (menu_.empty()) {
        CommitRawInput();
        break;
      }
      SelectEntry(0);
    }
  }
  predictions_.clear();
  RebuildMenu();
  commits_.Append(suffix, "", "");
}

void Engine::CommitRawInput() {
  std::string input = composer_->Input();
  composer_->Clear();
  predictions_.clear();
  if (!input.empty()) commits_.Append(input, "", input);
  std::string letters;
  for (char c : input) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      letters.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  last_spelling_ = {input, letters};
  last_committed_.clear();
  RebuildMenu();
}

void Engine::FinishWord(const Selection& word) {
  std::string shown = Display(word.text);
  commits_.Append(shown, shown == word.text ? "" : word.text, word.input_code);
  last_committed_ = word.text;
  last_spelling_ = {word.input_code, word.spelling};
  std::string message;
  if (++words_since_save_ >= kWordsPerSave && !SaveUserData(&message)) {
    LogEngineEvent(message);
  }
  StartPrediction(word.text);
}

void Engine::StartPrediction(const std::string& committed) {
  predictions_.clear();
  if (predict_ && composer_->Empty()) {
    predictions_ = composer_->Predict({committed}, kPredictionCount);
  }
  RebuildMenu();
}

bool Engine::TakeCommit(CommitRecord* commit) {
  return commits_.Take(commit);
}

std::string Engine::Display(const std::string& text) {
  std::string converted;
  if (traditional_ && converter_.ToTraditional(text, &converted)) return converted;
  return text;
}

CandidateEntry Engine::EntryAt(size_t index) {
  const MenuEntry& entry = menu_[index];
  switch (entry.kind) {
    case EntryKind::kRawInput:
      return {composer_->Input(), ""};
    case EntryKind::kPrediction:
      return {Display(predictions_[entry.index]), ""};
    case EntryKind::kCustomPhrase:
      return {OneLine(offered_phrases_[entry.index].text), ""};
    case EntryKind::kComposer:
      break;
  }
  return {Display(composer_->CandidateText(entry.index)), composer_->CandidateComment(entry.index)};
}

bool Engine::GetContext(ContextSnapshot* context) {
  AwaitScheme();
  if (!composer_) return false;
  *context = {};
  if (Composing()) {
    context->preedit = composer_->Preedit(&context->cursor, &context->selection_start);
    context->selection_end = context->preedit.size();
  }
  context->page_size = pager_.page_size();
  context->page_number = pager_.page();
  context->total_candidates = menu_.size();
  context->is_last_page = pager_.IsLastPage();
  context->highlighted = pager_.highlighted();
  size_t start = pager_.PageStart();
  for (size_t i = 0; i < pager_.PageCount(); ++i) context->candidates.push_back(EntryAt(start + i));
  return true;
}

std::vector<CandidateEntry> Engine::AllCandidates(size_t max_count) {
  std::vector<CandidateEntry> entries;
  size_t count = std::min(max_count, menu_.size());
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) entries.push_back(EntryAt(i));
  return entries;
}

const std::string* Engine::Input() {
  AwaitScheme();
  return Composing() ? &composer_->Input() : nullptr;
}

std::string Engine::ExpandInput(const std::string& input) {
  AwaitScheme();
  if (!composer_) return {};
  // The input of the word just committed spells as what was chosen, not as its best reading.
  if (input == last_spelling_.first && !(Composing() && input == composer_->Input())) {
    return last_spelling_.second;
  }
  return composer_->ExpandInput(input);
}

bool Engine::SelectCandidate(std::ptrdiff_t index_on_page) {
  AwaitScheme();
  // Off the page reaches other candidates: the expanded panel selects among the first 100.
  const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(pager_.PageStart()) + index_on_page;
  if (!composer_ || index < 0 || static_cast<size_t>(index) >= menu_.size()) return false;
  return SelectEntry(static_cast<size_t>(index));
}

bool Engine::HighlightCandidate(size_t index_on_page) {
  return pager_.Highlight(index_on_page);
}

bool Engine::ChangePage(bool backward) {
  return pager_.ChangePage(backward);
}

void Engine::ClearComposition() {
  if (composer_) composer_->Clear();
  predictions_.clear();
  menu_.clear();
  pager_.Reset(0);
  punctuation_.Reset();
}

bool Engine::GetOption(const std::string& name) const {
  if (name == kAsciiModeOption) return ascii_mode_;
  if (name == kFullShapeOption) return full_shape_;
  return false;
}

void Engine::SetOption(const std::string& name, bool value) {
  if (name == kAsciiModeOption) {
    SetAsciiMode(value);
  } else if (name == kFullShapeOption) {
    full_shape_ = value;
  }
}

void Engine::SetAsciiMode(bool on) {
  if (on == ascii_mode_) return;
  // Switching away mid-word keeps what was typed.
  if (on && Composing()) CommitRawInput();
  ClearComposition();
  ascii_mode_ = on;
}

bool Engine::ConvertText(const std::string& text, const std::string& mode, std::string* out) {
  if (mode == "t2s") return converter_.ToSimplified(text, out);
  if (mode == "s2t") return converter_.ToTraditional(text, out);
  return false;
}

void Engine::SetPageSize(size_t page_size) {
  pager_.SetPageSize(page_size);
}

void Engine::SetCharset(const std::string& charset) {
  traditional_ = charset != kSimplifiedCharset;
}

void Engine::SetMeltEnglish(bool enable) {
  if (enable == melt_english_) return;
  melt_english_ = enable;
  RefreshCandidates();
}

void Engine::SetExtensionB(bool enable) {
  extension_b_ = enable;
  {
    std::lock_guard<std::mutex> lock(restart_mutex_);
    adopted_extension_b_ = enable;
  }
  if (!composer_) return;
  composer_->SetExtensionB(enable);
  if (Composing()) {
    // The context keeps candidates from before the change; retyping the input refreshes them.
    std::string input = composer_->Input();
    composer_->Clear();
    for (char c : input) composer_->Type(c);
    RebuildMenu();
  }
}

void Engine::SetPredict(bool enable) {
  predict_ = enable;
  if (!enable && !predictions_.empty()) {
    predictions_.clear();
    RebuildMenu();
  }
}

void Engine::SetActiveSchemes(const std::string& comma_separated_ids) {
  active_schemes_.clear();
  size_t start = 0;
  while (start <= comma_separated_ids.size()) {
    size_t end = comma_separated_ids.find(',', start);
    if (end == std::string::npos) end = comma_separated_ids.size();
    std::string id = comma_separated_ids.substr(start, end - start);
    id.erase(0, id.find_first_not_of(" \t"));
    id.erase(id.find_last_not_of(" \t") + 1);
    if (!id.empty()) active_schemes_.push_back(id);
    start = end + 1;
  }
}

bool Engine::SelectScheme(const std::string& id) {
  if (!active_schemes_.empty() &&
      std::find(active_schemes_.begin(), active_schemes_.end(), id) == active_schemes_.end()) {
    return false;
  }
  if (pending_.valid()) {
    // While Initialize's load runs, a scheme of the catalogue is only remembered: the load is
    // taken (or replaced) by the first call that needs it.
    if (!loader_.Knows(id)) return false;
    scheme_id_ = id;
    return true;
  }
  if (!composer_) {
    // Before Initialize the choice is only remembered.
    scheme_id_ = id;
    return true;
  }
  if (id == scheme_id_) return true;
  LoadedScheme next = loader_.Load(id, extension_b_);
  if (!next.composer) {
    LogEngineEvent(next.message);
    return false;
  }
  if (!next.message.empty()) LogEngineEvent(next.message);
  std::string message;
  if (!SaveUserData(&message)) LogEngineEvent(message);
  ClearComposition();
  Adopt(std::move(next), id);
  last_committed_.clear();
  last_spelling_ = {};
  return true;
}

}  // namespace kavi::win
