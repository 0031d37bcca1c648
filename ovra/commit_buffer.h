// SPDX-License-Identifier: Apache-2.0
// Text committed since the client last asked for it. Several pieces (a word and the punctuation
// typed after it) leave as one record; the alternative text stays aligned with the text by
// standing in the text itself for pieces that had no alternative.
#pragma once

#include <string>

namespace kavi::win {

struct CommitRecord {
  std::string text;
  std::string alternative_text;  // the simplified original when the output was converted
  std::string input_code;
};

class CommitBuffer {
 public:
  void Append(const std::string& text, const std::string& alternative,
              const std::string& input_code);
  // Moves the pending record out; false when there is none.
  bool Take(CommitRecord* record);
  void Clear();

 private:
  CommitRecord pending_;
  bool has_pending_ = false;
};

}  // namespace kavi::win
