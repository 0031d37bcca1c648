// SPDX-License-Identifier: Apache-2.0
// Signing certificates made at run time: a self-signed signer, or a CA and a signer it issued,
// with a chosen name, validity and key usage.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/common/test_certificates.h"

namespace kavi::win::testing {

struct SignerOptions {
  std::string common_name = "Norvale Inc.";
  bool code_signing = true;
  long valid_from_s = -3600;  // relative to now
  long valid_until_s = 86400;
};

struct SignerFiles {
  std::filesystem::path certificate;  // PEM
  std::filesystem::path key;          // PEM
};

// Writes <stem>.pem and <stem>.key into `dir`. With `issuer` the certificate is issued by it
// (its files), else self-signed.
inline SignerFiles MakeSigner(const std::filesystem::path& dir, const std::string& stem,
                              const SignerOptions& options, const SignerFiles* issuer = nullptr,
                              bool is_ca = false) {
  EVP_PKEY* key = detail::NewKey();
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  static long serial = 100;
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate), options.valid_from_s);
  X509_gmtime_adj(X509_getm_notAfter(certificate), options.valid_until_s);
  X509_set_pubkey(certificate, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(options.common_name.c_str()),
                             -1, -1, 0);
  X509* issuer_certificate = certificate;
  EVP_PKEY* issuer_key = key;
  if (issuer) {
    FILE* in = std::fopen(issuer->certificate.c_str(), "r");
    issuer_certificate = PEM_read_X509(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    in = std::fopen(issuer->key.c_str(), "r");
    issuer_key = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
    std::fclose(in);
  }
  X509_set_issuer_name(certificate, X509_get_subject_name(issuer_certificate));
  detail::AddExtension(certificate, issuer_certificate, NID_basic_constraints,
                       is_ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  detail::AddExtension(certificate, issuer_certificate, NID_key_usage,
                       is_ca ? "critical,keyCertSign" : "critical,digitalSignature");
  detail::AddExtension(certificate, issuer_certificate, NID_subject_key_identifier, "hash");
  if (!is_ca)
    detail::AddExtension(certificate, issuer_certificate, NID_ext_key_usage,
                         options.code_signing ? "codeSigning" : "emailProtection");
  X509_sign(certificate, issuer_key, EVP_sha256());
  SignerFiles files{dir / (stem + ".pem"), dir / (stem + ".key")};
  detail::WritePem(files.certificate, certificate, nullptr);
  detail::WritePem(files.key, nullptr, key);
  if (issuer) {
    X509_free(issuer_certificate);
    EVP_PKEY_free(issuer_key);
  }
  X509_free(certificate);
  EVP_PKEY_free(key);
  return files;
}

// The project's test signing key and its certificate (a shipped anchor).
inline SignerFiles ProjectTestSigner() {
  return {
      std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "trust-anchors" / "kavi-test-signing.pem",
      std::filesystem::path(KAVI_SOURCE_DIR) / "tools" / "signing" / "kavi-test-signing.key"};
}

inline std::filesystem::path ShippedAnchors() {
  return std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "trust-anchors";
}

}  // namespace kavi::win::testing
