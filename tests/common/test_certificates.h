// SPDX-License-Identifier: Apache-2.0
// A certificate authority and a server certificate for 127.0.0.1 and localhost, made at run
// time with OpenSSL, so that tests run a real HTTPS service that only they trust.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace kavi::win::testing {

struct TestCertificates {
  std::filesystem::path ca;           // the CA certificate (PEM): the client's extra bundle
  std::filesystem::path chain;        // the server certificate (PEM)
  std::filesystem::path private_key;  // the server key (PEM)
};

namespace detail {

inline EVP_PKEY* NewKey() {
  return EVP_EC_gen("P-256");
}

inline void SetName(X509_NAME* name, const char* common_name) {
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
}

inline void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

inline X509* NewCertificate(EVP_PKEY* key, const char* common_name, long serial) {
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 2 * 86400);
  X509_set_pubkey(certificate, key);
  SetName(X509_get_subject_name(certificate), common_name);
  return certificate;
}

inline bool WritePem(const std::filesystem::path& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = certificate != nullptr ? PEM_write_X509(file, certificate) == 1
                                              : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0,
                                                                     nullptr, nullptr) == 1;
  std::fclose(file);
  return written;
}

}  // namespace detail

// Writes ca.pem, server.pem and server.key into `directory`; `ca_name` tells two authorities
// apart (a certificate from one is untrusted by a client that trusts the other).
inline bool MakeTestCertificates(const std::filesystem::path& directory, TestCertificates* out,
                                 const char* ca_name = "Kavi Test CA") {
  using namespace detail;
  EVP_PKEY* ca_key = NewKey();
  EVP_PKEY* server_key = NewKey();
  X509* ca = NewCertificate(ca_key, ca_name, 1);
  X509_set_issuer_name(ca, X509_get_subject_name(ca));
  AddExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(ca, ca, NID_subject_key_identifier, "hash");
  X509_sign(ca, ca_key, EVP_sha256());
  X509* server = NewCertificate(server_key, "localhost", 2);
  X509_set_issuer_name(server, X509_get_subject_name(ca));
  AddExtension(server, ca, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(server, ca, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  AddExtension(server, ca, NID_ext_key_usage, "serverAuth");
  AddExtension(server, ca, NID_authority_key_identifier, "keyid");
  X509_sign(server, ca_key, EVP_sha256());

  out->ca = directory / "ca.pem";
  out->chain = directory / "server.pem";
  out->private_key = directory / "server.key";
  const bool written = WritePem(out->ca, ca, nullptr) && WritePem(out->chain, server, nullptr) &&
                       WritePem(out->private_key, nullptr, server_key);
  X509_free(server);
  X509_free(ca);
  EVP_PKEY_free(server_key);
  EVP_PKEY_free(ca_key);
  return written;
}

}  // namespace kavi::win::testing
