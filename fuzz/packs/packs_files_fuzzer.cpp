// SPDX-License-Identifier: Apache-2.0
// Whatever bytes "current.txt", ".kavi-release" and the profile registry's files hold, the
// generation stays inside its root and matches the installed identity, and the profile modes
// succeed and leave the registry consistent.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "packs/data_generation.h"
#include "server/profile/profile_registration.h"

namespace {
namespace fs = std::filesystem;
using namespace kavi::win::server;

class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "kavi-packs-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    fs::create_directories(dir / "data" / "themes");
    Write(dir / "data" / "themes" / "a.yaml", "name: a\n");
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  static void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir;
};

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  FuzzedDataProvider input(data, size);
  const fs::path root = sandbox.dir / "build", installed = sandbox.dir / "data";
  const fs::path registry = sandbox.dir / "profiles";

  fs::create_directories(root);
  Sandbox::Write(root / kCurrentGenerationName, input.ConsumeRandomLengthString(64));
  std::string identity = input.ConsumeRandomLengthString(64);
  Sandbox::Write(installed / kReleaseIdentityName, identity);
  fs::path shared;
  std::string message;
  Check(PrepareGeneration(root, installed, &shared, &message));
  Check(shared.parent_path().parent_path() == root);
  Check(IsCompleteGeneration(shared.parent_path()));
  Check(ReadReleaseIdentity(shared) == ReadReleaseIdentity(installed));

  fs::create_directories(registry);
  for (const char* name : {"input-languages", "enabled", "default", "active"})
    Sandbox::Write(registry / name, input.ConsumeRandomLengthString(128));
  Check(ActivateProfile(registry) == 0);
  std::string languages = Sandbox::Read(registry / "input-languages");
  Check(languages.rfind(ProfileString() + "\n", 0) == 0);
  Check(RemoveProfile(registry) == 0);
  const std::string line = "\n" + ProfileString() + "\n";
  for (const char* name : {"input-languages", "enabled", "default"})
    Check(("\n" + Sandbox::Read(registry / name)).find(line) == std::string::npos);
  Check(Sandbox::Read(registry / "active").rfind(ProfileString() + " ", 0) == std::string::npos);
  return 0;
}
