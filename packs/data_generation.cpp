// SPDX-License-Identifier: Apache-2.0
#include "packs/data_generation.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "config/atomic_file.h"
#include "platform/directories.h"

namespace kavi::win::server {
namespace fs = std::filesystem;

namespace {

// A release identity or a generation name is short; a first line longer than this is not one.
constexpr std::streamsize kMaxLineBytes = 4096;

bool Fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  char c;
  while (static_cast<std::streamsize>(line.size()) < kMaxLineBytes && in.get(c) && c != '\n')
    line.push_back(c);
  return line;
}

// The creation time in the name of "gen.<milliseconds>"; nullopt for any other name.
std::optional<uint64_t> GenerationNumber(const std::string& name) {
  constexpr size_t prefix = sizeof kGenerationPrefix - 1;
  if (name.size() <= prefix || name.compare(0, prefix, kGenerationPrefix) != 0) return std::nullopt;
  uint64_t number = 0;
  const char* end = name.data() + name.size();
  auto [ptr, ec] = std::from_chars(name.data() + prefix, end, number);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return number;
}

// Only a plain "gen." name may come from "current.txt": it must not lead out of the root.
bool IsGenerationName(const std::string& name) {
  return name.size() > sizeof kGenerationPrefix - 1 &&
         name.compare(0, sizeof kGenerationPrefix - 1, kGenerationPrefix) == 0 &&
         name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find('\0') == std::string::npos && name != "." && name != "..";
}

// Newest first: by the time in the name, then names without a time, each group by name.
bool NewerFirst(const std::string& a, const std::string& b) {
  std::optional<uint64_t> na = GenerationNumber(a), nb = GenerationNumber(b);
  if (na.has_value() != nb.has_value()) return na.has_value();
  if (na && *na != *nb) return *na > *nb;
  return a > b;
}

// The names of the complete generations in root other than `except`, newest first.
std::vector<std::string> CompleteGenerations(const fs::path& root, const std::string& except) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name == except || !IsGenerationName(name)) continue;
    if (IsCompleteGeneration(it->path())) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), NewerFirst);
  return names;
}

bool HasIdentity(const fs::path& generation, const std::string& identity) {
  return ReadReleaseIdentity(generation / kGenerationDataName) == identity;
}

// Creates a new, empty generation directory named after the current time. A name already taken
// (another server in the same millisecond, a clock set back) moves on to the next millisecond,
// so the directory is always this call's own.
bool CreateGenerationDirectory(const fs::path& root, std::string* name) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  uint64_t millis =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = kGenerationPrefix + std::to_string(millis + attempt);
    if (CreateDirectory(root / candidate, kPrivateDirectoryMode)) {
      *name = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Through the atomic replacement: a marker cut short never exists under its name.
bool WriteCompleteMarker(const fs::path& generation) {
  std::string ignored;
  return WriteFileAtomically(generation / kGenerationCompleteName, kGenerationCompleteContent,
                             &ignored);
}

bool CreateGeneration(const fs::path& root, const fs::path& installed_data, fs::path* data_dir,
                      std::string* message) {
  std::string name;
  if (!CreateGenerationDirectory(root, &name)) return Fail(message, kCreateGenerationFailedMessage);
  fs::path generation = root / name;
  // A failed generation is this call's own and never complete; remove it rather than leave it.
  auto discard = [&](const char* text) {
    std::error_code ignored;
    fs::remove_all(generation, ignored);
    return Fail(message, text);
  };
  if (!CreateDirectory(generation / kGenerationDataName, kPrivateDirectoryMode))
    return discard(kCreateGenerationFailedMessage);
  std::error_code ec;
  fs::copy(installed_data, generation / kGenerationDataName,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) return discard(kCreateGenerationFailedMessage);
  if (!WriteCompleteMarker(generation)) return discard(kCompleteGenerationFailedMessage);
  // The generation is complete and usable now. Should "current.txt" not be replaced, the next
  // start-up finds it again by the candidate search, so this start-up goes on with it.
  ActivateGeneration(root, name, nullptr);
  PruneGenerations(root, name);
  *data_dir = generation / kGenerationDataName;
  return true;
}

}  // namespace

fs::path GenerationsRoot(const fs::path& local_root) {
  return local_root.empty() ? fs::path(".") : local_root / kGenerationsFolderName;
}

std::string ReadReleaseIdentity(const fs::path& data_dir) {
  return ReadFirstLine(data_dir / kReleaseIdentityName);
}

bool IsCompleteGeneration(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec) && fs::is_directory(dir / kGenerationDataName, ec) &&
         fs::is_regular_file(dir / kGenerationCompleteName, ec);
}

bool ActivateGeneration(const fs::path& root, const std::string& name, std::string* message) {
  fs::path target = root / kCurrentGenerationName;
  std::string reason;
  if (!WriteFileAtomically(target, name + "\n", &reason))
    return Fail(message, "cannot write " + target.string() + ": " + reason);
  if (message) message->clear();
  return true;
}

void PruneGenerations(const fs::path& root, const std::string& active) {
  std::vector<std::string> older = CompleteGenerations(root, active);
  for (size_t i = 1; i < older.size(); ++i) {
    std::error_code ignored;
    fs::remove_all(root / older[i], ignored);
  }
}

bool PrepareGeneration(const fs::path& root, const fs::path& installed_data, fs::path* data_dir,
                       std::string* message) {
  std::error_code ec;
  if (!data_dir || !fs::is_directory(installed_data, ec))
    return Fail(message, kInstalledDataMissingMessage);
  std::string reason;
  if (!CreateDirectories(root, kPrivateDirectoryMode, &reason))
    return Fail(message, "create_directories: " + reason);

  std::string current = ReadFirstLine(root / kCurrentGenerationName);
  std::string identity = ReadReleaseIdentity(installed_data);
  // Data without an identity cannot be matched to a generation; it always gets a fresh copy.
  if (!identity.empty()) {
    if (IsGenerationName(current) && IsCompleteGeneration(root / current) &&
        HasIdentity(root / current, identity)) {
      *data_dir = root / current / kGenerationDataName;
      if (message) message->clear();
      return true;
    }
    for (const std::string& name : CompleteGenerations(root, {})) {
      if (!HasIdentity(root / name, identity)) continue;
      ActivateGeneration(root, name, nullptr);
      *data_dir = root / name / kGenerationDataName;
      if (message) message->clear();
      return true;
    }
  }
  if (!CreateGeneration(root, installed_data, data_dir, message)) return false;
  if (message) message->clear();
  return true;
}

bool RepairGeneration(const fs::path& installed_data, const fs::path& data_dir,
                      std::string* message) {
  const fs::path generation = data_dir.parent_path();
  const fs::path root = generation.parent_path();
  const std::string name = generation.filename().string();
  std::error_code ec;
  if (data_dir.filename() != kGenerationDataName || !IsGenerationName(name) ||
      !fs::is_directory(installed_data, ec))
    return Fail(message, kInstalledDataMissingMessage);
  std::string reason;
  if (!CreateDirectories(root, kPrivateDirectoryMode, &reason)) return Fail(message, reason);
  // Not a "gen." name: a repair cut short is never taken for a generation.
  const fs::path staging = root / ("repair." + name);
  fs::remove_all(staging, ec);
  if (!CreateDirectory(staging, kPrivateDirectoryMode) ||
      !CreateDirectory(staging / kGenerationDataName, kPrivateDirectoryMode))
    return Fail(message, kCreateGenerationFailedMessage);
  auto discard = [&](const char* text) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return Fail(message, text);
  };
  fs::copy(installed_data, staging / kGenerationDataName,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) return discard(kCreateGenerationFailedMessage);
  if (!WriteCompleteMarker(staging)) return discard(kCompleteGenerationFailedMessage);
  fs::remove_all(generation, ec);
  fs::rename(staging, generation, ec);
  if (ec) return discard(kCreateGenerationFailedMessage);
  if (message) message->clear();
  return true;
}

bool RecoverDataGeneration(const fs::path& installed_data, const fs::path& local_root,
                           fs::path* shared_data_dir, std::string* message) {
  try {
    return PrepareGeneration(GenerationsRoot(local_root), installed_data, shared_data_dir, message);
  } catch (const std::exception& e) {
    return Fail(message, e.what());
  }
}

}  // namespace kavi::win::server
