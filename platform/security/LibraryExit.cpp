#include "platform/security/LibraryExit.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

namespace sec {

void keepCryptoLibraryThroughExit() {
  // Only the first initialisation decides whether the exit-time clean-up is registered.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
  OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

}  // namespace sec
