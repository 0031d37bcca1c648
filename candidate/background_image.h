// SPDX-License-Identifier: Apache-2.0
// The theme's optional background picture, decoded into a cairo image surface.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <string>

namespace kavi::win {

inline constexpr int kMaxBackgroundSide = 8192;
inline constexpr long long kMaxBackgroundPixels = 67108864;

// The file's first frame as premultiplied ARGB, or null with a message when it cannot be read
// or is empty or too large (either side above 8,192 or more than 67,108,864 pixels).
cairo_surface_t* LoadBackgroundImage(const std::filesystem::path& path, std::string* message);

}  // namespace kavi::win
