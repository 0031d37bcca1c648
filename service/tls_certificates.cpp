// SPDX-License-Identifier: Apache-2.0
#include "service/tls_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/directories.h"
#include "platform/file_replace.h"

namespace kavi::service {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;

constexpr long kSecondsPerDay = 86400;

bool AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

Certificate NewCertificate(EVP_PKEY* key, const char* common_name, long serial, int days) {
  Certificate certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), days * kSecondsPerDay);
  X509_set_pubkey(certificate.get(), key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  return certificate;
}

template <typename Write>
std::string Pem(Write write) {
  BIO* bio = BIO_new(BIO_s_mem());
  std::string out;
  if (write(bio) == 1) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    out.assign(data, static_cast<size_t>(size));
  }
  BIO_free(bio);
  return out;
}

bool IsAddress(const std::string& name) {
  return name.find_first_not_of("0123456789.") == std::string::npos ||
         name.find(':') != std::string::npos;
}

}  // namespace

bool MakeServerCertificates(const std::filesystem::path& directory,
                            const std::vector<std::string>& extra_names, int days,
                            CertificateFiles* out, std::string* error) {
  Key ca_key(EVP_EC_gen("P-256"));
  Key server_key(EVP_EC_gen("P-256"));
  if (!ca_key || !server_key) {
    *error = "cannot make keys";
    return false;
  }
  const long serial = static_cast<long>(std::time(nullptr));
  Certificate ca = NewCertificate(ca_key.get(), "kavi-companion local CA", serial, days);
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
  for (const std::string& name : extra_names) names += (IsAddress(name) ? ",IP:" : ",DNS:") + name;
  Certificate server = NewCertificate(server_key.get(), "localhost", serial + 1, days);
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
  const bool made =
      AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
      AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
      AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") &&
      X509_sign(ca.get(), ca_key.get(), EVP_sha256()) > 0 &&
      AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE") &&
      AddExtension(server.get(), ca.get(), NID_subject_alt_name, names) &&
      AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth") &&
      AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid") &&
      X509_sign(server.get(), ca_key.get(), EVP_sha256()) > 0;
  if (!made) {
    *error = "cannot make the certificates (is every extra name a host name or an address?)";
    return false;
  }
  out->ca = directory / "ca.pem";
  out->chain = directory / "server.pem";
  out->private_key = directory / "server.key";
  const auto readable = std::filesystem::perms(0644);
  const bool written =
      win::ReplaceFile(out->ca, Pem([&](BIO* b) { return PEM_write_bio_X509(b, ca.get()); }),
                       readable, nullptr) &&
      win::ReplaceFile(out->chain, Pem([&](BIO* b) { return PEM_write_bio_X509(b, server.get()); }),
                       readable, nullptr) &&
      win::ReplaceFile(out->private_key, Pem([&](BIO* b) {
                         return PEM_write_bio_PrivateKey(b, server_key.get(), nullptr, nullptr, 0,
                                                         nullptr, nullptr);
                       }),
                       win::kPrivateFileMode, nullptr);
  if (!written) *error = "cannot write the certificates into " + directory.string();
  return written;
}

}  // namespace kavi::service
