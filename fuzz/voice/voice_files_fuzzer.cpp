// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as the files the recogniser helper reads: a recording and a downloaded model
// file. The first byte picks the reader. Each must give a result within its limits or an error.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tools/voice-ggml/gguf_file.h"
#include "voice/wav_file.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;
  switch (data[0] % 2) {
    case 0: {
      PcmWav wav;
      const bool ok = DecodePcmWav(bytes, &wav, &error);
      Check(ok == error.empty());
      Check(!ok || wav.samples.size() * 2 <= bytes.size());
      break;
    }
    case 1: {
      GgufIndex index;
      if (ParseGguf(bytes, &index, &error)) {
        for (const GgufTensor& tensor : index.tensors)
          Check(tensor.offset <= bytes.size() && tensor.bytes <= bytes.size() - tensor.offset);
      } else {
        Check(!error.empty());
      }
      break;
    }
  }
  return 0;
}
