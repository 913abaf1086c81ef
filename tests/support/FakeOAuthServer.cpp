#include "tests/support/FakeOAuthServer.h"

#include <unistd.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "platform/net/URLLoadingSettings.h"

namespace testsupport {

namespace {

std::string base64url(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(alphabet[(buffer >> bits) & 0x3F]);
    }
  }
  if (bits > 0) out.push_back(alphabet[(buffer << (6 - bits)) & 0x3F]);
  return out;
}

std::string param(const pltest::FakeRequest& request, const std::string& name) {
  auto it = request.params.find(name);
  return it == request.params.end() ? std::string() : it->second;
}

pltest::FakeReply page(int status, const std::string& title, const std::string& body) {
  return pltest::FakeReply::text(
      status, "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>",
      "text/html; charset=utf-8");
}

pltest::FakeReply jsonError(int status, const std::string& error) {
  return pltest::FakeReply::json(status, "{\"error\": \"" + error + "\"}");
}

}  // namespace

struct FakeOAuthServer::State {
  std::mutex mutex;
  Options options;
  std::string nextCode = "4/abc";
  int codeCounter = 0;
  bool includeIDToken = false;
  bool formText = false;
  long expiresIn = 3600;
  std::map<std::string, bool> codes;   // issued code -> spent
  std::vector<std::string> approvals;  // per approval page: "code=..." or "" for a refusal
  std::set<std::string> refreshTokens;
  std::vector<std::string> refreshOrder;
  std::vector<std::string> accessTokens;
  std::set<std::string> liveAccessTokens;
  std::vector<std::string> revoked;
  std::deque<pltest::FakeReply> scripted;
  std::deque<pltest::FakeReply> scriptedUserInfo;
  int tokenCounter = 0;
  int sessionCounter = 0;

  pltest::FakeReply signInPage(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    if (param(r, "response_type") != "code" || param(r, "client_id") != options.clientID)
      return page(400, "Error 400 (invalid_request)", "<p>invalid_request</p>");
    std::string sid = "sid-" + std::to_string(++sessionCounter);
    auto reply = page(200, "Sign in - Example Accounts",
                      "<form id='consent' method='post' action='/o/oauth2/approve'>"
                      "<input type='hidden' name='decision' value='allow'>"
                      "<input type='hidden' name='scope' value='" +
                          param(r, "scope") +
                          "'>"
                          "<input type='submit' value='Allow' style='display:block;width:100%;height:200px;"
                          "border:0;background:#1a73e8;color:#fff;font-size:48px'></form>"
                          "<a id='help' href='https://" +
                          options.accountsHost + "/help' target='_blank'>Help</a>");
    reply.header("Set-Cookie", "SID=" + sid + "; Path=/; Secure; HttpOnly");
    return reply;
  }

  pltest::FakeReply approve(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    auto cookie = r.header("Cookie").value_or("");
    if (cookie.find("SID=sid-") == std::string::npos) return page(403, "Error 403", "<p>no session</p>");
    std::string result;
    if (param(r, "decision") == "allow") {
      std::string code = nextCode;
      nextCode = "4/code" + std::to_string(++codeCounter);
      codes[code] = false;
      result = "Success code=" + code;
    } else {
      result = "Denied error=access_denied";
    }
    approvals.push_back(result);
    return pltest::FakeReply::redirect(302, "/o/oauth2/approval/" + std::to_string(approvals.size() - 1));
  }

  pltest::FakeReply approvalPage(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    std::size_t index = std::stoul(r.matches.at(0));
    if (index >= approvals.size()) return page(404, "Not found", "");
    return page(200, approvals[index],
                "<p>Please copy this code, switch to your application and paste it there.</p>");
  }

  std::string tokenReply(const std::string& access, const std::optional<std::string>& refresh) {
    std::map<std::string, std::string> fields{
        {"access_token", access}, {"expires_in", std::to_string(expiresIn)}, {"token_type", "Bearer"}};
    if (refresh) fields["refresh_token"] = *refresh;
    if (includeIDToken && refresh) {
      std::string claims = "{\"iss\":\"" + options.accountsHost + "\",\"sub\":\"" + options.userID +
                           "\",\"email\":\"" + options.email + "\",\"email_verified\":true}";
      fields["id_token"] =
          base64url("{\"alg\":\"RS256\"}") + "." + base64url(claims) + "." + base64url("sig");
    }
    std::string out;
    for (const auto& [k, v] : fields) {
      if (formText) {
        out += (out.empty() ? "" : "&") + k + "=" + v;
      } else {
        bool number = k == "expires_in";
        out += std::string(out.empty() ? "{" : ", ") + "\"" + k + "\": " + (number ? v : "\"" + v + "\"");
      }
    }
    if (!formText) out += "}";
    return out;
  }

  pltest::FakeReply token(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    if (!scripted.empty()) {
      auto reply = scripted.front();
      scripted.pop_front();
      return reply;
    }
    if (param(r, "client_id") != options.clientID || param(r, "client_secret") != options.clientSecret)
      return jsonError(401, "invalid_client");
    std::string grant = param(r, "grant_type");
    std::optional<std::string> refresh;
    if (grant == "authorization_code") {
      auto it = codes.find(param(r, "code"));
      if (it == codes.end() || it->second || param(r, "redirect_uri") != "urn:ietf:wg:oauth:2.0:oob")
        return jsonError(400, "invalid_grant");
      it->second = true;
      refresh = "1/refresh" + std::to_string(++tokenCounter);
      refreshTokens.insert(*refresh);
      refreshOrder.push_back(*refresh);
    } else if (grant == "refresh_token") {
      if (!refreshTokens.count(param(r, "refresh_token"))) return jsonError(400, "invalid_grant");
    } else {
      return jsonError(400, "unsupported_grant_type");
    }
    std::string access = "ya29.access" + std::to_string(++tokenCounter);
    accessTokens.push_back(access);
    liveAccessTokens.insert(access);
    std::string body = tokenReply(access, refresh);
    return formText ? pltest::FakeReply::text(200, body, "text/plain") : pltest::FakeReply::json(200, body);
  }

  pltest::FakeReply userInfo(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    auto header = r.header("Authorization").value_or("");
    const std::string prefix = "Bearer ";
    if (header.rfind(prefix, 0) != 0 || !liveAccessTokens.count(header.substr(prefix.size())))
      return pltest::FakeReply::json(401, "{\"error\": \"invalid_token\"}")
          .header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
    if (!scriptedUserInfo.empty()) {
      auto reply = scriptedUserInfo.front();
      scriptedUserInfo.pop_front();
      return reply;
    }
    return pltest::FakeReply::json(200, "{\"sub\": \"" + options.userID + "\", \"email\": \"" +
                                            options.email + "\", \"email_verified\": true}");
  }

  pltest::FakeReply revoke(const pltest::FakeRequest& r) {
    std::lock_guard lock(mutex);
    std::string token = param(r, "token");
    revoked.push_back(token);
    refreshTokens.erase(token);
    return pltest::FakeReply::json(200, "{}");
  }
};

FakeOAuthServer::FakeOAuthServer() : FakeOAuthServer(Options{}) {}

FakeOAuthServer::FakeOAuthServer(Options options)
    : options_(std::move(options)), state_(std::make_shared<State>()) {
  state_->options = options_;
  server_ = std::make_unique<pltest::FakeServer>(pltest::FakeServer::Options{
      .https = true, .hostNames = {"localhost", "127.0.0.1", options_.accountsHost, options_.apiHost}});
  std::weak_ptr<State> weak = state_;
  auto on = [weak](pltest::FakeReply (State::*handler)(const pltest::FakeRequest&)) {
    return [weak, handler](const pltest::FakeRequest& r) {
      auto state = weak.lock();
      return state ? ((*state).*handler)(r) : pltest::FakeReply::text(503, "gone");
    };
  };
  server_->route("GET", "/o/oauth2/auth", on(&State::signInPage));
  server_->route("POST", "/o/oauth2/approve", on(&State::approve));
  server_->route("GET", "/o/oauth2/approval/([0-9]+)", on(&State::approvalPage));
  server_->route("POST", "/o/oauth2/token", on(&State::token));
  server_->route("GET", "/oauth2/v3/userinfo", on(&State::userInfo));
  server_->route("POST", "/o/oauth2/revoke", on(&State::revoke));
  server_->route("GET", "/help", [](const pltest::FakeRequest&) { return page(200, "Help", "<p>help</p>"); });
}

FakeOAuthServer::~FakeOAuthServer() {
  if (!bundleFile_.empty()) {
    pltest::FakeServer::untrustInURLLoading();
    std::error_code ec;
    std::filesystem::remove(bundleFile_, ec);
  }
}

void FakeOAuthServer::serveAsProviderHosts(const std::vector<const pltest::FakeServer*>& others) {
  server_->serveAs(options_.accountsHost);
  server_->serveAs(options_.apiHost);
  // One bundle of every CA, since URL loading trusts one extra file.
  std::string pem = server_->caCertificatePEM();
  for (const auto* other : others) {
    if (other && other->isHTTPS()) pem += "\n" + other->caCertificatePEM();
  }
  bundleFile_ = server_->caCertificateFile() + ".bundle";
  std::ofstream(bundleFile_) << pem;
  ns::URLLoading::setExtraCertificateAuthorityFile(bundleFile_);
}

void FakeOAuthServer::serveUserInfoOn(pltest::FakeServer& apiServer) {
  std::weak_ptr<State> weak = state_;
  apiServer.route("GET", "/oauth2/v3/userinfo", [weak](const pltest::FakeRequest& r) {
    auto state = weak.lock();
    return state ? state->userInfo(r) : pltest::FakeReply::text(503, "gone");
  });
}

std::string FakeOAuthServer::accountsURL(const std::string& path) const {
  return "https://" + options_.accountsHost + path;
}

std::string FakeOAuthServer::apiURL(const std::string& path) const {
  return "https://" + options_.apiHost + path;
}

void FakeOAuthServer::setNextCode(const std::string& code) {
  std::lock_guard lock(state_->mutex);
  state_->nextCode = code;
}

void FakeOAuthServer::setIncludeIDToken(bool include) {
  std::lock_guard lock(state_->mutex);
  state_->includeIDToken = include;
}

void FakeOAuthServer::setFormTextReplies(bool formText) {
  std::lock_guard lock(state_->mutex);
  state_->formText = formText;
}

void FakeOAuthServer::setExpiresIn(long seconds) {
  std::lock_guard lock(state_->mutex);
  state_->expiresIn = seconds;
}

void FakeOAuthServer::issueCode(const std::string& code) {
  std::lock_guard lock(state_->mutex);
  state_->codes[code] = false;
}

void FakeOAuthServer::addRefreshToken(const std::string& token) {
  std::lock_guard lock(state_->mutex);
  state_->refreshTokens.insert(token);
}

void FakeOAuthServer::expireAccessTokens() {
  std::lock_guard lock(state_->mutex);
  state_->liveAccessTokens.clear();
}

void FakeOAuthServer::scriptTokenReply(pltest::FakeReply reply, int times) {
  std::lock_guard lock(state_->mutex);
  for (int i = 0; i < times; ++i) state_->scripted.push_back(reply);
}

void FakeOAuthServer::scriptUserInfoReply(pltest::FakeReply reply) {
  std::lock_guard lock(state_->mutex);
  state_->scriptedUserInfo.push_back(std::move(reply));
}

std::vector<pltest::FakeRequest> FakeOAuthServer::requestsTo(const std::string& path) const {
  std::vector<pltest::FakeRequest> out;
  for (auto& r : server_->requests()) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

std::vector<std::string> FakeOAuthServer::issuedAccessTokens() const {
  std::lock_guard lock(state_->mutex);
  return state_->accessTokens;
}

std::vector<std::string> FakeOAuthServer::issuedRefreshTokens() const {
  std::lock_guard lock(state_->mutex);
  return state_->refreshOrder;
}

std::vector<std::string> FakeOAuthServer::revokedTokens() const {
  std::lock_guard lock(state_->mutex);
  return state_->revoked;
}

}  // namespace testsupport
