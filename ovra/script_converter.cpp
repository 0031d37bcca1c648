// SPDX-License-Identifier: Apache-2.0
#include "ovra/script_converter.h"

#include <opencc/SimpleConverter.hpp>

#include <exception>

#include "ovra/log.h"

namespace kavi::win {
namespace {

constexpr char kToTraditionalConfig[] = "s2twp.json";
constexpr char kToSimplifiedConfig[] = "t2s.json";

}  // namespace

ScriptConverter::ScriptConverter() = default;
ScriptConverter::~ScriptConverter() = default;

bool ScriptConverter::ToTraditional(const std::string& text, std::string* out) {
  return Convert(kToTraditionalConfig, &to_traditional_, &to_traditional_failed_, text, out);
}

bool ScriptConverter::ToSimplified(const std::string& text, std::string* out) {
  return Convert(kToSimplifiedConfig, &to_simplified_, &to_simplified_failed_, text, out);
}

bool ScriptConverter::Convert(const char* config,
                              std::unique_ptr<opencc::SimpleConverter>* converter, bool* failed,
                              const std::string& text, std::string* out) {
  if (*failed) return false;
  try {
    if (!*converter) *converter = std::make_unique<opencc::SimpleConverter>(config);
    *out = (*converter)->Convert(text);
    return true;
  } catch (const std::exception& e) {
    // Tables that failed once are not retried on every key.
    *failed = !*converter;
    if (*failed) LogEngineEvent(std::string("OpenCC ") + config + " unavailable: " + e.what());
    return false;
  }
}

}  // namespace kavi::win
