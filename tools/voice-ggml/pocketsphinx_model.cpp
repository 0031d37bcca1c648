// SPDX-License-Identifier: Apache-2.0
#include "tools/voice-ggml/pocketsphinx_model.h"

#include <fstream>
#include <iterator>

#include "tools/voice-ggml/gguf_file.h"

namespace kavi::win {

bool PackPocketsphinxModel(const std::filesystem::path& folder, std::string_view language,
                           std::string* file, std::string* error) {
  GgufWriter writer;
  writer.AddString(kGgufArchitectureKey, kPocketsphinxArchitecture);
  writer.AddString(kGgufNameKey, "CMU Sphinx " + std::string(language) + " (" +
                                     folder.filename().string() + ")");
  writer.AddString(kPocketsphinxLanguageKey, std::string(language));
  for (const PocketsphinxPart& part : kPocketsphinxParts) {
    const std::filesystem::path path = folder / part.source;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      if (!part.required) continue;
      *error = path.string() + ": cannot be read";
      return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      *error = path.string() + ": cannot be read";
      return false;
    }
    writer.AddByteTensor(part.tensor, std::move(bytes));
  }
  *file = writer.Finish();
  error->clear();
  return true;
}

}  // namespace kavi::win
