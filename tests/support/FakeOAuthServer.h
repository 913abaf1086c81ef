#pragma once
// A fake OAuth 2.0 identity provider on 127.0.0.1 over HTTPS, speaking the authorization-code
// grant of an installed application with the out-of-band redirect, under provider-looking host
// names ("accounts.example.test" for the accounts host, "www.example.test" for the API host).
//
//   testsupport::FakeOAuthServer oauth;
//   oauth.serveAsProviderHosts();                // those hosts come here; its CA is trusted
//   ... load oauth.authorizationURL() in a web view, submit the "consent" form ...
//
// Endpoints:
//   - GET  /o/oauth2/auth        the sign-in page: checks "response_type=code" and the client id,
//     sets the cookie "SID" and shows the form "consent" (POST to /o/oauth2/approve, hidden
//     "decision" = "allow"; send "deny" to refuse) whose one button, "Allow", is a blue
//     (#1a73e8) block 200 pixels high across the page's top, and a link "Help" that opens a new
//     window.
//   - POST /o/oauth2/approve     needs the "SID" cookie; redirects (302) to the approval page.
//   - GET  /o/oauth2/approval/N  the page whose title is "Success code=<code>" or
//     "Denied error=access_denied", as the provider shows the out-of-band result.
//   - POST /o/oauth2/token       form in; grants "authorization_code" (an issued, unused code with
//     the client id, secret and redirect URI) and "refresh_token" (a known refresh token); JSON out
//     (or form text); an optional "id_token" carrying "sub" and "email"; anything else is 400
//     {"error": "invalid_grant"} (or "invalid_client"). Scripted replies go first.
//   - GET  /oauth2/v3/userinfo   needs "Authorization: Bearer <a live access token>" (else 401);
//     answers {"sub", "email", "email_verified"}. Scripted replies go first.
//   - POST /o/oauth2/revoke      "token=..."; remembers it.
// Every request is recorded (server().requests()).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/FakeServer.h"

namespace testsupport {

class FakeOAuthServer {
 public:
  struct Options {
    std::string accountsHost = "accounts.example.test";
    std::string apiHost = "www.example.test";
    std::string clientID = "client-7.apps.example.test";
    std::string clientSecret = "s3cret";
    std::string userID = "42";
    std::string email = "viewer@example.test";
  };

  FakeOAuthServer();
  explicit FakeOAuthServer(Options options);
  ~FakeOAuthServer();
  FakeOAuthServer(const FakeOAuthServer&) = delete;
  FakeOAuthServer& operator=(const FakeOAuthServer&) = delete;

  pltest::FakeServer& server() { return *server_; }
  const Options& options() const { return options_; }
  // Sends URL loading for both hosts here and trusts the test CA (with the CAs of `others` too,
  // so that other fake services over HTTPS keep working), until the fake goes.
  void serveAsProviderHosts(const std::vector<const pltest::FakeServer*>& others = {});
  // Answers the user-info endpoint on another server too (the API host's fake, where a real
  // client configured with separate addresses asks for it).
  void serveUserInfoOn(pltest::FakeServer& apiServer);

  // "https://<accounts host>/o/oauth2/auth" and the like.
  std::string accountsURL(const std::string& path) const;
  std::string apiURL(const std::string& path) const;
  std::string authorizationURL() const { return accountsURL("/o/oauth2/auth"); }
  std::string tokenURL() const { return accountsURL("/o/oauth2/token"); }
  std::string revocationURL() const { return accountsURL("/o/oauth2/revoke"); }
  std::string userInfoURL() const { return apiURL("/oauth2/v3/userinfo"); }

  // ---- behaviour ----
  // The next code issued (later ones get a counter).
  void setNextCode(const std::string& code);
  void setIncludeIDToken(bool include);
  // Token replies as form text instead of JSON.
  void setFormTextReplies(bool formText);
  void setExpiresIn(long seconds);
  // A code the provider issued (as if the user had approved elsewhere).
  void issueCode(const std::string& code);
  // A refresh token the provider knows (as if issued before).
  void addRefreshToken(const std::string& token);
  // Every access token issued so far stops working (the user-info endpoint answers 401).
  void expireAccessTokens();
  // The next `times` token requests get this reply instead.
  void scriptTokenReply(pltest::FakeReply reply, int times = 1);
  // The next user-info request with a live token gets this reply instead.
  void scriptUserInfoReply(pltest::FakeReply reply);

  // ---- what happened ----
  std::vector<pltest::FakeRequest> requestsTo(const std::string& path) const;
  std::vector<pltest::FakeRequest> tokenRequests() const { return requestsTo("/o/oauth2/token"); }
  std::vector<pltest::FakeRequest> userInfoRequests() const { return requestsTo("/oauth2/v3/userinfo"); }
  // The access tokens issued, oldest first.
  std::vector<std::string> issuedAccessTokens() const;
  std::vector<std::string> issuedRefreshTokens() const;
  std::vector<std::string> revokedTokens() const;

  struct State;

 private:
  Options options_;
  std::unique_ptr<pltest::FakeServer> server_;
  std::shared_ptr<State> state_;
  std::string bundleFile_;
};

}  // namespace testsupport
