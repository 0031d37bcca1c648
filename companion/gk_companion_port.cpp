// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_companion_port.h"

namespace kavi::win {

bool GkCompanionPort::StartPairing(const std::string& app_name, std::string* link,
                                   std::string* error) {
  std::string pairing_id;
  if (!client_->StartPairing(app_name, &pairing_id, error)) return false;
  *link = kPairingLinkPrefix + pairing_id;
  return true;
}

bool GkCompanionPort::WaitForPairing(uint32_t timeout_ms, std::string* error) {
  return client_->WaitForPairing(std::chrono::milliseconds(timeout_ms), error);
}

CompanionStatus GkCompanionPort::Status() const {
  const GKClient::Status status = client_->status();
  CompanionStatus out;
  switch (status.state) {
    case GKClient::State::kUnpaired:
      out.state = CompanionStatus::State::kUnpaired;
      break;
    case GKClient::State::kPairing:
      out.state = CompanionStatus::State::kPairing;
      out.pairing_link = kPairingLinkPrefix + status.pairing_id;
      break;
    case GKClient::State::kPaired:
      out.state = CompanionStatus::State::kPaired;
      break;
  }
  out.app_id = status.app_id;
  out.safe_id = status.safe_id;
  out.nickname = status.nickname;
  out.pairing_error = status.pairing_error;
  out.list_ready = status.list_ready;
  out.entry_count = static_cast<uint32_t>(status.entry_count);
  return out;
}

void GkCompanionPort::Unpair() {
  client_->Unpair();
}

bool GkCompanionPort::RequestCode(const std::string& entry_id, std::string* code,
                                  std::string* error, HttpCancellation* cancellation,
                                  uint32_t max_wait_ms) {
  return client_->RequestTotp(entry_id, code, error, cancellation,
                              std::chrono::milliseconds(max_wait_ms));
}

bool GkCompanionPort::FetchTwoFactor(std::string* error) {
  return client_->FetchTwoFactor(nullptr, error);
}

std::vector<TwoFactorEntry> GkCompanionPort::TwoFactorEntries() const {
  return client_->entries();
}

}  // namespace kavi::win
