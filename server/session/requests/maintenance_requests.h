// SPDX-License-Identifier: Apache-2.0
// Kinds 13 to 15: "sync and back up" and redeploy of the user data, and their status.
#pragma once

#include "ports/maintenance_port.h"
#include "protocol/pipe_records.h"
#include "server/session/shared_state.h"

namespace kavi::win {

bool IsMaintenanceRequest(RequestKind kind);

// A job starts only when it can take the busy flag, which the job gives back when it ends.
PipeResponse HandleMaintenanceRequest(const PipeRequest& request, MaintenancePort* maintenance,
                                      JobFlags& jobs);

}  // namespace kavi::win
