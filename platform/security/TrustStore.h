#pragma once
// Internal to pl_security: the shared OpenSSL certificate store (system authorities plus the
// process's extra ones) used by trust evaluation and by TLS contexts.
#include <openssl/x509.h>

namespace sec {

// A new reference to the current shared store; the caller frees it with X509_STORE_free.
X509_STORE* sharedTrustStore();

}  // namespace sec
