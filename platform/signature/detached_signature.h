// SPDX-License-Identifier: Apache-2.0
// Detached CMS signatures: "<file>.p7s" beside a file holds a DER CMS SignedData over the file's
// bytes; it is checked against trust anchors (PEM certificates). The recogniser helper, scheme
// packs and downloaded updates are checked this way before they are used.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavi::win {

inline constexpr char kSignatureSuffix[] = ".p7s";
// The folder of the shipped trust anchors inside the data directory, and the user's own anchor
// file in the configuration directory, which adds to them.
inline constexpr char kTrustAnchorsDirName[] = "trust-anchors";
inline constexpr char kUserTrustAnchorsFileName[] = "trust-anchors.pem";

// The anchors a signature is checked against: the shipped ones, then the user's.
std::vector<std::filesystem::path> TrustAnchorPaths(const std::filesystem::path& installed_data,
                                                    const std::filesystem::path& user_config);

struct SignatureCheck {
  enum class Outcome {
    kValid,
    kUnreadable,   // no signature file, or not a CMS signature
    kChainFailed,  // the bytes, the signature or the signer's certificate do not check out
  };
  Outcome outcome = Outcome::kUnreadable;
  // The first signer's subject common name (UTF-8); empty when the signer's certificate is not
  // in the signature or has no common name. Filled whatever the outcome.
  std::string signer_common_name;
  // For kChainFailed: the certificate verification error (OpenSSL's X509_V_ERR_*, positive), or
  // the negated reason code of a signature that does not match the bytes (negative).
  long failure_code = 0;
  std::string detail;  // OpenSSL's words for the failure, for logs
};

// Checks `signature` (DER) over the bytes of `file`. The signer's certificate must lead to one
// of the anchors (the signature may carry intermediates), be valid now and allow code signing.
// `anchors` lists PEM files (several certificates each) and folders of "*.pem" files; ones that
// do not exist are skipped.
SignatureCheck VerifyDetachedSignature(const std::filesystem::path& file,
                                       const std::filesystem::path& signature,
                                       const std::vector<std::filesystem::path>& anchors);

// Signs `file` with the certificate and private key (PEM) and writes the DER signature to
// `signature`, replacing it atomically. For the build and for tests.
bool SignDetached(const std::filesystem::path& file, const std::filesystem::path& certificate,
                  const std::filesystem::path& private_key,
                  const std::filesystem::path& signature, std::string* error);

}  // namespace kavi::win
