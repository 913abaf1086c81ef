// The settings and beta clients and the report upload against the fake crash-reporting service
// over loopback HTTP. Behaviour that needs the initialised crash context runs in a child process.
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CrashReporter/CRSBetaClient.h"
#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSettingsClient.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/security/Digest.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/support/FakeCrashService.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FakeCrashService;
using SettingsCompletion = crstest::Completion<ns::Value, std::optional<ns::Error>>;
using ErrorCompletion = crstest::Completion<std::optional<ns::Error>>;

const std::string kInstance = sec::sha1Hex("AB");

struct Fixture {
  pltest::Sandbox sandbox;
  FakeCrashService service{crstest::kAPIKey, crstest::kBundleId};
  std::shared_ptr<crstest::ClientDelegateDouble> delegate = std::make_shared<crstest::ClientDelegateDouble>();
  ns::Ref<CRSSettingsClient> client;

  Fixture() {
    client = CRSSettingsClient::initWithURL(ns::URL::URLWithString(service.baseURL()));
    client->setDelegate(delegate);
  }

  std::pair<ns::Value, std::optional<ns::Error>> loadSettings() {
    SettingsCompletion completion;
    client->loadSettingsWithCompletion(completion.handler());
    EXPECT_TRUE(completion.wait());
    settle();
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_TRUE(dispatch::isGlobalQueueLabel(completion.label())) << completion.label();
    auto [settings, error] = completion.result();
    return {settings, error};
  }

  template <class Start>
  std::optional<ns::Error> runForError(Start start) {
    ErrorCompletion completion;
    start(completion.handler());
    EXPECT_TRUE(completion.wait());
    settle();
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_TRUE(dispatch::isGlobalQueueLabel(completion.label())) << completion.label();
    return std::get<0>(completion.result());
  }

  // Waits until the client let go of every transaction (after their completions were queued).
  void settle() {
    EXPECT_TRUE(pltest::pumpUntil([&] { return client->webClient()->connectionCount() == 0; }));
  }
};

void expectCode(const std::optional<ns::Error>& error, const std::string& domain, long code,
                const std::string& what) {
  ASSERT_TRUE(error) << what;
  EXPECT_EQ(error->domain(), domain) << what;
  EXPECT_EQ(error->code(), code) << what;
}

std::string field(const std::string& name, const std::string& value) {
  return "--AaB03x\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\nContent-Type: text/plain\r\n\r\n" + value + "\r\n";
}

TEST(CRSSettingsClient, TheSettingsRequestAsTheServiceSeesIt) {
  Fixture f;
  f.delegate->state = 36;
  f.delegate->identity = ns::Dictionary{{"model", "Box \"Pro\""}, {"os_version", "6.1"}};
  auto [settings, error] = f.loadSettings();
  EXPECT_FALSE(error);
  ASSERT_TRUE(settings.isDictionary());
  EXPECT_EQ(settings["app"]["reports_url"], ns::Value(f.service.reportsURL()));

  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 1u);
  const auto& r = seen[0];
  EXPECT_EQ(r.kind, FakeCrashService::Kind::Settings);
  EXPECT_EQ(r.raw.method, "GET");
  EXPECT_EQ(r.raw.target,
            "/spi/v2/platforms/mac/apps/com.ordel42.zeravozezi/settings?build_version=1&"
            "display_version=0.1.0&instance=" +
                kInstance + "&source=1");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-KEY"), crstest::kAPIKey);
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-DEVICE-STATE"), "36");
  EXPECT_EQ(r.identity, "{\"model\":\"Box \\\"Pro\\\"\",\"os_version\":\"6.1\"}");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-DEVELOPER-TOKEN"), CRSDeveloperToken);
  EXPECT_EQ(r.raw.header("User-Agent"), "CrashReporter Mac SDK/2.2.5");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-CLIENT-TYPE"), "CrashReporter Mac SDK");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-CLIENT-VERSION"), "2.2.5");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-CLIENT-DISPLAY-VERSION"), "2.2.5");
  EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-CLIENT-BUILD-VERSION"), "39");
  EXPECT_EQ(r.raw.header("Accept"), "application/x-plist");
  // Without the crash context no event header goes out and nothing is removed.
  EXPECT_FALSE(r.raw.header("X-CRASHREPORTER-E"));
  EXPECT_EQ(f.delegate->removeInstallEventKeyCalls, 0);
}

TEST(CRSSettingsClient, IdentityPartsAreEscapedAndOptional) {
  Fixture f;
  f.delegate->bundle = "a b/c";
  f.delegate->slices.reset();
  f.delegate->shortVersion.reset();
  EXPECT_EQ(f.client->settingsPath(),
            "/spi/v2/platforms/mac/apps/a%20b%2Fc/settings?build_version=1&instance=%28unknown%29&source=1");
  f.delegate->appIcon = CRSIcon::initWithData_size(ns::Data("png"), {16, 16});
  EXPECT_EQ(f.client->settingsPath(),
            "/spi/v2/platforms/mac/apps/a%20b%2Fc/settings?build_version=1&"
            "instance=%28unknown%29&source=1&icon_hash=" +
                sec::sha1Hex("png"));
  // An empty identity sends no identification header.
  f.loadSettings();
  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].raw.path, "/spi/v2/platforms/mac/apps/a b/c/settings");
  EXPECT_FALSE(seen[0].raw.header("X-CRASHREPORTER-D"));
}

TEST(CRSSettingsClient, UntrustedAnswersGiveTheirCodes) {
  Fixture f;
  struct Case {
    std::string name;
    pltest::FakeReply reply;
    std::string domain;
    long code;
  };
  const std::vector<Case> cases = {
      {"304", pltest::FakeReply::text(304, ""), CRSClientErrorDomain, -1},
      {"html page", pltest::FakeReply::text(200, "<html><body>busy</body></html>", "text/html"),
       CRSClientErrorDomain, -1},
      {"dictionary as text", pltest::FakeReply::text(200, "<plist><dict/></plist>", "text/plain"),
       CRSClientErrorDomain, -1},
      {"array", FakeCrashService::plistReply(ns::Array{ns::Value(1)}), CRSClientErrorDomain, -1},
      {"404 dictionary", FakeCrashService::plistReply(ns::Dictionary{{"a", 1}}, 404), CRSClientErrorDomain,
       -1},
      {"301", pltest::FakeReply::text(301, ""), CRSClientErrorDomain, -1},
      {"damaged plist", pltest::FakeReply::text(200, "<plist><dict><key>a", "application/x-plist"),
       ns::NSCocoaErrorDomain, 3840},
      {"cut short", pltest::FakeReply::cutShort("<plist><dict>", 500), ns::NSURLErrorDomain,
       ns::URLErrorNetworkConnectionLost},
  };
  for (const auto& c : cases) {
    f.service.setSettingsReply(c.reply);
    auto [settings, error] = f.loadSettings();
    EXPECT_TRUE(settings.isNil()) << c.name;
    expectCode(error, c.domain, c.code, c.name);
  }
  EXPECT_EQ(f.delegate->removeInstallEventKeyCalls, 0);

  pltest::RefusingLoopbackPort refusing;
  const int closedPort = refusing.port();
  auto offline = CRSSettingsClient::initWithURL(
      ns::URL::URLWithString("http://127.0.0.1:" + std::to_string(closedPort)));
  offline->setDelegate(f.delegate);
  SettingsCompletion completion;
  offline->loadSettingsWithCompletion(completion.handler());
  ASSERT_TRUE(completion.wait());
  expectCode(std::get<1>(completion.result()), ns::NSURLErrorDomain, ns::URLErrorCannotConnectToHost,
             "closed port");
}

// Child: the initialised crash context adds the install events and removes them after a
// dictionary answer only.
TEST(CRSSettingsClientChild, DISABLED_InstallEventsGoUntilASettingsAnswerArrives) {
  Fixture f;
  fs::path folder = f.sandbox.temporaryFolder("crash");
  static std::string record, marker, running, session;
  record = (folder / "s.crsrecord").string();
  marker = (folder / "marker").string();
  running = (folder / "session.crslog").string();
  session = (folder / "s.crslog").string();
  CRSContextInitData data;
  data.apiKey = crstest::kAPIKey;
  data.sessionIdentifier = "S";
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  data.runningLogPath = running.c_str();
  data.sessionLogPath = session.c_str();
  CRSContextInitialize(data);
  ASSERT_TRUE(CRSContextIsInitialized());

  f.delegate->events = ns::Array{ns::Dictionary{{"event", "install"}, {"when", "1"}}};
  f.service.setSettingsReply(pltest::FakeReply::text(500, ""));
  auto [none, error] = f.loadSettings();
  expectCode(error, CRSClientErrorDomain, -1, "500");
  EXPECT_EQ(f.delegate->removeInstallEventKeyCalls, 0);

  f.service.setSettingsReply(FakeCrashService::plistReply(f.service.settingsFixture()));
  auto [settings, noError] = f.loadSettings();
  EXPECT_FALSE(noError);
  EXPECT_TRUE(settings.isDictionary());
  EXPECT_EQ(f.delegate->removeInstallEventKeyCalls, 1);

  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& r : seen) EXPECT_EQ(r.events, "[{\"event\":\"install\",\"when\":\"1\"}]");

  f.delegate->events = ns::Array{};
  f.loadSettings();
  EXPECT_FALSE(f.service.requests().back().raw.header("X-CRASHREPORTER-E"));
}

TEST(CRSSettingsClient, InstallEventsWithTheCrashContext) {
  pltest::Sandbox sandbox;
  int status =
      pltest::runChildTest("CRSSettingsClientChild.DISABLED_InstallEventsGoUntilASettingsAnswerArrives");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(CRSSettingsClient, ConfigureRegistersOrUpdatesTheApplication) {
  Fixture f;
  f.client->setSDKKitVersions({{"CrashReporter", "2.2.5"}});
  auto configure = [&](const std::string& url, bool asNew) {
    return f.runForError([&](auto handler) {
      f.client->configureApplicationUsingURL_asNewApp_completion(ns::URL::URLWithString(url), asNew, handler);
    });
  };
  EXPECT_FALSE(configure(f.service.configureURL(), true));
  std::string expected =
      "MIME-Version: 1.0\r\n" + field("app[identifier]", crstest::kBundleId) +
      field("app[instance_identifier]", kInstance) + field("app[name]", "Pelorin") +
      field("app[build_version]", "1") + field("app[display_version]", "0.1.0") + field("app[source]", "1") +
      field("app[minimum_sdk_version]", "10.9") + field("app[built_sdk_version]", "10.13") +
      field("app[build][libraries][CrashReporter]", "2.2.5") + field("app[slices][][arch]", "i386") +
      field("app[slices][][uuid]", "A") + field("app[slices][][arch]", "x86_64") +
      field("app[slices][][uuid]", "B") + "--AaB03x--\r\n";
  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, FakeCrashService::Kind::Configure);
  EXPECT_EQ(seen[0].raw.method, "POST");
  EXPECT_EQ(seen[0].raw.body, expected);
  EXPECT_EQ(seen[0].raw.header("Content-Type"), "multipart/form-data; boundary=AaB03x");
  EXPECT_EQ(seen[0].raw.header("X-CRASHREPORTER-API-KEY"), crstest::kAPIKey);
  EXPECT_FALSE(seen[0].part("app[icon][hash]"));

  // An update uses PUT; the icon fields come with an icon, and an absent value is left out.
  f.delegate->appIcon =
      CRSIcon::initWithData_size_prerendered(ns::Data(std::string("\x89PNG\0x", 6)), {32.7, 16}, false);
  f.delegate->shortVersion.reset();
  EXPECT_FALSE(configure(f.service.configureURL(), false));
  seen = f.service.requests();
  ASSERT_EQ(seen.size(), 2u);
  const auto& update = seen[1];
  EXPECT_EQ(update.raw.method, "PUT");
  EXPECT_FALSE(update.part("app[display_version]"));
  ASSERT_TRUE(update.part("app[icon][data]"));
  EXPECT_EQ(update.part("app[icon][hash]")->body, sec::sha1Hex(std::string("\x89PNG\0x", 6)));
  EXPECT_EQ(update.part("app[icon][prerendered]")->body, "false");
  EXPECT_EQ(update.part("app[icon][width]")->body, "32");
  EXPECT_EQ(update.part("app[icon][height]")->body, "16");
  EXPECT_EQ(update.part("app[icon][data]")->body, std::string("\x89PNG\0x", 6));
  EXPECT_EQ(update.part("app[icon][data]")->fileName, "icon.png");
  EXPECT_EQ(update.part("app[icon][data]")->headers.get("Content-Type"), "image/png");
  EXPECT_EQ(update.parts.back().name, "app[icon][data]");

  for (int status : {400, 500}) {
    f.service.setConfigureReply(pltest::FakeReply::text(status, ""));
    expectCode(configure(f.service.configureURL(), true), CRSClientErrorDomain, -2, std::to_string(status));
  }
  std::size_t before = f.service.requests().size();
  auto noURL = f.runForError([&](auto handler) {
    f.client->configureApplicationUsingURL_asNewApp_completion(nullptr, true, handler);
  });
  expectCode(noURL, CRSClientErrorDomain, -3, "no URL");
  EXPECT_EQ(f.service.requests().size(), before);
}

TEST(CRSSettingsClient, ReportUploads) {
  Fixture f;
  fs::path folder = f.sandbox.temporaryFolder("reports");
  std::string report = (folder / "ABC123.crs").string();
  std::string bytes(
      "\x0a\x03"
      "abc\0\xff\r\n--\r\n",
      13);
  std::ofstream(report, std::ios::binary) << bytes;
  auto submit = [&](const std::string& path, bool invalid, const ns::Ref<ns::URL>& url) {
    return f.runForError([&](auto handler) {
      f.client->submitCRSFileAtPath_toURL_asInvalid_completion(path, url, invalid, handler);
    });
  };
  auto reports = ns::URL::URLWithString(f.service.reportsURL());
  EXPECT_FALSE(submit(report, false, reports));
  EXPECT_FALSE(submit(report, true, reports));
  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& r : seen) {
    EXPECT_EQ(r.kind, FakeCrashService::Kind::Report);
    EXPECT_EQ(r.raw.method, "POST");
    EXPECT_EQ(r.raw.header("X-CRASHREPORTER-API-KEY"), crstest::kAPIKey);
    EXPECT_EQ(r.raw.header("Accept"), "application/x-plist");
    EXPECT_FALSE(r.raw.header("X-CRASHREPORTER-D"));
    ASSERT_EQ(r.parts.size(), 2u);
    EXPECT_EQ(r.parts[0].name, "report[identifier]");
    EXPECT_EQ(r.parts[0].body, "ABC123");
    EXPECT_EQ(r.parts[1].name, "report[file]");
    EXPECT_EQ(r.parts[1].fileName, "ABC123.crs");
    EXPECT_EQ(r.parts[1].headers.get("Content-Type"), "application/octet-stream");
    EXPECT_EQ(r.parts[1].headers.get("Content-Transfer-Encoding"), "binary");
    EXPECT_EQ(r.parts[1].body, bytes);
  }
  EXPECT_FALSE(seen[0].raw.header("X-CRASHREPORTER-INVALID-SESSION"));
  EXPECT_EQ(seen[1].raw.header("X-CRASHREPORTER-INVALID-SESSION"), "1");

  struct Case {
    int status;
    std::optional<long> code;
  };
  for (const auto& c : std::vector<Case>{
           {201, std::nullopt}, {200, std::nullopt}, {413, -5}, {404, -5}, {500, -6}, {302, -6}}) {
    f.service.setReportReply(pltest::FakeReply::text(c.status, ""));
    auto error = submit(report, false, reports);
    if (c.code) {
      expectCode(error, CRSClientErrorDomain, *c.code, std::to_string(c.status));
    } else {
      EXPECT_FALSE(error) << c.status;
    }
  }

  // Nothing to send, nothing sent.
  std::size_t before = f.service.requests().size();
  fs::remove(report);
  expectCode(submit(report, false, reports), CRSClientErrorDomain, -4, "removed file");
  expectCode(submit(report, false, nullptr), CRSClientErrorDomain, -3, "no URL");
  EXPECT_EQ(f.service.requests().size(), before);

  // In debug mode an upload names the service's request id, or says that none came.
  pltest::LogCapture log(true);
  CRSSetDebugModeEnabled(true);
  std::ofstream(report, std::ios::binary) << bytes;
  f.service.setReportReply(pltest::FakeReply::text(201, "").header("X-Request-Id", "r-7"));
  EXPECT_FALSE(submit(report, false, reports));
  f.service.setReportReply(pltest::FakeReply::text(201, ""));
  EXPECT_FALSE(submit(report, false, reports));
  CRSSetDebugModeEnabled(false);
  EXPECT_TRUE(pltest::pumpUntil([&] {
    return log.contains(
               "[CrashReporter] Submitted crash report with file name: \"ABC123.crs\", request-id: r-7") &&
           log.contains("request-id: <none received>");
  }));
}

TEST(CRSSettingsClient, AReportHoldingTheUsualBoundaryArrivesWhole) {
  Fixture f;
  fs::path folder = f.sandbox.temporaryFolder("reports");
  std::string report = (folder / "DEF456.crs").string();
  // A log line inside the report that looks like the end of the body, and like a next part.
  std::string bytes =
      std::string("\x0a\x03log\r\n--AaB03x--\r\n") +
      "--AaB03x\r\nContent-Disposition: form-data; name=\"report[identifier]\"\r\n\r\nforged\r\n" +
      "--AaB03x--\r\n";
  std::ofstream(report, std::ios::binary) << bytes;
  EXPECT_FALSE(f.runForError([&](auto handler) {
    f.client->submitCRSFileAtPath_toURL_asInvalid_completion(
        report, ns::URL::URLWithString(f.service.reportsURL()), false, handler);
  }));
  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 1u);
  std::string type = seen[0].raw.header("Content-Type").value_or("");
  ASSERT_EQ(type.rfind("multipart/form-data; boundary=AaB03x-", 0), 0u) << type;
  std::string boundary = type.substr(type.find('=') + 1);
  EXPECT_EQ(bytes.find(boundary), std::string::npos);
  ASSERT_EQ(seen[0].parts.size(), 2u);
  EXPECT_EQ(seen[0].parts[0].name, "report[identifier]");
  EXPECT_EQ(seen[0].parts[0].body, "DEF456");
  EXPECT_EQ(seen[0].parts[1].name, "report[file]");
  EXPECT_EQ(seen[0].parts[1].body, bytes);
}

TEST(FakeCrashService, AnalyticsUploadsAreSplitIntoTheirParts) {
  Fixture f;
  auto request = CRSWebRequest::requestWithMethod_path("POST", "");
  request->setURL(ns::URL::URLWithString(f.service.analyticsURL()));
  request->addValue_forFormField("1", "count");
  request->addData_MIMEType_fileName_forFormField(
      ns::Data(std::string("\x1f\x8b\0", 3)), std::string("application/gzip"), std::string("a.gz"), "log");
  crstest::Completion<ns::Ref<CRSWebResponse>> completion;
  f.client->webClient()->startRequest_completion(request, completion.handler());
  ASSERT_TRUE(completion.wait());
  EXPECT_EQ(std::get<0>(completion.result())->statusCode(), 202u);
  auto seen = f.service.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, FakeCrashService::Kind::Analytics);
  ASSERT_EQ(seen[0].parts.size(), 2u);
  EXPECT_EQ(seen[0].parts[0].body, "1");
  EXPECT_EQ(seen[0].parts[1].fileName, "a.gz");
  EXPECT_EQ(seen[0].parts[1].body, std::string("\x1f\x8b\0", 3));
  // A header that was not enciphered with the service's key does not decipher.
  EXPECT_FALSE(f.service.decipher("00112233445566778899aabbccddeeff"));
  EXPECT_FALSE(f.service.decipher("zz"));
}

TEST(CRSBetaClient, UpdateChecks) {
  pltest::Sandbox sandbox;
  FakeCrashService service(crstest::kAPIKey, crstest::kBundleId);
  auto delegate = std::make_shared<crstest::ClientDelegateDouble>();
  delegate->identity = ns::Dictionary{{"model", "Box"}};
  auto client = CRSBetaClient::initWithURL(ns::URL::URLWithString(""));
  client->setDelegate(delegate);
  auto check = [&](const ns::Ref<ns::URL>& url) {
    crstest::Completion<ns::Value, std::optional<ns::Error>> completion;
    client->getUpdateWithURL_completion(url, completion.handler());
    EXPECT_TRUE(completion.wait());
    EXPECT_TRUE(pltest::pumpUntil([&] { return client->webClient()->connectionCount() == 0; }));
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_TRUE(dispatch::isGlobalQueueLabel(completion.label()));
    return completion.result();
  };
  auto url = ns::URL::URLWithString(service.betaURL());
  service.setBetaReply(FakeCrashService::plistReply(ns::Dictionary{{"build", "2"}}));
  auto [update, error] = check(url);
  EXPECT_FALSE(error);
  EXPECT_EQ(update["build"], ns::Value("2"));
  auto seen = service.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, FakeCrashService::Kind::Beta);
  EXPECT_EQ(seen[0].raw.target,
            "/spi/v1/platforms/mac/apps/com.ordel42.zeravozezi/beta_updates?build_version=1&"
            "display_version=0.1.0&instance=" +
                kInstance + "&source=1");
  EXPECT_EQ(seen[0].identity, "{\"model\":\"Box\"}");
  EXPECT_EQ(seen[0].raw.header("X-CRASHREPORTER-API-KEY"), crstest::kAPIKey);
  EXPECT_FALSE(seen[0].raw.header("X-CRASHREPORTER-DEVICE-STATE"));
  EXPECT_FALSE(seen[0].raw.header("X-CRASHREPORTER-E"));

  for (auto reply :
       {FakeCrashService::plistReply(ns::Array{}), pltest::FakeReply::text(200, "<html/>", "text/html"),
        FakeCrashService::plistReply(ns::Dictionary{{"build", "2"}}, 404)}) {
    service.setBetaReply(reply);
    auto [none, failure] = check(url);
    EXPECT_TRUE(none.isNil());
    expectCode(failure, CRSBetaErrorDomain, -1, reply.body);
  }
  delegate->shortVersion.reset();
  EXPECT_EQ(client->appendUpdateQueryParamsToURL(url)->absoluteString(),
            service.betaURL() + "?build_version=1&instance=" + kInstance + "&source=1");
}

}  // namespace
