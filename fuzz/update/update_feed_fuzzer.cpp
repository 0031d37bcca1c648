// SPDX-License-Identifier: Apache-2.0
// Whatever the service sends as the update feed, a feed that passes keeps every rule: three
// version components and a build within 16 bits, and artifacts whose file names cannot leave
// the updates folder.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "update/update_feed.h"

namespace {
using namespace kavi::win;

using kavi::fuzz::Check;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  UpdateFeed feed;
  std::string error;
  if (!ParseUpdateFeed(text, &feed, &error)) {
    Check(!error.empty());
    return 0;
  }
  Check(feed.version.size() == 3 && feed.build_number <= kMaxVersionComponent);
  for (uint32_t part : feed.version) Check(part <= kMaxVersionComponent);
  Check(!feed.artifacts.empty() && feed.artifacts.size() <= kMaxUpdateArtifacts);
  for (const UpdateArtifact& artifact : feed.artifacts) {
    Check(!DebianArchitecture(artifact.architecture).empty());
    Check(!artifact.file.empty() && artifact.file.find_first_of("/\\") == std::string::npos &&
          artifact.file != "." && artifact.file != "..");
    Check(artifact.url.starts_with("https://") && artifact.sha256.size() == 64 &&
          artifact.bytes >= 1);
  }
  // A version read back compares equal to itself, and never newer than itself.
  Check(!IsNewerVersion(feed.version, feed.build_number, feed.version, feed.build_number));
  std::vector<uint32_t> parsed;
  if (ParseVersion(text, &parsed)) Check(!parsed.empty());
  return 0;
}
