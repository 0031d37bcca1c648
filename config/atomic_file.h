// SPDX-License-Identifier: Apache-2.0
// Replacing a configuration file atomically, with the configuration's own failure messages.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win::server {

// Replaces the target's content with `bytes` (see ReplaceFile): a reader sees the old or the new
// content, and on failure the target keeps the old one. While another process or thread is
// writing the same target, fails at once ("無法建立暫存配置").
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* message);

}  // namespace kavi::win::server
