// SPDX-License-Identifier: Apache-2.0
// /translate: the request, the answer, and the backends behind each target code. "dict" is the
// offline dictionary; every other code goes to a LibreTranslate-compatible endpoint when one
// is configured, and is refused with a message the client shows when none is.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "service/dictionary.h"

namespace kavi::service {

struct TranslateRequest {
  std::string text;
  std::string target;  // a Kavi language code ("en", "jp", "dict", ...)
};

// Reads {"text": ..., "to": code} (or "lang" instead of "to"). False with a message when the
// text is missing or empty, or the code is missing or not a known code.
bool ParseTranslateRequest(std::string_view body, TranslateRequest* out, std::string* error);

// The answer bodies: {"_res":"ok","text":..} and {"_res":"fail","code":..,"msg":..}.
std::string TranslationBody(std::string_view text);
std::string TranslationFailureBody(std::string_view code, std::string_view message);

// A machine translation service.
class TranslationBackend {
 public:
  virtual ~TranslationBackend() = default;
  // False with a message for the user when it cannot translate.
  virtual bool Translate(const std::string& text, const std::string& target,
                         std::string* translation, std::string* error) = 0;
};

// A LibreTranslate-compatible endpoint ("POST /translate" with q, source, target, format, and
// api_key when given). The Kavi codes are mapped to its language codes ("jp" -> "ja").
std::unique_ptr<TranslationBackend> MakeLibreTranslateBackend(std::string url, std::string api_key);

// LibreTranslate's code for a Kavi target code; empty when it has none (hk, wyw, bhw).
std::string LibreTranslateCode(std::string_view kavi_code);

class Translator {
 public:
  // Either may be null: "dict" then fails, and the other codes fail.
  Translator(const Dictionary* dictionary, std::unique_ptr<TranslationBackend> machine);
  // The answer body for a request body (always a 200 answer: failures are in the body).
  std::string Answer(std::string_view body) const;

 private:
  const Dictionary* dictionary_;
  std::unique_ptr<TranslationBackend> machine_;
};

}  // namespace kavi::service
