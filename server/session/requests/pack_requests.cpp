// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/pack_requests.h"

#include <string>

#include "server/session/requests/request_replies.h"

namespace kavi::win {
namespace {

PipeResponse StartPackJob(const PipeRequest& request, SchemePackPort* packs, JobFlags& jobs) {
  if (!jobs.TryTakeBusy()) return BusyReply(request);
  jobs.pack_running = true;
  jobs.pack_cancel_requested = false;
  auto release = [&jobs] {
    jobs.pack_running = false;
    jobs.busy = false;
  };
  if (!packs || !packs->Ready()) {
    release();
    return RefusedReply(request);
  }
  jobs.pack_status = static_cast<uint32_t>(PackJobStatus::Running);
  std::string message;
  JobFlags* flags = &jobs;
  const bool started = packs->StartJob(
      static_cast<RequestKind>(request.kind) == RequestKind::InstallPack,
      std::string(TextFieldView(request.text)),
      [flags](bool success) {
        PackJobStatus status = success ? PackJobStatus::Done : PackJobStatus::Failed;
        if (flags->pack_cancel_requested)
          status = flags->pack_cancel_alt ? PackJobStatus::CancelledAlt : PackJobStatus::Cancelled;
        flags->pack_status = static_cast<uint32_t>(status);
        flags->pack_running = false;
        flags->busy = false;
      },
      &message);
  if (!started) {
    jobs.pack_status = static_cast<uint32_t>(PackJobStatus::Failed);
    release();
    return RefusedReply(request, message);
  }
  return OkReply(request);
}

}  // namespace

bool IsPackRequest(RequestKind kind) {
  switch (kind) {
    case RequestKind::InstallPack:
    case RequestKind::RemovePack:
    case RequestKind::PackJobStatus:
    case RequestKind::CancelPackJob:
    case RequestKind::CancelPackJobAlt:
      return true;
    default:
      return false;
  }
}

PipeResponse HandlePackRequest(const PipeRequest& request, SchemePackPort* packs, JobFlags& jobs) {
  switch (static_cast<RequestKind>(request.kind)) {
    case RequestKind::PackJobStatus:
      return StatusReply(request, jobs.pack_status);
    case RequestKind::CancelPackJob:
    case RequestKind::CancelPackJobAlt:
      if (!jobs.pack_running || !packs) return RefusedReply(request);
      jobs.pack_cancel_alt =
          static_cast<RequestKind>(request.kind) == RequestKind::CancelPackJobAlt;
      jobs.pack_cancel_requested = true;
      packs->CancelJob();
      return OkReply(request);
    default:
      return StartPackJob(request, packs, jobs);
  }
}

}  // namespace kavi::win
