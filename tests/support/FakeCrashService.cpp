#include "tests/support/FakeCrashService.h"

#include <regex>

#include "CrashReporter/CRSClientBase.h"
#include "platform/security/Cipher.h"
#include "platform/security/Hex.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace testsupport {

namespace {

const char kAppPattern[] = "/spi/v1/platforms/mac/apps/([^/]+)";

}  // namespace

const FakeCrashService::Part* FakeCrashService::Request::part(const std::string& name) const {
  for (const auto& p : parts) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

FakeCrashService::FakeCrashService(std::string apiKey, std::string bundleId)
    : apiKey_(std::move(apiKey)), bundleId_(std::move(bundleId)) {
  auto answer = [this](Kind kind) {
    return [this, kind](const pltest::FakeRequest&) { return reply(kind); };
  };
  server_.route("GET", "/spi/v2/platforms/mac/apps/(.+)/settings", answer(Kind::Settings));
  server_.route("POST", kAppPattern, answer(Kind::Configure));
  server_.route("PUT", kAppPattern, answer(Kind::Configure));
  server_.route("POST", std::string(kAppPattern) + "/reports", answer(Kind::Report));
  server_.route("POST", std::string(kAppPattern) + "/analytics", answer(Kind::Analytics));
  server_.route("GET", std::string(kAppPattern) + "/beta_updates", answer(Kind::Beta));
}

std::string FakeCrashService::configureURL() const {
  return baseURL() + "/spi/v1/platforms/mac/apps/" + bundleId_;
}
std::string FakeCrashService::reportsURL() const {
  return configureURL() + "/reports";
}
std::string FakeCrashService::analyticsURL() const {
  return configureURL() + "/analytics";
}
std::string FakeCrashService::betaURL() const {
  return configureURL() + "/beta_updates";
}

void FakeCrashService::setSettingsReply(pltest::FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[Kind::Settings] = std::move(reply);
}
void FakeCrashService::setConfigureReply(pltest::FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[Kind::Configure] = std::move(reply);
}
void FakeCrashService::setReportReply(pltest::FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[Kind::Report] = std::move(reply);
}
void FakeCrashService::setAnalyticsReply(pltest::FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[Kind::Analytics] = std::move(reply);
}
void FakeCrashService::setBetaReply(pltest::FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[Kind::Beta] = std::move(reply);
}

pltest::FakeReply FakeCrashService::reply(Kind kind) const {
  {
    std::lock_guard lock(mutex_);
    auto it = replies_.find(kind);
    if (it != replies_.end()) return it->second;
  }
  switch (kind) {
    case Kind::Settings:
      return plistReply(settingsFixture());
    case Kind::Configure:
      return pltest::FakeReply::text(200, "");
    case Kind::Report:
      return pltest::FakeReply::text(201, "");
    case Kind::Analytics:
      return pltest::FakeReply::text(202, "");
    case Kind::Beta:
      return plistReply(ns::Dictionary{});
    case Kind::Other:
      break;
  }
  return pltest::FakeReply::text(404, "not found");
}

ns::Dictionary FakeCrashService::settingsFixture() const {
  return ns::Dictionary{
      {"settings_version", 2},
      {"app",
       ns::Dictionary{{"status", "activated"},
                      {"update_required", false},
                      {"url", configureURL()},
                      {"reports_url", reportsURL()},
                      {"settings_url", baseURL() + "/spi/v2/platforms/mac/apps/" + bundleId_ + "/settings"}}},
      {"settings", ns::Dictionary{{"cache_duration", 86400}, {"collect_reports", true}}},
      {"session", ns::Dictionary{{"log_buffer_size", 64000}, {"max_custom_key_value_pairs", 64}}},
      {"features", ns::Dictionary{{"prompt_enabled", false}, {"collect_analytics", true}}},
      {"analytics", ns::Dictionary{{"url", analyticsURL()},
                                   {"flush_interval_secs", 600},
                                   {"max_file_count_per_send", 1},
                                   {"max_byte_size_per_file", 8000},
                                   {"max_pending_send_file_count", 100}}},
      {"beta", ns::Dictionary{{"update_endpoint", betaURL()}, {"update_suspend_duration", 3600}}},
  };
}

pltest::FakeReply FakeCrashService::plistReply(const ns::Value& value, int status) {
  auto data = ns::PropertyListSerialization::xmlData(value);
  return pltest::FakeReply::text(status, data ? data->toString() : std::string(), "application/x-plist");
}

std::optional<std::string> FakeCrashService::decipher(const std::string& hexText) const {
  auto bytes = sec::hexDecode(hexText);
  if (!bytes) return std::nullopt;
  auto key = CRSClientBase::newHashedKeyWithSeed_salt(apiKey_, bundleId_);
  std::string text;
  std::string_view keyText(reinterpret_cast<const char*>(key.data()), key.size());
  if (sec::crypt(sec::kCCDecrypt, sec::kCCOptionPKCS7Padding | sec::kCCOptionECBMode, keyText, {}, *bytes,
                 &text) != sec::kCCSuccess) {
    return std::nullopt;
  }
  return text;
}

std::vector<FakeCrashService::Part> FakeCrashService::splitMultipart(const std::string& body,
                                                                     const std::string& boundary) {
  std::vector<Part> parts;
  const std::string delimiter = "--" + boundary;
  std::size_t at = body.find(delimiter);
  while (at != std::string::npos) {
    std::size_t lineEnd = at + delimiter.size();
    if (body.compare(lineEnd, 2, "--") == 0) break;  // the closing delimiter
    if (body.compare(lineEnd, 2, "\r\n") != 0) break;
    std::size_t headersStart = lineEnd + 2;
    std::size_t headersEnd = body.find("\r\n\r\n", headersStart);
    if (headersEnd == std::string::npos) break;
    std::size_t next = body.find("\r\n" + delimiter, headersEnd + 4);
    if (next == std::string::npos) break;
    Part part;
    std::string headerText = body.substr(headersStart, headersEnd - headersStart);
    std::size_t pos = 0;
    while (pos <= headerText.size()) {
      std::size_t end = headerText.find("\r\n", pos);
      std::string line = headerText.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      auto colon = line.find(':');
      if (colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        part.headers.set(line.substr(0, colon), value);
      }
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    std::string disposition = part.headers.get("Content-Disposition").value_or("");
    std::smatch m;
    if (std::regex_search(disposition, m, std::regex("name=\"([^\"]*)\""))) part.name = m[1];
    if (std::regex_search(disposition, m, std::regex("filename=\"([^\"]*)\""))) part.fileName = m[1];
    part.body = body.substr(headersEnd + 4, next - (headersEnd + 4));
    parts.push_back(std::move(part));
    at = next + 2;
  }
  return parts;
}

std::vector<FakeCrashService::Request> FakeCrashService::requests() const {
  std::vector<Request> out;
  static const std::regex settings("/spi/v2/platforms/mac/apps/.+/settings");
  static const std::regex app("/spi/v1/platforms/mac/apps/[^/]+");
  static const std::regex reports("/spi/v1/platforms/mac/apps/[^/]+/reports");
  static const std::regex analytics("/spi/v1/platforms/mac/apps/[^/]+/analytics");
  static const std::regex beta("/spi/v1/platforms/mac/apps/[^/]+/beta_updates");
  for (const auto& raw : server_.requests()) {
    Request r;
    r.raw = raw;
    if (raw.method == "GET" && std::regex_match(raw.path, settings)) {
      r.kind = Kind::Settings;
    } else if ((raw.method == "POST" || raw.method == "PUT") && std::regex_match(raw.path, app)) {
      r.kind = Kind::Configure;
    } else if (raw.method == "POST" && std::regex_match(raw.path, reports)) {
      r.kind = Kind::Report;
    } else if (raw.method == "POST" && std::regex_match(raw.path, analytics)) {
      r.kind = Kind::Analytics;
    } else if (raw.method == "GET" && std::regex_match(raw.path, beta)) {
      r.kind = Kind::Beta;
    }
    std::string type = raw.header("Content-Type").value_or("");
    const std::string marker = "boundary=";
    if (auto b = type.find(marker); type.rfind("multipart/form-data", 0) == 0 && b != std::string::npos) {
      r.parts = splitMultipart(raw.body, type.substr(b + marker.size()));
    }
    if (auto d = raw.header("X-CRASHREPORTER-D")) r.identity = decipher(*d);
    if (auto e = raw.header("X-CRASHREPORTER-E")) r.events = decipher(*e);
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace testsupport
