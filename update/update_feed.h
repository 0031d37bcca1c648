// SPDX-License-Identifier: Apache-2.0
// The update feed the service publishes: the newest version with its build number, and one
// package per architecture with its URL, size and SHA-256.
//
//   {"version": "0.6.0", "buildNumber": 12, "artifacts": [{"architecture": "x64",
//     "file": "kavi_0.6.0_amd64.deb", "url": "https://...", "sha256": "...", "bytes": 9650112}]}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr size_t kMaxUpdateFeedBytes = 1048576;  // 1 MiB
inline constexpr size_t kMaxUpdateArtifacts = 8;
inline constexpr uint32_t kMaxVersionComponent = 65535;
inline constexpr char kArchitectureX64[] = "x64";
inline constexpr char kArchitectureArm64[] = "arm64";

// Why a feed was refused, for the log (the user sees one message for all of them).
inline constexpr char kFeedEmpty[] = "empty or oversized feed";
inline constexpr char kFeedInvalidRoot[] = "feed is not a JSON object";
inline constexpr char kFeedInvalidVersion[] = "invalid version";
inline constexpr char kFeedInvalidBuild[] = "invalid buildNumber";
inline constexpr char kFeedInvalidArtifacts[] = "invalid artifact list";
inline constexpr char kFeedInvalidArtifact[] = "invalid artifact";

struct UpdateArtifact {
  std::string architecture;  // "x64" or "arm64"
  std::string file;          // a plain file name
  std::string url;           // https
  std::string sha256;        // 64 lower-case hexadecimal digits
  uint64_t bytes = 0;

  bool operator==(const UpdateArtifact&) const = default;
};

struct UpdateFeed {
  std::vector<uint32_t> version;  // three components
  uint32_t build_number = 0;
  std::vector<UpdateArtifact> artifacts;
};

// "1.2.3" into {1, 2, 3}: digits accumulate (saturating at 1,000,000), a dot ends a component
// and must follow a digit, the text ends with a digit; false for anything else.
bool ParseVersion(std::string_view text, std::vector<uint32_t>* components);

// Parses and checks a feed; false with one of the reasons above.
bool ParseUpdateFeed(std::string_view text, UpdateFeed* feed, std::string* error);

// Whether the feed's version and build are newer than the running ones: components compared
// pairwise (a missing one counts as 0), then the build numbers.
bool IsNewerVersion(const std::vector<uint32_t>& feed_version, uint32_t feed_build,
                    const std::vector<uint32_t>& running_version, uint32_t running_build);

// The first artifact for `architecture`; nullptr when there is none.
const UpdateArtifact* FindArtifact(const UpdateFeed& feed, std::string_view architecture);

// "x64" or "arm64", as the feed names the machine this process runs on.
std::string_view NativeArchitecture();
// The Debian name of a feed architecture ("amd64", "arm64"); empty for an unknown one.
std::string_view DebianArchitecture(std::string_view feed_architecture);

}  // namespace kavi::win
