// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include <functional>
#include <string>

namespace kavi::win {

class SchemePackPort {
 public:
  virtual ~SchemePackPort() = default;
  virtual bool Ready() = 0;
  // Starts the install (true) or removal job of a pack on a worker; the job calls finished
  // once, with its success, when it ends (also when it was cancelled).
  virtual bool StartJob(bool install, const std::string& pack_id,
                        std::function<void(bool success)> finished, std::string* message) = 0;
  virtual bool IsInstalled(const std::string& scheme_id) = 0;
  // Cancels the running job's downloads.
  virtual void CancelJob() = 0;
};

}  // namespace kavi::win
