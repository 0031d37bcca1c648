// SPDX-License-Identifier: Apache-2.0
#include "voice/resampler.h"

#include <algorithm>
#include <cmath>

namespace kavi::win {

std::vector<float> ResampleLinear(std::span<const float> input, uint32_t input_rate,
                                  uint32_t output_rate) {
  if (input.empty() || input_rate == 0 || output_rate == 0) return {};
  if (input_rate == output_rate) return std::vector<float>(input.begin(), input.end());
  const size_t n = input.size();
  const double length = static_cast<double>(n) * output_rate / input_rate;
  if (length > 4611686018427387904.0) return {};  // 2^62
  const size_t out_length = std::max<size_t>(1, static_cast<size_t>(std::llround(length)));
  const double step = static_cast<double>(input_rate) / output_rate;
  std::vector<float> output(out_length);
  for (size_t i = 0; i < out_length; ++i) {
    const double position = static_cast<double>(i) * step;
    const size_t i0 = std::min(n - 1, static_cast<size_t>(position));
    const size_t i1 = std::min(n - 1, i0 + 1);
    const float fraction = static_cast<float>(position - static_cast<double>(i0));
    output[i] = input[i0] + (input[i1] - input[i0]) * fraction;
  }
  return output;
}

}  // namespace kavi::win
