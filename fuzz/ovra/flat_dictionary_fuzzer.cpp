// SPDX-License-Identifier: Apache-2.0
// A flat dictionary list is read from the user's data generation at every start: any bytes must
// be refused with a reason or give a trie whose entries are exactly the list's, in order, and
// that encodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ovra/flat_dictionary.h"

namespace {

using kavi::win::DecodeFlatDictionary;
using kavi::win::EncodeFlatDictionary;
using kavi::win::FlatDictionarySource;

// The source the header names, so that inputs reach the entries: a list is only read for the
// dictionary it was made from.
FlatDictionarySource SourceNamedBy(std::string_view bytes) {
  FlatDictionarySource source;
  constexpr size_t kSourceOffset = 8 + 4;
  if (bytes.size() >= kSourceOffset + 16) {
    std::memcpy(&source.size, bytes.data() + kSourceOffset, 8);
    std::memcpy(&source.modified_ns, bytes.data() + kSourceOffset + 8, 8);
  }
  return source;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const FlatDictionarySource source = SourceNamedBy(bytes);
  libime::DATrie<float> trie;
  std::string message;
  if (!DecodeFlatDictionary(bytes, source, &trie, &message)) {
    if (message.empty()) std::abort();
    return 0;
  }
  if (!message.empty()) std::abort();
  std::string again;
  if (!EncodeFlatDictionary(trie, source, &again) || again != bytes) std::abort();
  return 0;
}
