// SPDX-License-Identifier: Apache-2.0
// Per-user generations of the engine's shared data.
//
// The engine reads its shared data from a directory that must not change under it, while an
// upgrade may replace the installed data at any time. Start-up therefore copies the installed
// data into a generation directory, marks it complete and names it in "current.txt"; later
// start-ups reuse it as long as the installed data carries the same release identity.
//
//   <generations root>/current.txt        "gen.1764990000000"
//   <generations root>/gen.1764990000000/data/...
//   <generations root>/gen.1764990000000/COMPLETE
//
// A generation is written once and never modified; switching generations is the one atomic
// replacement of "current.txt", and a copy cut short leaves no "COMPLETE", so it is never used.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win::server {

inline constexpr char kGenerationsFolderName[] = "build";
inline constexpr char kGenerationPrefix[] = "gen.";
inline constexpr char kGenerationDataName[] = "data";
inline constexpr char kGenerationCompleteName[] = "COMPLETE";
inline constexpr char kGenerationCompleteContent[] = "ok\n";
inline constexpr char kCurrentGenerationName[] = "current.txt";
inline constexpr char kReleaseIdentityName[] = ".kavi-release";

inline constexpr char kInstalledDataMissingMessage[] = "安裝資料不存在";
inline constexpr char kCreateGenerationFailedMessage[] = "建立資料代失敗";
inline constexpr char kCompleteGenerationFailedMessage[] = "無法完成資料代";
inline constexpr char kRecoveryFailedLog[] = "[Kavi] 資料代恢復失敗：";

// The generations root under the local data root ("Kavi" in the local application data);
// "." when the local data root is unknown (empty).
std::filesystem::path GenerationsRoot(const std::filesystem::path& local_root);

// The release identity of a data directory: the first line of its ".kavi-release"; empty when
// the file is missing or unreadable.
std::string ReadReleaseIdentity(const std::filesystem::path& data_dir);

// True when dir is a directory with a "data" subdirectory and a regular file "COMPLETE".
bool IsCompleteGeneration(const std::filesystem::path& dir);

// Points "current.txt" in root at the generation `name`, replacing the file atomically.
bool ActivateGeneration(const std::filesystem::path& root, const std::string& name,
                        std::string* message);

// Removes every complete generation in root except `active` and the newest of the others.
// Incomplete generations are left alone: another server may be copying into one.
void PruneGenerations(const std::filesystem::path& root, const std::string& active);

// Finds or creates the complete generation whose data carries the release identity of
// installed_data and sets *data_dir to its "data" directory. Reusing the current generation
// writes nothing. On failure *message says why.
bool PrepareGeneration(const std::filesystem::path& root,
                       const std::filesystem::path& installed_data, std::filesystem::path* data_dir,
                       std::string* message);

// Re-creates, under the same name, the generation whose "data" directory is `data_dir` from the
// installed data: for a generation deleted or damaged under a running server, whose engine and
// services keep using its paths. The copy is made beside it and moved into place complete.
bool RepairGeneration(const std::filesystem::path& installed_data,
                      const std::filesystem::path& data_dir, std::string* message);

// Start-up's entry point: PrepareGeneration over GenerationsRoot(local_root). *shared_data_dir
// is the directory to hand to the engine and the theme catalog. Never throws.
bool RecoverDataGeneration(const std::filesystem::path& installed_data,
                           const std::filesystem::path& local_root,
                           std::filesystem::path* shared_data_dir, std::string* message);

}  // namespace kavi::win::server
