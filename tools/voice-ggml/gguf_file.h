// SPDX-License-Identifier: Apache-2.0
// GGUF (version 3), the single-file model container of ggml-based recognisers: metadata
// key-value pairs, then named tensors. A voice model file for a backend that needs plain files
// (pocketsphinx) packs each file as a one-dimensional tensor of bytes (type I8), so that one
// downloadable, hashable file carries the whole model.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr uint32_t kGgufVersion = 3;
inline constexpr uint32_t kGgufDefaultAlignment = 32;
inline constexpr uint32_t kGgmlTypeI8 = 24;
inline constexpr char kGgufArchitectureKey[] = "general.architecture";
inline constexpr char kGgufNameKey[] = "general.name";
inline constexpr char kGgufAlignmentKey[] = "general.alignment";

struct GgufTensor {
  std::string name;
  uint32_t type = 0;
  std::vector<uint64_t> dims;
  uint64_t offset = 0;  // from the start of the file
  uint64_t bytes = 0;   // known for I8 tensors; 0 for other types
};

// The index of a GGUF file: its string and integer metadata (other kinds are skipped) and its
// tensors, every one checked to lie inside the file.
struct GgufIndex {
  std::map<std::string, std::string> strings;
  std::map<std::string, uint64_t> integers;
  std::vector<GgufTensor> tensors;

  const GgufTensor* Find(std::string_view name) const;
  std::string String(std::string_view key) const;
};

// Parses `file` (the whole file). False with a short reason when it is not a GGUF file of
// version 3 or any count, length or offset leads outside it.
bool ParseGguf(std::string_view file, GgufIndex* index, std::string* error);

// Builds a GGUF file of string metadata and byte tensors.
class GgufWriter {
 public:
  void AddString(std::string key, std::string value);
  void AddByteTensor(std::string name, std::string bytes);
  std::string Finish() const;

 private:
  std::vector<std::pair<std::string, std::string>> strings_;
  std::vector<std::pair<std::string, std::string>> tensors_;
};

}  // namespace kavi::win
