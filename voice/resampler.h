// SPDX-License-Identifier: Apache-2.0
// The recording's conversion to the recogniser's rate: linear interpolation, no filter.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kavi::win {

// llround(n × out_rate / in_rate) samples (at least 1), each interpolated between the two input
// samples around position i × in_rate / out_rate. Empty for empty input, a zero rate, or an
// output longer than 2^62; a copy for equal rates.
std::vector<float> ResampleLinear(std::span<const float> input, uint32_t input_rate,
                                  uint32_t output_rate);

}  // namespace kavi::win
