// SPDX-License-Identifier: Apache-2.0
#include "ovra/flat_dictionary.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/file_read.h"

namespace kavi::win {
namespace {

constexpr std::string_view kMagic = "KAVIFLAT";
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderBytes = 8 + 4 + 8 + 8 + 4;
// sc.dict's list is 3.9 MB; a file far past any dictionary is not read at all.
constexpr uintmax_t kMaxFlatBytes = 256u << 20;
constexpr char kFlatSuffix[] = ".flat";

static_assert(std::endian::native == std::endian::little, "the flat format is little-endian");

void Append(std::string* out, const void* data, size_t size) {
  out->append(static_cast<const char*>(data), size);
}

// Reads fixed-size little-endian values off the front of the bytes.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  template <typename T>
  bool Take(T* value) {
    if (rest_.size() < sizeof(T)) return false;
    std::memcpy(value, rest_.data(), sizeof(T));
    rest_.remove_prefix(sizeof(T));
    return true;
  }
  bool Take(size_t size, std::string_view* bytes) {
    if (rest_.size() < size) return false;
    *bytes = rest_.substr(0, size);
    rest_.remove_prefix(size);
    return true;
  }
  size_t left() const { return rest_.size(); }

 private:
  std::string_view rest_;
};

}  // namespace

bool StampDictionary(const std::filesystem::path& dictionary, FlatDictionarySource* source) {
  const std::optional<FileStamp> stamp = StampFile(dictionary);
  if (!stamp) return false;
  source->size = static_cast<int64_t>(stamp->size);
  source->modified_ns = stamp->modified_ns;
  return true;
}

std::filesystem::path FlatDictionaryPath(const std::filesystem::path& flat_dir,
                                         const std::filesystem::path& dictionary) {
  return flat_dir / (dictionary.filename().string() + kFlatSuffix);
}

bool EncodeFlatDictionary(const libime::DATrie<float>& trie, const FlatDictionarySource& source,
                          std::string* out) {
  std::string entries;
  uint32_t count = 0;
  std::string key;
  // The trie walks its keys in ascending byte order, the order the list keeps.
  const bool whole =
      trie.foreach ([&](float cost, size_t length, libime::DATrie<float>::position_type position) {
        trie.suffix(key, length, position);
        if (key.size() > std::numeric_limits<uint16_t>::max()) return false;
        const auto key_length = static_cast<uint16_t>(key.size());
        Append(&entries, &key_length, sizeof key_length);
        entries += key;
        Append(&entries, &cost, sizeof cost);
        ++count;
        return true;
      });
  if (!whole) return false;
  out->assign(kMagic);
  Append(out, &kFormatVersion, sizeof kFormatVersion);
  Append(out, &source.size, sizeof source.size);
  Append(out, &source.modified_ns, sizeof source.modified_ns);
  Append(out, &count, sizeof count);
  *out += entries;
  return true;
}

bool DecodeFlatDictionary(std::string_view bytes, const FlatDictionarySource& source,
                          libime::DATrie<float>* trie, std::string* message) {
  auto fail = [message](const char* why) {
    *message = why;
    return false;
  };
  if (bytes.size() < kHeaderBytes || bytes.substr(0, kMagic.size()) != kMagic)
    return fail("not a flat dictionary");
  Reader reader(bytes.substr(kMagic.size()));
  uint32_t version = 0;
  FlatDictionarySource made_from;
  uint32_t count = 0;
  reader.Take(&version);
  reader.Take(&made_from.size);
  reader.Take(&made_from.modified_ns);
  reader.Take(&count);
  if (version != kFormatVersion) return fail("flat dictionary of another format version");
  if (made_from != source) return fail("flat dictionary made from another version of its source");
  std::string_view previous;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t key_length = 0;
    std::string_view key;
    float cost = 0;
    if (!reader.Take(&key_length) || !reader.Take(key_length, &key) || !reader.Take(&cost))
      return fail("flat dictionary cut short");
    if (key.empty() || key.find('\0') != std::string_view::npos)
      return fail("flat dictionary with an empty key or a NUL byte in one");
    if (i > 0 && key <= previous) return fail("flat dictionary keys out of order");
    if (!std::isfinite(cost)) return fail("flat dictionary with a cost that is not a number");
    trie->set(key, cost);
    previous = key;
  }
  if (reader.left() != 0) return fail("flat dictionary with bytes after its last entry");
  message->clear();
  return true;
}

void FlatLoadingDictionary::Load(size_t index, const std::filesystem::path& dictionary,
                                 const std::filesystem::path& flat_dir, std::string* note) {
  note->clear();
  FlatDictionarySource source;
  std::string bytes;
  const std::filesystem::path flat =
      flat_dir.empty() ? flat_dir : FlatDictionaryPath(flat_dir, dictionary);
  if (!flat.empty() && StampDictionary(dictionary, &source) &&
      ReadRegularFile(flat, kMaxFlatBytes, &bytes) == ReadFileResult::kRead) {
    libime::DATrie<float> trie;
    std::string why;
    if (DecodeFlatDictionary(bytes, source, &trie, &why)) {
      *mutableTrie(index) = std::move(trie);
      emit<TrieDictionary::dictionaryChanged>(index);
      return;
    }
    *note = flat.string() + ": " + why + "; reading " + dictionary.string();
  }
  load(index, dictionary.c_str(), libime::PinyinDictFormat::Binary);
}

}  // namespace kavi::win
