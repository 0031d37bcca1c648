// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as the voice model manifest that the service answers (and the store keeps as
// "manifest.json"): the parser refuses it with a message, or every entry it gives is one the
// store can use safely — a known engine at most once, a plain ".gguf" file name that stays in
// its folder, an https URL of printable ASCII, 64 lower-case hexadecimal digits, 1 B to 2 GiB.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "voice/voice_manifest.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  std::vector<VoiceModelEntry> models;
  std::string error = "stale";
  if (!ParseVoiceManifest(json, &models, &error)) {
    Check(!error.empty());
    return 0;
  }
  Check(error.empty());
  Check(!models.empty() && models.size() <= kMaxManifestModels);
  std::set<std::string> engines;
  for (const VoiceModelEntry& entry : models) {
    Check(IsModelEngine(entry.engine) && engines.insert(entry.engine).second);
    Check(entry.name.size() > 5 && entry.name.ends_with(".gguf") && entry.name[0] != '.');
    Check(entry.name.find('/') == std::string::npos && entry.name.find('\\') == std::string::npos);
    Check(entry.url.starts_with("https://") && entry.url.size() <= 4096);
    Check(std::all_of(entry.url.begin(), entry.url.end(),
                      [](char c) { return c > 0x20 && c < 0x7F; }));
    Check(entry.sha256.size() == 64 &&
          std::all_of(entry.sha256.begin(), entry.sha256.end(), IsLowerHex));
    Check(entry.bytes >= 1 && entry.bytes <= kMaxModelBytes);
  }
  return 0;
}
