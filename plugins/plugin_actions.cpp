// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_actions.h"

namespace kavi::win {
namespace {

constexpr char kClipboardEmpty[] = "剪貼板為空";
constexpr char kTwoFactorNotReady[] = "二步驗證服務未就緒";
constexpr char kTranslationNotReady[] = "翻譯服務未就緒";

}  // namespace

PluginAsyncResult RunPluginAction(uint32_t kind, const std::string& payload,
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

}  // namespace kavi::win
