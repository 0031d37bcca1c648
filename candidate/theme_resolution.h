// SPDX-License-Identifier: Apache-2.0
// Turns the configured theme id into the style the window draws with, falling back to "native"
// and then to the built-in default style.
#pragma once

#include <filesystem>
#include <string>

#include "style/candidate_style.h"

namespace kavi::win {

CandidateStyle ResolveCandidateStyle(const std::filesystem::path& builtin_dir,
                                     const std::filesystem::path& user_dir,
                                     const std::string& theme_id, bool dark);

}  // namespace kavi::win
