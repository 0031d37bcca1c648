// SPDX-License-Identifier: Apache-2.0
// Saving the two configuration files the way the server expects the settings program to.
#pragma once

#include <filesystem>
#include <string>

#include "config/config_record.h"

namespace kavi::win {

// Gives both halves of `record` the next config_version, writes config.json and then
// app_options.json atomically, and then records the pair as the last consistent one (the
// last-good.snapshot file and the last-good directory). Creates the directory when missing.
// False with a message when a write fails; a failure before the second write leaves the files
// as they were, and a torn pair is what the server repairs from the snapshot.
bool SaveSettings(const std::filesystem::path& directory, ConfigRecord* record,
                  std::string* message);

}  // namespace kavi::win
