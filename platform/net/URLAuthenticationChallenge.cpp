#include "platform/net/URLAuthenticationChallenge.h"

namespace ns {

Ref<URLCredential> URLCredential::credentialForTrust() {
  auto c = make<URLCredential>("", "", URLCredentialPersistenceNone);
  c->trust_ = true;
  return c;
}

}  // namespace ns
