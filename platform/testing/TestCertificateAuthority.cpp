#include "platform/testing/TestCertificateAuthority.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <atomic>
#include <stdexcept>

#include "platform/security/OpenSSLSupport.h"

namespace pltest {

using namespace sec;

namespace {

PKeyPtr newKey(TestCertificateAuthority::KeyType type) {
  EVP_PKEY* key = type == TestCertificateAuthority::KeyType::RSA ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("key generation failed: " + openSSLErrors());
  return PKeyPtr(key);
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext) throw std::runtime_error("bad certificate extension " + value + ": " + openSSLErrors());
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

bool isIP(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

// Builds and signs one certificate. issuer/issuerKey null: self-signed.
X509Ptr makeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                        bool isCA, const std::vector<std::string>& names, long validFrom, long validFor,
                        bool serverAuth, bool clientAuth) {
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  // A random positive 64-bit serial, so that two runs never issue the same one.
  unsigned char serial[8];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), validFrom);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), validFrom + validFor);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("Pelorin Tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(cert.get(), key);
  X509* issuerCert = issuer ? issuer : cert.get();
  if (isCA) {
    addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
  } else {
    addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), issuerCert, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    std::string usage;
    if (serverAuth) usage += "serverAuth";
    if (clientAuth) usage += std::string(usage.empty() ? "" : ",") + "clientAuth";
    if (!usage.empty()) addExtension(cert.get(), issuerCert, NID_ext_key_usage, usage);
  }
  addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
  if (issuer) addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always");
  if (!names.empty()) {
    std::string san;
    for (const auto& n : names) san += std::string(san.empty() ? "" : ",") + (isIP(n) ? "IP:" : "DNS:") + n;
    addExtension(cert.get(), issuerCert, NID_subject_alt_name, san);
  }
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
    throw std::runtime_error("certificate signing failed: " + openSSLErrors());
  return cert;
}

ns::Ref<Identity> identityFrom(X509Ptr cert, PKeyPtr key, std::vector<ns::Ref<Certificate>> chain) {
  ns::Ref<Certificate> leaf = certificateFromX509(cert.get());
  auto impl = std::make_unique<Identity::Impl>();
  impl->key = std::move(key);
  return ns::make<Identity>(std::move(leaf), std::move(chain), std::move(impl));
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(std::string commonName, KeyType keyType) {
  PKeyPtr key = newKey(keyType);
  X509Ptr cert = makeCertificate(commonName, key.get(), nullptr, nullptr, true, {}, -3600, 365L * 24 * 3600,
                                 false, false);
  identity_ = identityFrom(std::move(cert), std::move(key), {});
}

ns::Ref<Identity> TestCertificateAuthority::issueIdentityWithOptions(const LeafOptions& options) const {
  PKeyPtr key = newKey(options.keyType);
  std::string cn = options.commonName;
  if (cn.empty())
    cn = options.subjectAltNames.empty() ? "Pelorin Test Leaf" : options.subjectAltNames.front();
  X509Ptr cert =
      makeCertificate(cn, key.get(), identity_->certificate()->impl().x509.get(), identity_->impl().key.get(),
                      false, options.subjectAltNames, options.validFromSeconds, options.validForSeconds,
                      options.serverAuth, options.clientAuth);
  return identityFrom(std::move(cert), std::move(key), {identity_->certificate()});
}

ns::Ref<Identity> TestCertificateAuthority::issueIdentity(std::vector<std::string> subjectAltNames) const {
  LeafOptions options;
  options.subjectAltNames = std::move(subjectAltNames);
  return issueIdentityWithOptions(options);
}

ns::Ref<Identity> TestCertificateAuthority::selfSignedIdentity(std::vector<std::string> subjectAltNames,
                                                               KeyType keyType) {
  PKeyPtr key = newKey(keyType);
  std::string cn = subjectAltNames.empty() ? "Pelorin Self-Signed" : subjectAltNames.front();
  X509Ptr cert =
      makeCertificate(cn, key.get(), nullptr, nullptr, false, subjectAltNames, -3600, 24L * 3600, true, true);
  return identityFrom(std::move(cert), std::move(key), {});
}

ns::Data TestCertificateAuthority::diffieHellmanParameters() {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
  EVP_PKEY* params = nullptr;
  if (!ctx || EVP_PKEY_paramgen_init(ctx) <= 0 || EVP_PKEY_CTX_set_group_name(ctx, "ffdhe2048") <= 0 ||
      EVP_PKEY_paramgen(ctx, &params) <= 0) {
    EVP_PKEY_CTX_free(ctx);
    throw std::runtime_error("Diffie-Hellman parameters failed: " + openSSLErrors());
  }
  EVP_PKEY_CTX_free(ctx);
  PKeyPtr owned(params);
  unsigned char* der = nullptr;
  int length = i2d_KeyParams(params, &der);
  if (length <= 0) throw std::runtime_error("Diffie-Hellman parameters failed: " + openSSLErrors());
  ns::Data out(der, static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return out;
}

}  // namespace pltest
