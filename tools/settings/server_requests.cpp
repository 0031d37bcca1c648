// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/server_requests.h"

namespace kavi::win {

namespace {

// The job status words at offset 86 of the status replies.
constexpr uint32_t kJobRunning = 1;
constexpr uint32_t kJobDone = 2;
constexpr uint32_t kJobFailed = 3;
constexpr uint32_t kPackJobCancelled = 4;
constexpr uint32_t kPackJobCancelledAlt = 5;
// The voice controller's status word while it runs a model job, and how that job ends; the
// progress in percent is the second word (offset 50).
constexpr uint32_t kVoiceIdle = 0;
constexpr uint32_t kVoiceFinished = 4;
constexpr uint32_t kVoiceFailed = 5;
constexpr uint32_t kVoiceModelJobRunning = 6;
constexpr uint32_t kVoiceModelJobCancelled = 7;

JobProgress Progress(JobProgress::Phase phase, std::string message = {}) {
  JobProgress progress;
  progress.phase = phase;
  progress.message = std::move(message);
  return progress;
}

}  // namespace

ServiceState ServiceStateOf(const ServerAnswer& answer) {
  if (!answer.reached) return ServiceState::kServerNotRunning;
  if (answer.Is(ReplyKind::Refused) && answer.Message().empty()) return ServiceState::kNotInBuild;
  return ServiceState::kAvailable;
}

std::string ServiceStateText(ServiceState state) {
  switch (state) {
    case ServiceState::kServerNotRunning:
      return "輸入服務沒有執行";
    case ServiceState::kNotInBuild:
      return "此版本沒有這項服務";
    case ServiceState::kAvailable:
      break;
  }
  return {};
}

CatalogListing ListCatalog(KaviClient& client, RequestKind kind) {
  CatalogListing listing;
  for (;;) {
    const ServerAnswer page = Ask(client, kind, {}, static_cast<uint32_t>(listing.entries.size()));
    if (!page.reached) return listing;
    listing.reached = true;
    if (!page.Is(ReplyKind::State)) return listing;
    const uint32_t count = std::min<uint32_t>(page.reply.candidate_count, kMaxCandidateSlots);
    for (uint32_t i = 0; i < count; ++i) {
      listing.entries.push_back({std::string(TextFieldView(page.reply.candidates[i].text)),
                                 std::string(TextFieldView(page.reply.candidates[i].comment))});
    }
    // A page without entries ends the listing even when the total says more: the catalogue
    // shrank between two pages.
    if (count == 0 || listing.entries.size() >= page.reply.value) return listing;
  }
}

std::string SchemeSourceText(const std::string& source) {
  if (source == "builtin") return "內建";
  if (source == "downloaded") return "已下載";
  if (source == "remote") return "其他來源";
  return source;
}

RequestKind StatusKindOf(JobFamily family) {
  switch (family) {
    case JobFamily::kMaintenance:
      return RequestKind::MaintenanceStatus;
    case JobFamily::kSchemePack:
      return RequestKind::PackJobStatus;
    case JobFamily::kVoiceModel:
      break;
  }
  return RequestKind::VoiceStatus;
}

JobProgress ReadJobStart(const ServerAnswer& start) {
  using Phase = JobProgress::Phase;
  if (!start.reached) return Progress(Phase::kUnreachable);
  if (start.Is(ReplyKind::Busy)) return Progress(Phase::kBusy);
  if (!start.Is(ReplyKind::Ok)) return Progress(Phase::kRefused, start.Message());
  return Progress(Phase::kRunning);
}

JobProgress ReadJobStatus(JobFamily family, const ServerAnswer& status) {
  using Phase = JobProgress::Phase;
  if (!status.reached) return Progress(Phase::kUnreachable);
  if (!status.Is(ReplyKind::State)) return Progress(Phase::kFailed, status.Message());
  const uint32_t word = status.reply.value;
  if (family == JobFamily::kVoiceModel) {
    switch (word) {
      case kVoiceModelJobRunning: {
        JobProgress progress = Progress(Phase::kRunning);
        progress.percent = static_cast<int>(std::min<uint32_t>(status.reply.cursor, 100));
        return progress;
      }
      case kVoiceFinished:
        return Progress(Phase::kDone);
      case kVoiceFailed:
        return Progress(Phase::kFailed);
      case kVoiceIdle:  // cancelled, with the partial download removed
      case kVoiceModelJobCancelled:
        return Progress(Phase::kCancelled);
      default:  // a recording: the model job has ended
        return Progress(Phase::kDone);
    }
  }
  switch (word) {
    case kJobRunning:
      return Progress(Phase::kRunning);
    case kJobDone:
      return Progress(Phase::kDone);
    case kJobFailed:
      return Progress(Phase::kFailed);
    case kPackJobCancelled:
    case kPackJobCancelledAlt:
      return Progress(Phase::kCancelled);
    default:  // idle: no job was ever started in this server
      return Progress(Phase::kFailed);
  }
}

std::string JobProgressText(const JobProgress& progress) {
  using Phase = JobProgress::Phase;
  std::string text;
  switch (progress.phase) {
    case Phase::kRunning:
      text = progress.percent >= 0 ? "進行中 " + std::to_string(progress.percent) + "%" : "進行中…";
      break;
    case Phase::kDone:
      text = "已完成";
      break;
    case Phase::kFailed:
      text = "失敗";
      break;
    case Phase::kCancelled:
      text = "已取消";
      break;
    case Phase::kRefused:
      text = "輸入服務拒絕了這項作業";
      break;
    case Phase::kBusy:
      text = "另一項維護作業正在執行，請稍後再試";
      break;
    case Phase::kUnreachable:
      text = ServiceStateText(ServiceState::kServerNotRunning);
      break;
  }
  if (!progress.message.empty()) text += "：" + progress.message;
  return text;
}

}  // namespace kavi::win
