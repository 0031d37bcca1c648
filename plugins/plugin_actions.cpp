#include "plugins/plugin_actions.h"

#include <algorithm>
#include <chrono>

namespace kavi::win {
namespace {

constexpr char kClipboardEmpty[] = "剪貼板為空";
constexpr char kTwoFactorNotReady[] = "二步驗證服務未就緒";
constexpr char kTranslationNotReady[] = "翻譯服務未就緒";

bool IsReady(const std::shared_future<PluginAsyncResult>& job) {
  return job.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

PluginAsyncResult RunAction(uint32_t kind, const std::string& payload,
                            const PluginActionServices& services) {
  PluginAsyncResult result;
  switch (static_cast<PluginItemKind>(kind)) {
    case PluginItemKind::TranslateClipboard: {
      std::string text = services.read_clipboard ? services.read_clipboard() : std::string();
      if (text.empty()) {
        result.error_text = kClipboardEmpty;
      } else if (!services.translate) {
        result.error_text = kTranslationNotReady;
      } else {
        result.status = services.translate(text, payload, &result.result_text, &result.error_text);
      }
      break;
    }
    case PluginItemKind::LoadTwoFactor:
      if (!services.fetch_two_factor) {
        result.error_text = kTwoFactorNotReady;
      } else {
        result.status = services.fetch_two_factor(&result.error_text);
      }
      break;
    case PluginItemKind::RequestCode:
      if (!services.request_code) {
        result.error_text = kTwoFactorNotReady;
      } else {
        result.status = services.request_code(payload, &result.result_text, &result.error_text);
      }
      break;
    default:
      break;
  }
  return result;
}

}  // namespace

std::shared_future<PluginAsyncResult> StartPluginAction(uint32_t kind, std::string payload,
                                                        PluginActionServices services) {
  return std::async(std::launch::async,
                    [kind, payload = std::move(payload), services = std::move(services)] {
                      return RunAction(kind, payload, services);
                    })
      .share();
}

void PluginJobs::Start(uint32_t kind, std::shared_future<PluginAsyncResult> job) {
  if (current_.valid() && !IsReady(current_)) superseded_.push_back(std::move(current_));
  current_kind_ = kind;
  current_ = std::move(job);
}

bool PluginJobs::TakeFinished(uint32_t* kind, PluginAsyncResult* result) {
  if (!current_.valid() || !IsReady(current_)) return false;
  *kind = current_kind_;
  *result = current_.get();
  current_ = {};
  return true;
}

void PluginJobs::ReapSuperseded() {
  std::erase_if(superseded_, [](const auto& job) { return IsReady(job); });
}

void PluginJobs::WaitAll() {
  if (current_.valid()) current_.wait();
  current_ = {};
  for (auto& job : superseded_) job.wait();
  superseded_.clear();
}

}  // namespace kavi::win
