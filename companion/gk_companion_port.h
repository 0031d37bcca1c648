// SPDX-License-Identifier: Apache-2.0
// The companion client as the client sessions reach it (ports/companion_port.h).
#pragma once

#include "companion/gk_client.h"
#include "ports/companion_port.h"

namespace kavi::win {

class GkCompanionPort final : public CompanionPort {
 public:
  explicit GkCompanionPort(GKClient* client) : client_(client) {}

  bool StartPairing(const std::string& app_name, std::string* link, std::string* error) override;
  bool WaitForPairing(uint32_t timeout_ms, std::string* error) override;
  CompanionStatus Status() const override;
  void Unpair() override;
  bool RequestCode(const std::string& entry_id, std::string* code, std::string* error,
                   HttpCancellation* cancellation, uint32_t max_wait_ms) override;
  bool FetchTwoFactor(std::string* error) override;
  std::vector<TwoFactorEntry> TwoFactorEntries() const override;

 private:
  GKClient* const client_;
};

}  // namespace kavi::win
