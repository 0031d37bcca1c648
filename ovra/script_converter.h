// SPDX-License-Identifier: Apache-2.0
// Script conversion with OpenCC: simplified to traditional (Taiwan forms and phrases, "s2twp")
// for output, traditional to simplified ("t2s") for texts the server hands in. Each converter is
// opened on first use, so a simplified-only session never loads the traditional tables.
#pragma once

#include <memory>
#include <string>

namespace opencc {
class SimpleConverter;
}

namespace kavi::win {

class ScriptConverter {
 public:
  ScriptConverter();
  ~ScriptConverter();

  // Converts text; returns false (and leaves out alone) when the tables cannot be loaded.
  bool ToTraditional(const std::string& text, std::string* out);
  bool ToSimplified(const std::string& text, std::string* out);

 private:
  bool Convert(const char* config, std::unique_ptr<opencc::SimpleConverter>* converter,
               bool* failed, const std::string& text, std::string* out);

  std::unique_ptr<opencc::SimpleConverter> to_traditional_;
  std::unique_ptr<opencc::SimpleConverter> to_simplified_;
  bool to_traditional_failed_ = false;
  bool to_simplified_failed_ = false;
};

}  // namespace kavi::win
