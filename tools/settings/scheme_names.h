// SPDX-License-Identifier: Apache-2.0
// The names people know the schemes by ("全拼", "倉頡"), read from the scheme files the program
// ships; the server's catalogue lists schemes by id.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win {

// The shipped schemes: "schemas" in the data folder beside the program.
std::filesystem::path InstalledSchemesDirectory();

// The "name" of the scheme's "schema" section in <schemas_dir>/<id>.schema.yaml; the id itself
// when the file is missing, unreadable or has no name.
std::string SchemeDisplayName(const std::filesystem::path& schemas_dir, const std::string& id);

}  // namespace kavi::win
