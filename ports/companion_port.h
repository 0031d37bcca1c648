// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services:
// the companion 2FA client (pairing with the GateKite app, its status, codes, and the list the
// 2FA plug-in pages show). A missing service is a null pointer, and the request kinds that need
// it are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/two_factor_entry.h"

namespace kavi::win {

class HttpCancellation;

inline constexpr char kPairingLinkPrefix[] = "gatekite://sso?tmp_id=";

struct CompanionStatus {
  enum class State : uint32_t { kUnpaired = 0, kPairing = 1, kPaired = 2 };
  State state = State::kUnpaired;
  std::string app_id;
  std::string safe_id;
  std::string nickname;
  std::string pairing_link;   // while pairing
  std::string pairing_error;  // why the last pairing attempt failed, if it did
  bool list_ready = false;    // the 2FA list has been fetched
  uint32_t entry_count = 0;
};

class CompanionPort {
 public:
  virtual ~CompanionPort() = default;

  // Starts (or restarts) pairing; the link is what the user opens in the companion app.
  virtual bool StartPairing(const std::string& app_name, std::string* link,
                            std::string* error) = 0;
  // Waits up to `timeout_ms` for the pairing under way to complete.
  virtual bool WaitForPairing(uint32_t timeout_ms, std::string* error) = 0;
  virtual CompanionStatus Status() const = 0;
  virtual void Unpair() = 0;

  // Asks for the current code of a 2FA entry and waits for the user's answer on the companion,
  // at most `max_wait_ms` (the service's own deadline when shorter) or until `cancellation`.
  virtual bool RequestCode(const std::string& entry_id, std::string* code, std::string* error,
                           HttpCancellation* cancellation, uint32_t max_wait_ms) = 0;
  // Fetches the 2FA list into the cache that TwoFactorEntries reads.
  virtual bool FetchTwoFactor(std::string* error) = 0;
  virtual std::vector<TwoFactorEntry> TwoFactorEntries() const = 0;
};

}  // namespace kavi::win
