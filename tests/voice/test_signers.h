// SPDX-License-Identifier: Apache-2.0
// Signing certificates made at run time: a self-signed signer, or a CA and a signer it issued,
// with a chosen name, validity and key usage.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <string>

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

namespace detail {

inline void AddSignerExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

inline void WriteSignerPem(const std::filesystem::path& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (certificate) PEM_write_X509(file, certificate);
  if (key) PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
}

}  // namespace detail

// Writes <stem>.pem and <stem>.key into `dir`. With `issuer` the certificate is issued by it
// (its files), else self-signed.
inline SignerFiles MakeSigner(const std::filesystem::path& dir, const std::string& stem,
                              const SignerOptions& options, const SignerFiles* issuer = nullptr,
                              bool is_ca = false) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
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
  detail::AddSignerExtension(certificate, issuer_certificate, NID_basic_constraints,
                             is_ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  detail::AddSignerExtension(certificate, issuer_certificate, NID_key_usage,
                             is_ca ? "critical,keyCertSign" : "critical,digitalSignature");
  detail::AddSignerExtension(certificate, issuer_certificate, NID_subject_key_identifier, "hash");
  if (!is_ca)
    detail::AddSignerExtension(certificate, issuer_certificate, NID_ext_key_usage,
                               options.code_signing ? "codeSigning" : "emailProtection");
  X509_sign(certificate, issuer_key, EVP_sha256());
  SignerFiles files{dir / (stem + ".pem"), dir / (stem + ".key")};
  detail::WriteSignerPem(files.certificate, certificate, nullptr);
  detail::WriteSignerPem(files.key, nullptr, key);
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
  return {std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "trust-anchors" /
              "kavi-test-signing.pem",
          std::filesystem::path(KAVI_SOURCE_DIR) / "tools" / "signing" / "kavi-test-signing.key"};
}

inline std::filesystem::path ShippedAnchors() {
  return std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "trust-anchors";
}

}  // namespace kavi::win::testing
