// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/companion_account.h"

namespace kavi::win {

namespace {

constexpr uint32_t kPaired = 1;
constexpr uint32_t kPairing = 2;

}  // namespace

CompanionStatus ReadCompanionStatus(const ServerAnswer& answer) {
  CompanionStatus status;
  status.service = ServiceStateOf(answer);
  if (status.service != ServiceState::kAvailable) return status;
  if (answer.Is(ReplyKind::Refused) || answer.Is(ReplyKind::Busy)) {
    status.message = answer.Message();
    return status;
  }
  status.paired = answer.reply.value == kPaired;
  status.pairing = answer.reply.value == kPairing;
  if (status.paired) status.account = answer.Message();
  return status;
}

std::string ReadPairingLink(const ServerAnswer& answer, std::string* error) {
  if (ServiceStateOf(answer) != ServiceState::kAvailable) {
    *error = ServiceStateText(ServiceStateOf(answer));
    return {};
  }
  const std::string text = answer.Message();
  if (!answer.Is(ReplyKind::Ok) || !text.starts_with(kPairingLinkPrefix) ||
      text.size() == kPairingLinkPrefix.size()) {
    *error = text.empty() ? "無法開始配對" : text;
    return {};
  }
  error->clear();
  return text;
}

}  // namespace kavi::win
