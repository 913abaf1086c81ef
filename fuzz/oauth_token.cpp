// OAuth token replies (JSON) and the stored token string (form text): each is taken into an
// authentication. What is stored reads back to the same stored string, and a token never puts a
// line break into the Authorization header of a request it signs.
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "platform/core/Data.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace {

ns::Ref<NetOAuth2Authentication> newAuthentication() {
  return NetOAuth2Authentication::
      authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
          "Google", ns::URL::URLWithString("https://127.0.0.1:9/token"), "urn:ietf:wg:oauth:2.0:oob",
          "client", "secret");
}

void check(const ns::Ref<NetOAuth2Authentication>& auth) {
  (void)auth->description();
  (void)auth->expiresIn();
  (void)auth->expirationDate();
  (void)auth->canAuthorize();
  std::string stored = auth->persistenceResponseString();
  auto restored = newAuthentication();
  restored->setKeysForPersistenceResponseString(stored);
  if (restored->persistenceResponseString() != stored)
    fuzz::fail("a stored token string reads back differently: " + stored);

  // Signing may only happen here without a refresh, which would go to the network.
  if (auth->shouldRefreshAccessToken()) return;
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString("https://127.0.0.1:9/data"));
  if (!auth->authorizeRequest(request)) return;
  auto header = request->valueForHTTPHeaderField("Authorization").value_or("");
  if (header.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    fuzz::fail("a line break or NUL in the Authorization header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto fromReply = newAuthentication();
  fromReply->setKeysForResponseJSONData(ns::Data(data, size));
  check(fromReply);

  auto fromStore = newAuthentication();
  fromStore->setKeysForResponseString(std::string(fuzz::text(data, size)));
  check(fromStore);
  return 0;
}
