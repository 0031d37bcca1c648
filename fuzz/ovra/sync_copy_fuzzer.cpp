// SPDX-License-Identifier: Apache-2.0
// Synchronised copies of the learned data may come from another machine sharing the user-data
// folder: any bytes must parse or be refused with a message, and merging their words must keep
// every word line of ours.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ovra/user_data_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  kavi::win::UserDataText text;
  std::string message;
  if (kavi::win::ParseSyncCopy(bytes, "base_pinyin", &text, &message)) {
    if (kavi::win::FormatSyncCopy("base_pinyin", text) != bytes) __builtin_trap();
  } else if (message.empty()) {
    __builtin_trap();
  }
  const std::string ours = "你号 ni'hao 0\n";
  const std::string merged = kavi::win::MergeWordLines(ours, bytes);
  if (merged.compare(0, ours.size(), ours) != 0) __builtin_trap();
  if (kavi::win::MergeWordLines(merged, bytes) != merged) __builtin_trap();
  return 0;
}
