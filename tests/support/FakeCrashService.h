#pragma once
// A fake of the crash-reporting service on 127.0.0.1. It answers the settings GET with a
// scripted property list, the configure POST and PUT, report and analytics uploads and beta
// checks, each with a scripted reply (any status), and records every request with its multipart
// parts split out and its "X-CRASHREPORTER-D" and "X-CRASHREPORTER-E" headers deciphered with the
// key the reporter derives from the API key and bundle identifier.
//
//   testsupport::FakeCrashService service("0123...", "com.ordel42.zeravozezi");
//   auto client = CRSSettingsClient::initWithURL(ns::URL::URLWithString(service.baseURL()));
//   ... load the settings ...
//   auto seen = service.requests();   // seen[0].kind == Kind::Settings
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Value.h"
#include "platform/testing/FakeServer.h"

namespace testsupport {

class FakeCrashService {
 public:
  enum class Kind { Settings, Configure, Report, Analytics, Beta, Other };

  struct Part {
    std::string name;
    std::optional<std::string> fileName;
    ns::HTTPHeaderFields headers;
    std::string body;
  };

  struct Request {
    Kind kind = Kind::Other;
    pltest::FakeRequest raw;
    // The multipart parts of a form body, in order.
    std::vector<Part> parts;
    // The deciphered identification and event headers, when sent and readable.
    std::optional<std::string> identity;
    std::optional<std::string> events;
    const Part* part(const std::string& name) const;
  };

  FakeCrashService(std::string apiKey, std::string bundleId);

  std::string baseURL() const { return server_.baseURL(); }
  pltest::FakeServer& server() { return server_; }

  // The service's URLs, as a settings answer names them.
  std::string configureURL() const;
  std::string reportsURL() const;
  std::string analyticsURL() const;
  std::string betaURL() const;

  // Scripted replies; until set, settings answer settingsFixture(), configure 200, reports 201,
  // analytics 202 and beta checks an empty update dictionary.
  void setSettingsReply(pltest::FakeReply reply);
  void setConfigureReply(pltest::FakeReply reply);
  void setReportReply(pltest::FakeReply reply);
  void setAnalyticsReply(pltest::FakeReply reply);
  void setBetaReply(pltest::FakeReply reply);

  // settings_version 2 with this service's report, configure and analytics URLs.
  ns::Dictionary settingsFixture() const;
  // The value as an XML property list, "application/x-plist".
  static pltest::FakeReply plistReply(const ns::Value& value, int status = 200);

  std::vector<Request> requests() const;
  bool waitForRequests(std::size_t count) const { return server_.waitForRequests(count); }

  // The text of a header value written as hex of the enciphered bytes; nothing when it does not
  // decipher.
  std::optional<std::string> decipher(const std::string& hexText) const;
  // Splits a multipart body by its boundary.
  static std::vector<Part> splitMultipart(const std::string& body, const std::string& boundary);

 private:
  pltest::FakeReply reply(Kind kind) const;

  std::string apiKey_;
  std::string bundleId_;
  mutable std::mutex mutex_;
  std::map<Kind, pltest::FakeReply> replies_;
  // Last, so that it goes first: its thread may still be answering from the replies above.
  pltest::FakeServer server_;
};

}  // namespace testsupport
