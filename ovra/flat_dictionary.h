// SPDX-License-Identifier: Apache-2.0
// A libime dictionary's entries as a flat, sorted list of (key, cost), made at build time from the
// dictionary it stands for. libime reads its own binary dictionary entry by entry through a
// stream, about 100 ms for sc.dict on a quiet machine, and the first key of every start waits for
// it; the same entries inserted from a flat list fill the same trie in well under half that time.
//
// The file ("<dictionary file name>.flat", 3.9 MB for sc.dict):
//   "KAVIFLAT", format version (u32), size (i64) and modification time in ns (i64) of the
//   dictionary it was made from, entry count (u32), then per entry: key length (u16), key
//   bytes, cost (IEEE-754 single). Little-endian. Keys are non-empty, without NUL bytes and in
//   strictly ascending byte order; costs are finite. Nothing follows the last entry.
//
// A dictionary that changed since (another libime-data) makes its flat list stale: it is not
// used, and the dictionary is read as before.
#pragma once

#include <libime/core/datrie.h>
#include <libime/pinyin/pinyindictionary.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

// The folder of the shared data that holds the flat lists.
inline constexpr char kFlatDictionaryDir[] = "dictionaries";

// What a flat list records of the dictionary it was made from.
struct FlatDictionarySource {
  int64_t size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FlatDictionarySource&) const = default;
};

// The source record of the dictionary file as it is now; false when it cannot be read.
bool StampDictionary(const std::filesystem::path& dictionary, FlatDictionarySource* source);

// "<flat_dir>/<dictionary file name>.flat"
std::filesystem::path FlatDictionaryPath(const std::filesystem::path& flat_dir,
                                         const std::filesystem::path& dictionary);

// The flat list of `trie`; false when a key is too long for it (over 65,535 bytes).
bool EncodeFlatDictionary(const libime::DATrie<float>& trie, const FlatDictionarySource& source,
                          std::string* out);

// Fills the empty `trie` from a flat list made from `source`. False, with the reason, when the
// bytes are not one (the trie is then partly filled and must be dropped).
bool DecodeFlatDictionary(std::string_view bytes, const FlatDictionarySource& source,
                          libime::DATrie<float>* trie, std::string* message);

// A pinyin dictionary that takes a sub-dictionary from its flat list when a current one is at
// hand.
class FlatLoadingDictionary : public libime::PinyinDictionary {
 public:
  // Loads sub-dictionary `index` from the flat list of `dictionary` in `flat_dir` when there is
  // one made from the dictionary as it is now, else from the dictionary itself (libime's binary
  // format; it throws as libime does when that cannot be read). An empty flat_dir reads the
  // dictionary. A flat list that is there but unusable is named in `note`.
  void Load(size_t index, const std::filesystem::path& dictionary,
            const std::filesystem::path& flat_dir, std::string* note);
};

}  // namespace kavi::win
