// SPDX-License-Identifier: Apache-2.0
// The conversion engine behind the kavi_* functions: the active scheme's composer, the keys,
// paging, options, script conversion, cloud words and the user data on disk. One instance lives
// in the library; the server serialises every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ovra/candidate_pager.h"
#include "ovra/cloud_words.h"
#include "ovra/commit_buffer.h"
#include "ovra/composer.h"
#include "ovra/english_words.h"
#include "ovra/punctuation.h"
#include "ovra/scheme.h"
#include "ovra/scheme_loader.h"
#include "ovra/script_converter.h"
#include "ovra/user_data_text.h"
#include "ovra/user_files.h"
#include "platform/file_read.h"

namespace kavi::win {

struct EnginePaths {
  std::filesystem::path shared_data_dir;
  std::filesystem::path user_data_dir;
};

struct CandidateEntry {
  std::string text;
  std::string comment;
};

struct ContextSnapshot {
  std::string preedit;
  size_t cursor = 0;  // bytes
  size_t selection_start = 0;
  size_t selection_end = 0;
  size_t page_size = 0;
  size_t page_number = 0;
  size_t total_candidates = 0;
  bool is_last_page = true;
  size_t highlighted = 0;
  std::vector<CandidateEntry> candidates;  // the current page
};

class Engine {
 public:
  static constexpr const char* kDefaultScheme = "base_pinyin";
  static constexpr const char* kAsciiModeOption = "ascii_mode";
  static constexpr const char* kFullShapeOption = "full_shape";
  static constexpr const char* kSimplifiedCharset = "zhs";
  static constexpr size_t kPredictionCount = 10;

  Engine();
  ~Engine();

  void Setup(EnginePaths paths);
  // Reads the schemes and loads the selected one with its user data. The first time in a
  // process it only starts the load, and the first call that needs the scheme waits for it;
  // again after Finalize it returns once the scheme is loaded.
  void Initialize();
  // Saves the user data and drops the scheme; settings are kept for the next Initialize.
  void Finalize();
  // The one call that may run on another thread while the engine is in use: reads the current
  // scheme's dictionaries and model ahead of a restart, so that the next Initialize after a
  // Finalize only adds the user's learned data to them. A restart then keeps the engine down
  // (and its callers waiting) for milliseconds rather than for the dictionaries' load.
  void PrepareRestart();
  // Merges every installation's synchronised copy into the scheme's learned data, then saves it
  // (binary files and this installation's copy).
  bool SyncUserData(std::string* message);
  // Reads the user's custom phrases and pinyin options again where they changed on disk.
  void ReloadUserFiles();

  bool ProcessKey(uint32_t key, uint32_t modifiers);
  bool TakeCommit(CommitRecord* commit);
  bool GetContext(ContextSnapshot* context);
  std::vector<CandidateEntry> AllCandidates(size_t max_count);
  // The raw input being composed, or null when nothing is.
  const std::string* Input();
  std::string ExpandInput(const std::string& input);
  // index_on_page counts from the page start and may reach before or past the page.
  bool SelectCandidate(std::ptrdiff_t index_on_page);
  bool HighlightCandidate(size_t index_on_page);
  bool ChangePage(bool backward);
  void ClearComposition();

  bool GetOption(const std::string& name) const;
  void SetOption(const std::string& name, bool value);
  bool ConvertText(const std::string& text, const std::string& mode, std::string* out);

  void SetPageSize(size_t page_size);
  void SetCharset(const std::string& charset);
  void SetLinear(bool linear) { linear_ = linear; }
  void SetMeltEnglish(bool enable);
  void SetExtensionB(bool enable);
  void SetPredict(bool enable);
  void SetFullShape(bool full_shape) { full_shape_ = full_shape; }
  void SetGoodOldCapsLock(bool good_old) { good_old_caps_lock_ = good_old; }
  void SetActiveSchemes(const std::string& comma_separated_ids);
  bool SelectScheme(const std::string& id);

  CloudWords& cloud() { return cloud_; }
  // Re-sorts the candidates after the cloud word pairs changed.
  void RefreshCandidates();

 private:
  enum class EntryKind { kComposer, kRawInput, kPrediction, kCustomPhrase };
  struct MenuEntry {
    EntryKind kind;
    size_t index;
  };

  bool Composing() const;
  // Installs the scheme that Initialize started loading, waiting for it when it is not ready.
  void AwaitScheme();
  bool HandleIdleKey(uint32_t key);
  bool HandleComposingKey(uint32_t key);
  bool HandlePredictionKey(uint32_t key, bool* handled);
  void TypeKey(char c);
  bool SelectEntry(size_t index);
  void CommitHighlightedThen(const std::string& suffix);
  void CommitRawInput();
  void FinishWord(const Selection& word);
  void StartPrediction(const std::string& committed);
  void RebuildMenu();
  void LiftBigramFollowers();
  // Melt English: the typed letters themselves as a candidate.
  void OfferRawInput();
  bool IsEnglishInput(const std::string& input) const;
  // The user's phrases whose code is the whole input, at their positions.
  void OfferCustomPhrases();
  void CommitCustomPhrase(const CustomPhrase& phrase);
  std::string Display(const std::string& text);
  CandidateEntry EntryAt(size_t index);
  void SetAsciiMode(bool on);
  // Takes a freshly loaded scheme: merges the synchronised copies into it (rebuilding what a
  // redeploy deleted) and remembers which dictionary file it was read from.
  void Adopt(LoadedScheme loaded, const std::string& id);
  void MergeSyncCopies();
  bool SaveUserData(std::string* message);

  EnginePaths paths_;
  ModelStore models_;
  SchemeLoader loader_{models_};
  ScriptConverter converter_;
  CloudWords cloud_;
  Punctuation punctuation_;
  CandidatePager pager_;
  std::unique_ptr<Composer> composer_;
  std::shared_ptr<const EnglishWords> english_words_;  // of the scheme; may be null
  UserFiles user_files_;
  // The scheme Initialize loads on a thread of its own (the loader is that thread's until the
  // result is taken), and the scheme and extension flag it was started with.
  std::future<LoadedScheme> pending_;
  std::string pending_id_;
  bool pending_extension_b_ = false;
  bool started_before_ = false;
  // What PrepareRestart reads and what it leaves for Initialize, guarded by restart_mutex_ (the
  // only state shared with the preparing thread).
  struct Prepared {
    std::string id;
    LoadedScheme scheme;
  };
  std::mutex restart_mutex_;
  EnginePaths restart_paths_;
  std::string adopted_id_;
  bool adopted_extension_b_ = false;
  std::optional<Prepared> prepared_;
  std::string scheme_id_ = kDefaultScheme;
  SchemeKind scheme_kind_ = SchemeKind::kPinyin;
  std::vector<std::string> active_schemes_;

  std::vector<MenuEntry> menu_;
  // The custom phrases the menu shows (their entries index this); the menu is rebuilt whenever
  // the phrases are read again.
  std::span<const CustomPhrase> offered_phrases_;
  std::vector<std::string> predictions_;
  std::string last_committed_;
  std::pair<std::string, std::string> last_spelling_;  // input code, spelling
  CommitBuffer commits_;
  size_t words_since_save_ = 0;
  SyncFolder sync_;
  // The dictionary file as last read or written here; another stamp on disk means another
  // server saved in between.
  std::optional<FileStamp> dict_stamp_;

  bool ascii_mode_ = false;
  bool traditional_ = false;
  bool linear_ = false;
  bool melt_english_ = false;
  bool extension_b_ = false;
  bool predict_ = false;
  bool full_shape_ = false;
  bool good_old_caps_lock_ = true;
};

}  // namespace kavi::win
