// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

namespace kavi::win {

// The maintenance job of kinds 13 and 14: runs on a worker, reports through the job flags.
class MaintenancePort {
 public:
  virtual ~MaintenancePort() = default;
  // Starts the job (the caller has taken the busy flag); false when it could not start.
  virtual bool Start(bool sync_and_backup) = 0;
};

}  // namespace kavi::win
