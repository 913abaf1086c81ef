// Authentication of requests on protected paths: Digest access authentication with nonces issued
// by this process, or Basic.
#include <deque>

#include "lib/http-server/Core/DataDigests.h"
#include "lib/http-server/Core/HTTPAuthenticationRequest.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "platform/core/Format.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/security/UUID.h"

namespace {

// Touched only on its queue. Never destroyed: connections may still ask while the process exits.
struct NonceRegistry {
  ns::Ref<dispatch::Queue> queue = dispatch::queueCreate("HTTPConnection-Nonce");
  std::deque<std::string> nonces;

  static NonceRegistry& shared() {
    static ns::NoDestructor<NonceRegistry> registry;
    return *registry;
  }
};

std::string md5Hex(const std::string& text) {
  return DataDigests::hexStringValue(DataDigests::md5Digest(ns::Data(text)));
}

// The leading hexadecimal digits of `text`; none count as 0.
std::int64_t hexCount(const std::string& text) {
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    if (value > (static_cast<std::uint64_t>(INT64_MAX) >> 4)) return INT64_MAX;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::string HTTPConnection::generateNonce() {
  std::string nonce = sec::UUID::newUUIDString();
  auto& registry = NonceRegistry::shared();
  dispatch::async(registry.queue, [nonce] {
    auto& r = NonceRegistry::shared();
    r.nonces.push_back(nonce);
    while (r.nonces.size() > MAX_RECENT_NONCES) r.nonces.pop_front();
  });
  dispatch::after(NONCE_LIFETIME, registry.queue, [nonce] {
    auto& r = NonceRegistry::shared();
    for (auto it = r.nonces.begin(); it != r.nonces.end(); ++it) {
      if (*it == nonce) {
        r.nonces.erase(it);
        break;
      }
    }
  });
  return nonce;
}

bool HTTPConnection::hasRecentNonce(const std::string& nonce) {
  auto& registry = NonceRegistry::shared();
  bool found = false;
  dispatch::sync(registry.queue, [&] {
    for (const auto& known : registry.nonces) {
      if (known == nonce) {
        found = true;
        break;
      }
    }
  });
  return found;
}

void HTTPConnection::addDigestAuthChallenge(const ns::Ref<HTTPMessage>& response) {
  response->setHeaderField_value(
      "WWW-Authenticate",
      ns::format("Digest realm=\"%@\", qop=\"auth\", nonce=\"%@\"", realm(), generateNonce()));
}

bool HTTPConnection::isAuthenticated() {
  assertOnConnectionQueue();
  if (!request_) return false;
  HTTPAuthenticationRequest auth(*request_);

  if (!useDigestAccessAuthentication()) {
    if (!auth.isBasic() || !auth.base64Credentials()) return false;
    std::string credentials = DataDigests::base64Decoded(ns::Data(*auth.base64Credentials())).toString();
    auto colon = credentials.find(':');
    if (colon == std::string::npos) return false;
    auto password = passwordForUser(credentials.substr(0, colon));
    return password && *password == credentials.substr(colon + 1);
  }

  if (!auth.isDigest() || !auth.username()) return false;
  // Every field goes into the digest; a header that lacks one is refused rather than hashed
  // with a placeholder.
  if (!auth.realm() || !auth.nonce() || !auth.uri() || !auth.qop() || !auth.nc() || !auth.cnonce() ||
      !auth.response())
    return false;
  auto password = passwordForUser(*auth.username());
  if (!password) return false;
  if (requestURI() != auth.uri()) return false;
  if (nonce_ != auth.nonce()) {
    if (!hasRecentNonce(*auth.nonce())) return false;
    nonce_ = *auth.nonce();
    lastNC_ = 0;
  }
  std::int64_t count = hexCount(*auth.nc());
  if (count <= lastNC_) return false;
  lastNC_ = count;

  std::string ha1 = md5Hex(*auth.username() + ":" + *auth.realm() + ":" + *password);
  std::string ha2 = md5Hex(request_->method().value_or("") + ":" + *auth.uri());
  std::string expected = md5Hex(ha1 + ":" + *auth.nonce() + ":" + *auth.nc() + ":" + *auth.cnonce() + ":" +
                                *auth.qop() + ":" + ha2);
  return expected == *auth.response();
}
