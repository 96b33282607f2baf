#include "sim/self_signed_certificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace strandline::sim {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace

bool SelfSignedCertificate::Generate(SelfSignedCertificate* out, std::string* error) {
  auto fail = [error](const char* what) {
    if (error) *error = std::string("certificate: ") + what;
    return false;
  };
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  if (!key) return fail("key generation failed");
  Owned<X509> cert(X509_new());
  if (!cert) return fail("X509_new failed");
  X509_set_version(cert.get(), 2);
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof(serial)) != 1) return fail("no random serial");
  serial[0] &= 0x7f;
  ASN1_INTEGER* sn = X509_get_serialNumber(cert.get());
  BIGNUM* bn = BN_bin2bn(serial, sizeof(serial), nullptr);
  BN_to_ASN1_INTEGER(bn, sn);
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  Owned<X509_EXTENSION> san(X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"));
  if (!san || X509_add_ext(cert.get(), san.get(), -1) != 1) return fail("subject alternative name");
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) return fail("signing failed");

  Owned<BIO> cert_bio(BIO_new(BIO_s_mem()));
  Owned<BIO> key_bio(BIO_new(BIO_s_mem()));
  if (!cert_bio || !key_bio) return fail("no memory");
  if (PEM_write_bio_X509(cert_bio.get(), cert.get()) != 1) return fail("certificate encoding");
  if (PEM_write_bio_PrivateKey(key_bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return fail("key encoding");
  }
  out->certificate_pem = BioText(cert_bio.get());
  out->key_pem = BioText(key_bio.get());
  return true;
}

}  // namespace strandline::sim
