#pragma once
// Internal to pl_security: the OpenSSL objects behind the public classes. Included only by
// this folder's .cpp files.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "platform/security/Certificate.h"

namespace sec {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct PKeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PKeyPtr = std::unique_ptr<EVP_PKEY, PKeyFree>;

struct Certificate::Impl {
  X509Ptr x509;
};

struct Identity::Impl {
  PKeyPtr key;
};

// Wraps a certificate; takes one reference of x (the caller keeps its own).
ns::Ref<Certificate> certificateFromX509(X509* x);

// The text of OpenSSL's error queue (and clears it).
std::string openSSLErrors();

}  // namespace sec
