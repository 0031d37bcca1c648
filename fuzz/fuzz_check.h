// SPDX-License-Identifier: Apache-2.0
// How a fuzz target reports a broken promise of the code under test: it aborts, and libFuzzer
// keeps the input that did it as a crash.
#pragma once

#include <cstdlib>

namespace kavi::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace kavi::fuzz
