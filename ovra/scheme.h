// SPDX-License-Identifier: Apache-2.0
// Input schemes are data: one "<id>.schema.yaml" per scheme names the conversion it uses, its
// dictionaries and its language model. Scheme files are read from "<shared data dir>/schemas"
// and then from the scheme-pack directory "<user data dir>/build", where installed packs put
// their files directly; a pack's scheme replaces a shipped one with the same id.
//
// A scheme file:
//   schema:
//     id: base_pinyin          # the file's own name is "<id>.schema.yaml"
//     name: 拼音
//     engine: pinyin            # pinyin (full or shuangpin) or table
//   dictionaries: [sc.dict]     # first is the system dictionary; the rest are added after it
//   extension_b: extb.dict      # optional, pinyin: the CJK extension B dictionary
//   language_model: zh_CN.lm
//   english_words: /usr/share/dict/american-english
//                               # optional, pinyin: the words mixed English input recognises;
//                               # a missing list only leaves them unrecognised
//   pinyin:                     # optional
//     shuangpin: ms             # a shuangpin layout; absent means full pinyin
//     fuzzy: [inner]            # libime fuzzy flags by name (the user's own are added to them,
//                               # see pinyin_options.h)
//   table:                      # optional, table schemes
//     order: fast               # no, fast or freq
//     auto_select: true         # commit a sole candidate of full code length at once
//     learning: true
//
// Relative file names are looked up beside the scheme file, in the shared data directory and in
// libime's own data directories, in that order.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kavi::win {

inline constexpr std::string_view kSchemeFileSuffix = ".schema.yaml";
inline constexpr std::string_view kSharedSchemeDir = "schemas";
inline constexpr std::string_view kSchemePackDir = "build";

enum class SchemeKind { kPinyin, kTable };

struct TableSchemeOptions {
  std::string order = "fast";
  bool auto_select = true;
  bool learning = true;
};

struct SchemeDefinition {
  std::string id;
  std::string name;
  SchemeKind kind = SchemeKind::kPinyin;
  std::vector<std::filesystem::path> dictionaries;
  std::filesystem::path extension_b;  // empty when the scheme has none
  std::filesystem::path language_model;
  std::filesystem::path english_words;  // empty when the scheme names none
  std::string shuangpin_layout;         // empty for full pinyin
  std::vector<std::string> fuzzy;
  TableSchemeOptions table;
};

// Parses one scheme file's text. file_dir is where the file lives (first place to look for the
// files it names); data_dirs are the further places.
bool ParseScheme(const std::string& text, const std::filesystem::path& file_dir,
                 const std::vector<std::filesystem::path>& data_dirs, SchemeDefinition* scheme,
                 std::string* message);

// The schemes found on disk, by id.
class SchemeCatalog {
 public:
  // Reads every scheme file of scheme_dirs (later directories override earlier ones). A file
  // that does not parse or names a missing file is skipped with a log line.
  void Load(const std::vector<std::filesystem::path>& scheme_dirs,
            const std::vector<std::filesystem::path>& data_dirs);

  const SchemeDefinition* Find(const std::string& id) const;
  size_t size() const { return schemes_.size(); }

 private:
  std::map<std::string, SchemeDefinition> schemes_;
};

}  // namespace kavi::win
