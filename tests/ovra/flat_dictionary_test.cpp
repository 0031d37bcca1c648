// SPDX-License-Identifier: Apache-2.0
// The dictionaries' flat lists: the same entries as libime's own file, taken only while the
// dictionary they were made from is unchanged, and refused when damaged.
#include "ovra/flat_dictionary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "tests/common/temp_dir.h"

namespace kavi::win::testing {
namespace {

using Entries = std::map<std::string, float>;

Entries EntriesOf(const libime::DATrie<float>& trie) {
  Entries entries;
  std::string key;
  trie.foreach ([&](float cost, size_t length, libime::DATrie<float>::position_type position) {
    trie.suffix(key, length, position);
    entries[key] = cost;
    return true;
  });
  return entries;
}

template <typename T>
void Put(std::string* out, T value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A flat list written by hand, as the format describes it.
std::string FlatBytes(const FlatDictionarySource& source,
                      const std::vector<std::pair<std::string, float>>& entries,
                      uint32_t version = 1) {
  std::string out = "KAVIFLAT";
  Put(&out, version);
  Put(&out, source.size);
  Put(&out, source.modified_ns);
  Put(&out, static_cast<uint32_t>(entries.size()));
  for (const auto& [key, cost] : entries) {
    Put(&out, static_cast<uint16_t>(key.size()));
    out += key;
    Put(&out, cost);
  }
  return out;
}

TEST(FlatDictionary, TheSystemDictionarysListHoldsEveryEntryWithItsCost) {
  const std::filesystem::path dictionary = std::filesystem::path(KAVI_LIBIME_DATA_DIR) / "sc.dict";
  libime::PinyinDictionary dict;
  dict.load(libime::PinyinDictionary::SystemDict, dictionary.c_str(),
            libime::PinyinDictFormat::Binary);
  FlatDictionarySource source;
  ASSERT_TRUE(StampDictionary(dictionary, &source));
  std::string bytes;
  ASSERT_TRUE(EncodeFlatDictionary(*dict.trie(0), source, &bytes));

  libime::DATrie<float> decoded;
  std::string message;
  ASSERT_TRUE(DecodeFlatDictionary(bytes, source, &decoded, &message)) << message;
  const Entries expected = EntriesOf(*dict.trie(0));
  EXPECT_GT(expected.size(), 100000u);
  EXPECT_EQ(EntriesOf(decoded), expected);
}

TEST(FlatDictionary, HandWrittenListDecodesToItsEntries) {
  const FlatDictionarySource source{6046254, 1669680000000000000};
  libime::DATrie<float> trie;
  std::string message;
  ASSERT_TRUE(DecodeFlatDictionary(FlatBytes(source, {{"a!x", -1.5f}, {"ab!y", -2.0f}}), source,
                                   &trie, &message))
      << message;
  EXPECT_EQ(EntriesOf(trie), (Entries{{"a!x", -1.5f}, {"ab!y", -2.0f}}));
}

TEST(FlatDictionary, DamagedOrStaleListsAreRefused) {
  const FlatDictionarySource source{1000, 2000};
  const std::string good = FlatBytes(source, {{"a", -1.0f}, {"b", -2.0f}});
  std::string trailing = good + "x";
  std::string bad_magic = good;
  bad_magic[0] = 'X';
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"empty", "", "not a flat dictionary"},
      {"other magic", bad_magic, "not a flat dictionary"},
      {"other version", FlatBytes(source, {{"a", -1.0f}}, 2), "another format version"},
      {"other size", FlatBytes({1001, 2000}, {{"a", -1.0f}}), "another version of its source"},
      {"other time", FlatBytes({1000, 2001}, {{"a", -1.0f}}), "another version of its source"},
      {"cut in a key", good.substr(0, good.size() - 6), "cut short"},
      {"cut in a cost", good.substr(0, good.size() - 1), "cut short"},
      {"bytes after the last entry", trailing, "after its last entry"},
      {"out of order", FlatBytes(source, {{"b", -1.0f}, {"a", -2.0f}}), "out of order"},
      {"twice the same key", FlatBytes(source, {{"a", -1.0f}, {"a", -2.0f}}), "out of order"},
      {"empty key", FlatBytes(source, {{"", -1.0f}}), "empty key"},
      {"NUL in a key", FlatBytes(source, {{std::string("a\0b", 3), -1.0f}}), "NUL"},
      {"cost not a number", FlatBytes(source, {{"a", nan}}), "not a number"},
      {"infinite cost", FlatBytes(source, {{"a", -std::numeric_limits<float>::infinity()}}),
       "not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    libime::DATrie<float> trie;
    std::string message;
    EXPECT_FALSE(DecodeFlatDictionary(c.bytes, source, &trie, &message));
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
}

TEST(FlatDictionary, LoadTakesTheListOnlyWhileItsDictionaryIsUnchanged) {
  TempDir dir;
  const std::filesystem::path dictionary = dir.path() / "small.dict";
  const std::filesystem::path flat_dir = dir.path() / kFlatDictionaryDir;
  libime::PinyinDictionary on_disk;
  on_disk.addWord(libime::PinyinDictionary::SystemDict, "ni'hao", "你好", -1.0f);
  on_disk.addWord(libime::PinyinDictionary::SystemDict, "ni", "你", -0.5f);
  on_disk.save(libime::PinyinDictionary::SystemDict, dictionary.c_str(),
               libime::PinyinDictFormat::Binary);
  // The list holds one word more than the dictionary, so the test sees which one was read.
  libime::PinyinDictionary listed;
  listed.addWord(libime::PinyinDictionary::SystemDict, "ni'hao", "你好", -1.0f);
  listed.addWord(libime::PinyinDictionary::SystemDict, "ni", "你", -0.5f);
  listed.addWord(libime::PinyinDictionary::SystemDict, "zhong'guo", "中国", -2.0f);
  FlatDictionarySource source;
  ASSERT_TRUE(StampDictionary(dictionary, &source));
  std::string bytes;
  ASSERT_TRUE(EncodeFlatDictionary(*listed.trie(0), source, &bytes));
  WriteFile(FlatDictionaryPath(flat_dir, dictionary), bytes);
  EXPECT_EQ(FlatDictionaryPath(flat_dir, dictionary).filename(), "small.dict.flat");

  std::string note;
  {
    FlatLoadingDictionary dict;
    dict.Load(libime::PinyinDictionary::SystemDict, dictionary, flat_dir, &note);
    EXPECT_EQ(note, "");
    EXPECT_EQ(EntriesOf(*dict.trie(0)), EntriesOf(*listed.trie(0)));
  }
  {
    // Without a folder of lists, or with none for this dictionary, the dictionary is read.
    for (const std::filesystem::path& folder : {std::filesystem::path(), dir.path() / "none"}) {
      FlatLoadingDictionary dict;
      dict.Load(libime::PinyinDictionary::SystemDict, dictionary, folder, &note);
      EXPECT_EQ(note, "");
      EXPECT_EQ(EntriesOf(*dict.trie(0)), EntriesOf(*on_disk.trie(0)));
    }
  }
  {
    // Another libime-data: the dictionary's time changed, the list is stale and says so.
    std::filesystem::last_write_time(
        dictionary, std::filesystem::last_write_time(dictionary) + std::chrono::seconds(10));
    FlatLoadingDictionary dict;
    dict.Load(libime::PinyinDictionary::SystemDict, dictionary, flat_dir, &note);
    EXPECT_NE(note.find("another version of its source"), std::string::npos) << note;
    EXPECT_EQ(EntriesOf(*dict.trie(0)), EntriesOf(*on_disk.trie(0)));
  }
}

}  // namespace
}  // namespace kavi::win::testing
