// SPDX-License-Identifier: Apache-2.0
#include "voice/helper_signature.h"

#include "platform/log.h"
#include "platform/signature/detached_signature.h"

namespace kavi::win {

bool VerifyHelperSignature(const std::filesystem::path& executable,
                           const std::vector<std::filesystem::path>& anchors, std::string* error) {
  const SignatureCheck check = VerifyDetachedSignature(
      executable, executable.string() + kSignatureSuffix, anchors);
  switch (check.outcome) {
    case SignatureCheck::Outcome::kUnreadable:
      LogLine("[Kavi] " + check.detail + "\n");
      *error = kSignerUnreadableMessage;
      return false;
    case SignatureCheck::Outcome::kChainFailed:
      LogLine("[Kavi] " + executable.string() + ": " + check.detail + "\n");
      *error = kSignatureChainMessage + std::to_string(check.failure_code);
      return false;
    case SignatureCheck::Outcome::kValid:
      break;
  }
  if (check.signer_common_name != kHelperSignerName) {
    *error = kSignerNameMessage;
    return false;
  }
  error->clear();
  return true;
}

}  // namespace kavi::win
