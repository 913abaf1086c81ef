// The crash reporter's web layer: requests, multipart bodies, responses decoded by content type,
// and the client's queues, over the real URL loader and a loopback server.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CrashReporter/CRSClientBase.h"
#include "CrashReporter/CRSWebClient/CRSWebClient.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/security/Digest.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"
#include "tests/CrashReporter/ClientDoubles.h"

namespace {

using ResponseCompletion = crstest::Completion<ns::Ref<CRSWebResponse>>;

ns::Ref<CRSWebResponse> run(const ns::Ref<CRSWebClient>& client, const ns::Ref<CRSWebRequest>& request) {
  ResponseCompletion completion;
  client->startRequest_completion(request, completion.handler());
  EXPECT_TRUE(completion.wait());
  EXPECT_TRUE(pltest::pumpUntil([&] { return client->connectionCount() == 0; }));
  EXPECT_EQ(completion.calls(), 1);
  // Completions run on a global queue, never on the client's own.
  EXPECT_TRUE(dispatch::isGlobalQueueLabel(completion.label())) << completion.label();
  EXPECT_NE(completion.label(), "com.crashreporter.rest-client");
  return std::get<0>(completion.result());
}

TEST(CRSWebRequest, URLsQueriesAndEscaping) {
  auto base = ns::URL::URLWithString("http://127.0.0.1:9/spi");
  auto request = CRSWebRequest::requestWithMethod_path("GET", "");
  request->setURL(base);
  EXPECT_EQ(request->fullURL(), "http://127.0.0.1:9/spi");
  request->setParameters(ns::Dictionary{{"a", "x y"}});
  EXPECT_EQ(request->fullURL(), "http://127.0.0.1:9/spi?a=x%20y");
  request->setParameters(ns::Dictionary{{"b", "1"}, {"a&", "=/"}});
  EXPECT_EQ(request->fullURL(), "http://127.0.0.1:9/spi?b=1&a%26=%3D%2F");

  struct Case {
    std::string text, escaped;
  };
  for (const auto& c : std::vector<Case>{
           {"a b/c", "a%20b%2Fc"},
           {"(unknown)", "%28unknown%29"},
           {"100%", "100%25"},
           {"é~-._", "%C3%A9~-._"},
           {"!*'\"();:@&=+$,/?#[] ", "%21%2A%27%22%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%23%5B%5D%20"},
           {"<>\\^`{|}", "%3C%3E%5C%5E%60%7B%7C%7D"}}) {
    EXPECT_EQ(CRSWebClient::escapeURLString(c.text), c.escaped) << c.text;
  }
}

TEST(CRSWebRequest, MultipartBodies) {
  struct Case {
    std::string name;
    std::function<void(CRSWebRequest&)> fill;
    std::optional<std::string> body;
  };
  const std::vector<Case> cases = {
      {"no form", [](CRSWebRequest&) {}, std::nullopt},
      {"one text field", [](CRSWebRequest& r) { r.addValue_forFormField("v", "f"); },
       std::string("MIME-Version: 1.0\r\n") + "--AaB03x\r\nContent-Disposition: form-data; name=\"f\"\r\n" +
           "Content-Type: text/plain\r\n\r\n" + "v\r\n" + "--AaB03x--\r\n"},
      {"data with and without a type, a nil value left out",
       [](CRSWebRequest& r) {
         r.addData_MIMEType_fileName_forFormField(ns::Data(std::string("\0\x01", 2)),
                                                  std::string("image/png"), std::string("i.png"), "d");
         r.addValue_forFormField(ns::Value(), "gone");
         r.addData_MIMEType_fileName_forFormField(ns::Data("raw"), std::nullopt, std::string("r\"q"), "e");
       },
       std::string("MIME-Version: 1.0\r\n") +
           "--AaB03x\r\nContent-Disposition: form-data; name=\"d\"; filename=\"i.png\"\r\n" +
           "Content-Type: image/png\r\nContent-Transfer-Encoding: binary\r\n\r\n" + std::string("\0\x01", 2) +
           "\r\n" + "--AaB03x\r\nContent-Disposition: form-data; name=\"e\"; filename=\"r\"q\"\r\n" +
           "Content-Type: application/octet-stream\r\n\r\nraw\r\n" + "--AaB03x--\r\n"},
      {"fields from a dictionary",
       [](CRSWebRequest& r) {
         r.addValueForFormFromDict_withPrefix(ns::Dictionary{{"k", "1"}}, "p");
       },
       std::string("MIME-Version: 1.0\r\n") +
           "--AaB03x\r\nContent-Disposition: form-data; name=\"p[k]\"\r\n" +
           "Content-Type: text/plain\r\n\r\n1\r\n--AaB03x--\r\n"},
  };
  for (const auto& c : cases) {
    auto request = CRSWebRequest::requestWithMethod_path("POST", "");
    request->setURL(ns::URL::URLWithString("http://127.0.0.1:9/x"));
    c.fill(*request);
    auto urlRequest = request->URLRequest();
    ASSERT_TRUE(urlRequest) << c.name;
    EXPECT_EQ(urlRequest->timeoutInterval(), 15) << c.name;
    EXPECT_EQ(urlRequest->cachePolicy(), ns::URLRequestReloadIgnoringLocalCacheData) << c.name;
    if (!c.body) {
      EXPECT_FALSE(urlRequest->HTTPBody()) << c.name;
      EXPECT_FALSE(urlRequest->valueForHTTPHeaderField("Content-Type")) << c.name;
      continue;
    }
    ASSERT_TRUE(urlRequest->HTTPBody()) << c.name;
    EXPECT_EQ(urlRequest->HTTPBody()->toString(), *c.body) << c.name;
    EXPECT_EQ(urlRequest->valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=AaB03x")
        << c.name;
  }
}

TEST(CRSWebRequest, TheBoundaryIsOneTheFieldsDoNotHold) {
  struct Case {
    std::string name;
    std::function<void(CRSWebRequest&)> fill;
  };
  const std::vector<Case> cases = {
      {"in a text value", [](CRSWebRequest& r) { r.addValue_forFormField("a\r\n--AaB03x--\r\n", "f"); }},
      {"in data",
       [](CRSWebRequest& r) {
         r.addData_MIMEType_fileName_forFormField(ns::Data(std::string("\0AaB03x", 7)), std::nullopt,
                                                  std::string("d.bin"), "d");
       }},
      {"in a file name",
       [](CRSWebRequest& r) {
         r.addData_MIMEType_fileName_forFormField(ns::Data("x"), std::nullopt, std::string("AaB03x.crs"),
                                                  "d");
       }},
  };
  for (const auto& c : cases) {
    auto request = CRSWebRequest::requestWithMethod_path("POST", "");
    request->setURL(ns::URL::URLWithString("http://127.0.0.1:9/x"));
    c.fill(*request);
    auto urlRequest = request->URLRequest();
    ASSERT_TRUE(urlRequest && urlRequest->HTTPBody()) << c.name;
    std::string type = urlRequest->valueForHTTPHeaderField("Content-Type").value_or("");
    ASSERT_EQ(type.rfind("multipart/form-data; boundary=AaB03x-", 0), 0u) << c.name << ": " << type;
    std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_EQ(boundary.size(), 6u + 1 + 24) << c.name;
    std::string body = urlRequest->HTTPBody()->toString();
    // The boundary delimits exactly the one part and the end.
    std::size_t count = 0;
    for (auto at = body.find(boundary); at != std::string::npos; at = body.find(boundary, at + 1)) ++count;
    EXPECT_EQ(count, 2u) << c.name;
    EXPECT_EQ(body.substr(body.size() - boundary.size() - 6), "--" + boundary + "--\r\n") << c.name;
  }
}

TEST(CRSWebClient, AnswersAreDecodedByTheirContentType) {
  pltest::Sandbox sandbox;
  pltest::FakeServer server;
  auto client = CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL()));
  enum class Body { None, Dictionary, Bytes };
  struct Case {
    std::string name;
    pltest::FakeReply reply;
    std::uint64_t status;
    bool successful;
    Body body;
    bool error;
  };
  const std::vector<Case> cases = {
      {"204", pltest::FakeReply::text(204, ""), 204, true, Body::None, false},
      {"301", pltest::FakeReply::text(301, ""), 301, false, Body::None, false},
      {"404", pltest::FakeReply::text(404, ""), 404, false, Body::None, false},
      {"json", pltest::FakeReply::text(200, "{\"a\":1}", "application/json; charset=utf-8"), 200, true,
       Body::Dictionary, false},
      {"damaged json", pltest::FakeReply::text(200, "{\"a\":", "application/json"), 200, true, Body::None,
       false},
      {"html", pltest::FakeReply::text(200, "<html></html>", "text/html"), 200, true, Body::Bytes, false},
      {"plist",
       pltest::FakeReply::text(200,
                               "<plist version=\"1.0\"><dict><key>a</key><integer>1</integer></dict></plist>",
                               "application/x-plist"),
       200, true, Body::Dictionary, false},
      {"damaged plist", pltest::FakeReply::text(200, "<plist><dict><key>", "application/x-plist"), 200, false,
       Body::None, true},
  };
  int index = 0;
  for (const auto& c : cases) {
    std::string path = "/answer" + std::to_string(index++);
    server.canned("GET", path, c.reply);
    auto request = CRSWebRequest::requestWithMethod_path("GET", path);
    auto response = run(client, request);
    EXPECT_EQ(response->statusCode(), c.status) << c.name;
    EXPECT_EQ(response->wasSuccessful(), c.successful) << c.name;
    EXPECT_EQ(response->error().has_value(), c.error) << c.name;
    EXPECT_EQ(response->requestURL()->absoluteString(), server.baseURL() + path) << c.name;
    switch (c.body) {
      case Body::None:
        EXPECT_TRUE(response->body().isNil()) << c.name;
        break;
      case Body::Dictionary:
        EXPECT_EQ(response->body()["a"], ns::Value(1)) << c.name;
        break;
      case Body::Bytes:
        EXPECT_EQ(response->body().data().toString(), c.reply.body) << c.name;
        break;
    }
  }
}

TEST(CRSWebClient, DefaultHeadersGiveWayToTheRequestsOwn) {
  pltest::Sandbox sandbox;
  pltest::FakeServer server;
  server.canned("GET", "/h", pltest::FakeReply::text(200, "ok"));
  auto client = CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL() + "/base/"));
  EXPECT_EQ(client->customHeaders().get("Accept"), "application/json, application/x-plist");
  client->addValue_forHeader("1", "X-Default");

  run(client, CRSWebRequest::requestWithMethod_path("GET", "/h"));
  auto own = CRSWebRequest::requestWithMethod_path("GET", "/h");
  own->addValue_forHTTPHeaderField("text/x-mine", "Accept");
  own->addValue_forHTTPHeaderField("2", "x-default");
  run(client, own);

  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].header("Accept"), "application/json, application/x-plist");
  EXPECT_EQ(seen[0].header("X-Default"), "1");
  EXPECT_EQ(seen[1].header("Accept"), "text/x-mine");
  EXPECT_EQ(seen[1].header("X-Default"), "2");
  EXPECT_FALSE(seen[0].header("Expect"));
}

TEST(CRSWebClient, TransportFailuresCompleteOnceWithTheError) {
  pltest::Sandbox sandbox;
  pltest::RefusingLoopbackPort refusing;
  const int closedPort = refusing.port();
  auto client =
      CRSWebClient::initWithURL(ns::URL::URLWithString("http://127.0.0.1:" + std::to_string(closedPort)));
  auto response = run(client, CRSWebRequest::requestWithMethod_path("GET", "/x"));
  ASSERT_TRUE(response->error());
  EXPECT_EQ(response->error()->domain(), ns::NSURLErrorDomain);
  EXPECT_FALSE(response->wasSuccessful());

  // A body cut short is a transport failure too; the bytes that came are kept.
  pltest::FakeServer server;
  server.canned("GET", "/cut", pltest::FakeReply::cutShort("<plist", 400));
  auto cut = run(CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL())),
                 CRSWebRequest::requestWithMethod_path("GET", "/cut"));
  ASSERT_TRUE(cut->error());
  EXPECT_EQ(cut->error()->domain(), ns::NSURLErrorDomain);

  // A server asking for credentials is given up on.
  server.canned("GET", "/auth",
                pltest::FakeReply::text(401, "").header("WWW-Authenticate", "Basic realm=\"crash\""));
  auto auth = run(CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL())),
                  CRSWebRequest::requestWithMethod_path("GET", "/auth"));
  ASSERT_TRUE(auth->error());
  EXPECT_EQ(auth->error()->domain(), CRSWebClientErrorDomain);
  EXPECT_EQ(auth->error()->code(), -2);
}

TEST(CRSWebClient, AStalledAnswerTimesOutOnTheVirtualClock) {
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;
  pltest::FakeServer server;
  server.canned("GET", "/stall", pltest::FakeReply::stalled("<plist>", 1000));
  auto client = CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL()));
  ResponseCompletion completion;
  client->startRequest_completion(CRSWebRequest::requestWithMethod_path("GET", "/stall"),
                                  completion.handler());
  ASSERT_TRUE(server.waitForRequests(1));
  // Virtual time moves on a second at a time until the loader gives up.
  double advanced = 0;
  ASSERT_TRUE(pltest::pumpUntil([&] {
    if (completion.calls() > 0) return true;
    clock.advance(1);
    advanced += 1;
    return false;
  }));
  EXPECT_GE(advanced, 15);
  auto response = std::get<0>(completion.result());
  ASSERT_TRUE(response->error());
  EXPECT_EQ(response->error()->code(), ns::URLErrorTimedOut);
  EXPECT_TRUE(pltest::pumpUntil([&] { return client->connectionCount() == 0; }));
  EXPECT_EQ(completion.calls(), 1);
  server.release();
}

TEST(CRSWebClient, ExpectingVariantsAndTheBlockingStart) {
  pltest::Sandbox sandbox;
  pltest::FakeServer server;
  server.canned("GET", "/created", pltest::FakeReply::text(201, "x", "application/json"));
  auto client = CRSWebClient::initWithURL(ns::URL::URLWithString(server.baseURL()));
  for (std::uint64_t expected : {201u, 200u}) {
    ResponseCompletion completion;
    client->startRequest_expectingResponse_completion(
        CRSWebRequest::requestWithMethod_path("GET", "/created"), expected, completion.handler());
    ASSERT_TRUE(completion.wait());
    auto response = std::get<0>(completion.result());
    if (expected == 201) {
      EXPECT_FALSE(response->error());
    } else {
      ASSERT_TRUE(response->error());
      EXPECT_EQ(response->error()->code(), -1);
    }
  }
  // The blocking start keeps the raw bytes whatever the content type.
  ResponseCompletion blocking;
  client->syncStartRequest_completion(CRSWebRequest::requestWithMethod_path("GET", "/created"),
                                      blocking.handler());
  EXPECT_EQ(blocking.calls(), 1);
  EXPECT_EQ(std::get<0>(blocking.result())->statusCode(), 201u);
  EXPECT_EQ(std::get<0>(blocking.result())->body().data().toString(), "x");
  EXPECT_EQ(client->connectionCount(), 0u);
}

TEST(CRSClientBase, IdentityTextsAndTheirCipher) {
  auto delegate = std::make_shared<crstest::ClientDelegateDouble>();
  auto client = ns::make<CRSClientBase>(ns::URL::URLWithString("http://127.0.0.1:9"));
  client->setDelegate(delegate);
  EXPECT_EQ(client->instanceIdentifier(), sec::sha1Hex("AB"));
  delegate->slices.reset();
  EXPECT_EQ(client->instanceIdentifier(), "(unknown)");
  delegate->delivery = 4;
  EXPECT_EQ(client->sourceString(), "4");

  // The fixed headers, then the web client's Accept.
  auto headers = client->webClient()->customHeaders();
  EXPECT_EQ(headers.get("User-Agent"), "CrashReporter Mac SDK/2.2.5");
  EXPECT_EQ(headers.get("X-CRASHREPORTER-API-CLIENT-BUILD-VERSION"), "39");
  EXPECT_EQ(headers.get("X-CRASHREPORTER-DEVELOPER-TOKEN"), CRSDeveloperToken);

  struct Case {
    ns::Dictionary dictionary;
    std::string text;
  };
  for (const auto& c : std::vector<Case>{
           {ns::Dictionary{{"model", "Box"}, {"os_version", "6.1"}},
            "{\"model\":\"Box\",\"os_version\":\"6.1\"}"},
           {ns::Dictionary{{"model", "The \"Big\" \\ Box"}}, "{\"model\":\"The \\\"Big\\\" \\\\ Box\"}"},
           {ns::Dictionary{}, "{}"}}) {
    EXPECT_EQ(CRSClientBase::headerStringForDictionary(c.dictionary), c.text);
  }
  EXPECT_EQ(CRSClientBase::headerStringForArray({ns::Dictionary{{"a", "1"}}, ns::Dictionary{{"b", "2"}}}),
            "[{\"a\":\"1\"},{\"b\":\"2\"}]");

  // An empty identity gives no header data; any other is whole AES blocks under the derived key.
  EXPECT_FALSE(client->identificationData());
  delegate->identity = ns::Dictionary{{"model", "Box"}};
  auto data = client->identificationData();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->length() % 16, 0u);
  EXPECT_GT(data->length(), 0u);
  auto key = CRSClientBase::newHashedKeyWithSeed_salt(crstest::kAPIKey, crstest::kBundleId);
  EXPECT_EQ(std::string(key.begin(), key.end()),
            sec::sha1Hex(std::string(crstest::kAPIKey) + "com-0-ordel42-0-zeravozezi").substr(0, 32));
}

}  // namespace
