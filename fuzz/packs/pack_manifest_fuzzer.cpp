// SPDX-License-Identifier: Apache-2.0
// Whatever the service sends as a scheme pack manifest, a manifest that passes holds only packs
// and files that keep every rule (so nothing it names can leave the pack directory); and
// whatever a crash left in an install's journal, recovery touches nothing outside the pack
// directory.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "packs/pack_manifest.h"
#include "packs/pack_transaction.h"
#include "text/safe_file_name.h"

namespace {
namespace fs = std::filesystem;
using namespace kavi::win;

using kavi::fuzz::Check;

void CheckManifest(const std::string& text) {
  std::vector<PackRecord> packs;
  std::string error;
  if (!ParsePackManifest(text, &packs, &error)) {
    Check(!error.empty() && packs.empty());
    return;
  }
  Check(error.empty() && packs.size() <= kMaxPacks);
  std::set<std::string> ids;
  for (const PackRecord& pack : packs) {
    Check(IsValidPackId(pack.id) && ids.insert(pack.id).second);
    Check(!pack.files.empty() && pack.files.size() <= kMaxPackFiles);
    std::set<std::string> names;
    for (const PackFile& file : pack.files) {
      Check(IsSafeFileName(file.name) && file.name.starts_with(pack.id + ".") &&
            names.insert(file.name).second);
      Check(file.url.starts_with("https://") && file.url.size() <= kMaxPackFileUrlBytes);
      Check(file.sha256.size() == 64 &&
            file.sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
      Check(file.bytes >= 1 && file.bytes <= kMaxPackFileBytes);
    }
  }
}

class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "kavi-pack-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    root = pattern;
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
};

void CheckRecovery(const std::string& journal) {
  static Sandbox sandbox;
  const fs::path packs = sandbox.root / "build";
  const fs::path staging = packs / ".install-zrm-1-2";
  fs::create_directories(staging / "backup");
  std::ofstream(sandbox.root / "outside.dict") << "kept";
  std::ofstream(packs / "zrm.main.dict") << "pack";
  std::ofstream(staging / "backup" / "zrm.main.dict") << "old";
  std::ofstream(staging / ".journal", std::ios::binary) << journal;
  RecoverInterruptedInstalls(packs);
  Check(!fs::exists(staging));
  Check(fs::exists(sandbox.root / "outside.dict"));
  std::error_code ignored;
  fs::remove_all(packs, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses: even, a manifest; odd, a journal.
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    CheckRecovery(text);
  } else {
    CheckManifest(text);
  }
  return 0;
}
