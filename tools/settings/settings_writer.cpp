// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/settings_writer.h"

#include <algorithm>

#include "config/atomic_file.h"
#include "config/config_files.h"
#include "platform/directories.h"

namespace kavi::win {

bool SaveSettings(const std::filesystem::path& directory, ConfigRecord* record,
                  std::string* message) {
  message->clear();
  if (!CreateDirectories(directory / kLastGoodDirectoryName, kPrivateDirectoryMode, message))
    return false;
  const uint64_t version = std::max(record->engine.config_version, record->app.config_version) + 1;
  record->engine.config_version = version;
  record->app.config_version = version;
  const std::string config_text = server::FormatConfigFile(record->engine);
  const std::string options_text = server::FormatAppOptionsFile(record->app);

  std::string write_message;
  auto write = [&](const std::filesystem::path& path, const std::string& text) {
    if (server::WriteFileAtomically(path, text, &write_message)) return true;
    *message = "cannot write " + path.string() + ": " + write_message;
    return false;
  };
  // The live pair first: only a pair that reached the disk whole may become the last good one.
  return write(directory / kConfigFileName, config_text) &&
         write(directory / kAppOptionsFileName, options_text) &&
         write(directory / kLastGoodSnapshotFileName,
               config_text + std::string(kSnapshotSeparator) + options_text) &&
         write(directory / kLastGoodDirectoryName / kConfigFileName, config_text) &&
         write(directory / kLastGoodDirectoryName / kAppOptionsFileName, options_text);
}

}  // namespace kavi::win
