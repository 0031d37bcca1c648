// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services:
// clipboard translation through Kavi's service. A missing service is a null pointer.
#pragma once

#include <string>

namespace kavi::win {

class HttpCancellation;

class TranslationPort {
 public:
  virtual ~TranslationPort() = default;
  // Translates `text` into the target language code ("en", "jp", "dict", ...). Blocks until the
  // service answers or `cancellation` (may be null) is cancelled; false with a message for the
  // user.
  virtual bool Translate(const std::string& text, const std::string& target,
                         std::string* translation, std::string* error,
                         HttpCancellation* cancellation) = 0;
};

}  // namespace kavi::win
