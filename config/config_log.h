// Event lines of the configuration code on stderr.
#pragma once

#include <string_view>

namespace kavi::win::server {

// Writes one event in one write so concurrent lines do not interleave; adds a line feed when the
// text has none.
void LogConfigEvent(std::string_view text);

}  // namespace kavi::win::server
