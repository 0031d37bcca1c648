// SPDX-License-Identifier: Apache-2.0
#include "platform/signature/detached_signature.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::win {
namespace {

// A signature is a few kilobytes; anything much larger is not one.
constexpr uintmax_t kMaxSignatureBytes = 1 << 20;
constexpr char kAnchorSuffix[] = ".pem";

struct Free {
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

// OpenSSL's text for the latest error on this thread; the queue is emptied.
std::string TakeOpenSslError() {
  const unsigned long code = ERR_peek_last_error();
  char text[256] = "unknown OpenSSL error";
  if (code != 0) ERR_error_string_n(code, text, sizeof(text));
  ERR_clear_error();
  return text;
}

void AddPemFile(X509_STORE* store, const std::filesystem::path& file) {
  Owned<BIO> in(BIO_new_file(file.c_str(), "r"));
  if (!in) return;
  while (X509* certificate = PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)) {
    X509_STORE_add_cert(store, certificate);  // a duplicate is refused, harmlessly
    X509_free(certificate);
  }
  ERR_clear_error();  // the end of the file reads as an error
}

Owned<X509_STORE> LoadAnchors(const std::vector<std::filesystem::path>& anchors) {
  Owned<X509_STORE> store(X509_STORE_new());
  for (const std::filesystem::path& path : anchors) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(path, ec))
        if (entry.path().extension() == kAnchorSuffix) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& file : files) AddPemFile(store.get(), file);
    } else if (std::filesystem::is_regular_file(path, ec)) {
      AddPemFile(store.get(), path);
    }
  }
  return store;
}

std::string CommonName(X509* certificate) {
  X509_NAME* subject = X509_get_subject_name(certificate);
  const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (index < 0) return {};
  unsigned char* utf8 = nullptr;
  const int length =
      ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
  if (length < 0) return {};
  std::string name(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return name;
}

SignatureCheck ChainFailed(SignatureCheck check, long code, std::string detail) {
  check.outcome = SignatureCheck::Outcome::kChainFailed;
  check.failure_code = code;
  check.detail = std::move(detail);
  return check;
}

}  // namespace

std::vector<std::filesystem::path> TrustAnchorPaths(const std::filesystem::path& installed_data,
                                                    const std::filesystem::path& user_config) {
  return {installed_data / kTrustAnchorsDirName, user_config / kUserTrustAnchorsFileName};
}

SignatureCheck VerifyDetachedSignature(const std::filesystem::path& file,
                                       const std::filesystem::path& signature,
                                       const std::vector<std::filesystem::path>& anchors) {
  SignatureCheck check;
  std::string der;
  if (ReadRegularFile(signature, kMaxSignatureBytes, &der) != ReadFileResult::kRead) {
    check.detail = signature.string() + ": cannot read the signature";
    return check;
  }
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
  Owned<CMS_ContentInfo> cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    check.detail = signature.string() + ": not a CMS signature: " + TakeOpenSslError();
    return check;
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  if (signers == nullptr || sk_CMS_SignerInfo_num(signers) == 0) {
    check.detail = signature.string() + ": the signature names no signer";
    return check;
  }
  Owned<STACK_OF(X509)> certificates(CMS_get1_certs(cms.get()));
  X509* signer = nullptr;
  for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i) {
    X509* candidate = sk_X509_value(certificates.get(), i);
    if (CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(signers, 0), candidate) == 0) {
      signer = candidate;
      break;
    }
  }
  if (signer != nullptr) check.signer_common_name = CommonName(signer);

  // The bytes: the signature must be over exactly this file's content.
  Owned<BIO> content(BIO_new_file(file.c_str(), "rb"));
  if (!content || CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                             CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    // The reason is read before the text, which empties the error queue.
    const long reason = ERR_GET_REASON(ERR_peek_last_error());
    return ChainFailed(check, -reason, TakeOpenSslError());
  }
  if (signer == nullptr)
    return ChainFailed(check, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, "signer certificate missing");

  // The signer: a chain to an anchor, valid now. No revocation lists are shipped, so there is
  // nothing to check revocation against offline.
  Owned<X509_STORE> store = LoadAnchors(anchors);
  Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), signer,
                                                certificates.get()) != 1)
    return ChainFailed(check, X509_V_ERR_OUT_OF_MEM, TakeOpenSslError());
  if (X509_verify_cert(context.get()) != 1) {
    const int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    return ChainFailed(check, error, X509_verify_cert_error_string(error));
  }
  if ((X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) == 0)
    return ChainFailed(check, X509_V_ERR_INVALID_PURPOSE, "the signer may not sign code");
  check.outcome = SignatureCheck::Outcome::kValid;
  return check;
}

bool SignDetached(const std::filesystem::path& file, const std::filesystem::path& certificate,
                  const std::filesystem::path& private_key,
                  const std::filesystem::path& signature, std::string* error) {
  Owned<BIO> certificate_in(BIO_new_file(certificate.c_str(), "r"));
  Owned<X509> signer(certificate_in
                         ? PEM_read_bio_X509(certificate_in.get(), nullptr, nullptr, nullptr)
                         : nullptr);
  Owned<BIO> key_in(BIO_new_file(private_key.c_str(), "r"));
  Owned<EVP_PKEY> key(
      key_in ? PEM_read_bio_PrivateKey(key_in.get(), nullptr, nullptr, nullptr) : nullptr);
  Owned<BIO> content(BIO_new_file(file.c_str(), "rb"));
  if (!signer || !key || !content) {
    *error = "cannot read the certificate, the key or the file: " + TakeOpenSslError();
    return false;
  }
  Owned<CMS_ContentInfo> cms(
      CMS_sign(signer.get(), key.get(), nullptr, content.get(), CMS_BINARY | CMS_DETACHED));
  Owned<BIO> out(BIO_new(BIO_s_mem()));
  if (!cms || !out || i2d_CMS_bio(out.get(), cms.get()) != 1) {
    *error = "cannot sign: " + TakeOpenSslError();
    return false;
  }
  char* bytes = nullptr;
  const long size = BIO_get_mem_data(out.get(), &bytes);
  ReplaceFailure failure;
  if (!ReplaceFile(signature, std::string_view(bytes, static_cast<size_t>(size)),
                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                       std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                   &failure)) {
    *error = signature.string() + ": " + std::system_category().message(failure.error);
    return false;
  }
  error->clear();
  return true;
}

}  // namespace kavi::win
