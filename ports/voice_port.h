// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include <cstdint>
#include <string>

namespace kavi::win {

class VoicePort {
 public:
  virtual ~VoicePort() = default;
  // Reloads the voice settings from the configuration; false when they cannot be read.
  virtual bool ReloadSettings() = 0;
  // Command 0 toggle, 1 start, 2 stop, 3 cancel; alternate routes the text to the second slot.
  virtual bool Command(int command, bool alternate, std::string* message) = 0;
  virtual bool StartModelJob(bool download, const std::string& model, std::string* message) = 0;
  // False when no model job is running.
  virtual bool CancelModelJob(bool alternate) = 0;
  // The two voice state words (reply offsets 86 and 50).
  virtual void StateWords(uint32_t* value, uint32_t* cursor_word) = 0;
};

}  // namespace kavi::win
