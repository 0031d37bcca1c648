// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/maintenance_requests.h"

#include "server/session/requests/request_replies.h"

namespace kavi::win {

bool IsMaintenanceRequest(RequestKind kind) {
  return kind == RequestKind::SyncAndRedeploy || kind == RequestKind::Redeploy ||
         kind == RequestKind::MaintenanceStatus;
}

PipeResponse HandleMaintenanceRequest(const PipeRequest& request, MaintenancePort* maintenance,
                                      JobFlags& jobs) {
  const auto kind = static_cast<RequestKind>(request.kind);
  if (kind == RequestKind::MaintenanceStatus) return StatusReply(request, jobs.maintenance_status);

  if (!jobs.TryTakeBusy()) return BusyReply(request);
  if (!maintenance || !maintenance->Start(kind == RequestKind::SyncAndRedeploy)) {
    jobs.busy = false;
    return RefusedReply(request);
  }
  return OkReply(request);
}

}  // namespace kavi::win
