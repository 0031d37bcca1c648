// SPDX-License-Identifier: Apache-2.0
// One input scheme's conversion: the typed code, its candidates and what selecting them commits.
// PinyinComposer and TableComposer put libime's contexts behind this; the engine adds keys,
// paging, script conversion and the extra candidates on top.
#pragma once

#include <string>
#include <vector>

namespace kavi::win {

class UserDb;
struct UserDataText;

// The outcome of selecting a candidate.
struct Selection {
  bool done = false;       // the whole input is converted; commit the text below
  std::string text;        // the converted text (simplified script)
  std::string input_code;  // what was typed for it
  std::string spelling;    // its full spelling in letters a-z (see ExpandInput)
};

class Composer {
 public:
  virtual ~Composer() = default;

  // The user's fuzzy sounds (names of FuzzySounds()), on top of the scheme's own; the input
  // being composed is read again with them. Only pinyin schemes have sounds to confuse.
  virtual void SetUserFuzzy(const std::vector<std::string>& /*names*/) {}
  // Whether the unselected input reads as whole syllables of the scheme, with no abbreviated
  // one: what the dictionary can know as pinyin. Schemes whose every key reads: true.
  virtual bool ReadsAsPinyin() const { return true; }

  // Whether c may extend the input now (letters of the scheme's code, separators).
  virtual bool AcceptsInput(char c) const = 0;
  // Whether the input is at its longest.
  virtual bool Full() const { return false; }
  // For input at its longest: finishes the front words of the best conversion (about half the
  // input, never all of it) and keeps only the rest as input, so that typing can go on the way
  // long-sentence input goes. Not done when there is no such front part.
  virtual Selection SettleFront() { return {}; }
  // Adds c at the cursor. A table scheme may finish a word on its own (a sole candidate at full
  // code length, or a key that starts the next code); it then returns it in done.
  virtual Selection Type(char c) = 0;
  virtual void Backspace() = 0;
  virtual void Delete() = 0;
  // Moves the cursor by delta characters of the raw input, or to an end.
  virtual void MoveCursor(int delta) = 0;
  virtual void MoveCursorToEnd(bool end) = 0;
  virtual void Clear() = 0;

  virtual bool Empty() const = 0;
  // The raw input, selected part included.
  virtual const std::string& Input() const = 0;
  // Selected text followed by the rest of the input with syllable separators, the cursor in
  // bytes of it, and where the unconverted part starts.
  virtual std::string Preedit(size_t* cursor, size_t* unconverted_start) const = 0;

  virtual size_t CandidateCount() const = 0;
  virtual std::string CandidateText(size_t index) const = 0;
  // A note shown beside the candidate: the full spelling of an abbreviation, the rest of a code.
  virtual std::string CandidateComment(size_t index) const = 0;
  virtual Selection Select(size_t index) = 0;
  // Records the last finished selection in the user dictionary and the history.
  virtual void Learn() = 0;

  // The full spelling of input in letters a-z (pinyin of the best reading for pinyin schemes,
  // the code itself for tables); empty when there is none.
  virtual std::string ExpandInput(const std::string& input) = 0;

  // Words likely to follow the committed words; empty when the scheme cannot predict.
  virtual std::vector<std::string> Predict(const std::vector<std::string>& committed,
                                           size_t max_count) = 0;
  virtual void SetExtensionB(bool enabled) = 0;

  virtual bool LoadUserData(const UserDb& db, std::string* message) = 0;
  virtual bool SaveUserData(const UserDb& db, std::string* message) = 0;

  // The learned data in text form, as the synchronised copies hold it.
  virtual UserDataText ExportUserData() = 0;
  // Adds the words of `text` that the user dictionary lacks, and takes its history when this
  // scheme has none yet. False with a message when the text could not be used; what was learned
  // stays as it was.
  virtual bool MergeUserData(const UserDataText& text, std::string* message) = 0;
  // Reads the binary files of db into text form, leaving the loaded data and the files alone.
  virtual bool ReadUserDataText(const UserDb& db, UserDataText* out, std::string* message) = 0;
};

}  // namespace kavi::win
