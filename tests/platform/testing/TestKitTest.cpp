#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Files.h"
#include "platform/testing/ManualQueue.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/Pipe.h"
#include "platform/testing/Pump.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"

namespace fs = std::filesystem;
using pltest::FakeReply;
using pltest::FakeRequest;
using pltest::FakeServer;

namespace {

struct Fetched {
  long status = 0;
  ns::HTTPHeaderFields headers;
  std::string body;
  std::optional<ns::Error> error;
};

Fetched fetch(const std::string& url, const std::string& method = "GET", const std::string& body = "",
              ns::HTTPHeaderFields headers = {}) {
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
  request->setHTTPMethod(method);
  if (!body.empty()) request->setHTTPBody(ns::Data(body));
  request->setAllHTTPHeaderFields(headers);
  ns::Ref<ns::URLResponse> response;
  ns::Error error;
  auto data = ns::URLConnection::sendSynchronousRequest_returningResponse_error(request, &response, &error);
  Fetched f;
  if (auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response)) {
    f.status = http->statusCode();
    f.headers = http->allHeaderFields();
  }
  if (data)
    f.body = data->toString();
  else
    f.error = error;
  return f;
}

}  // namespace

TEST(Sandbox, PointsHomeAndXdgFoldersIntoAFolderRemovedAfterwards) {
  const char* before = std::getenv("HOME");
  std::string savedHome = before ? before : "";
  fs::path root;
  {
    pltest::Sandbox sandbox;
    root = sandbox.root();
    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_EQ(std::string(std::getenv("HOME")), sandbox.home().string());
    EXPECT_EQ(std::string(std::getenv("XDG_DATA_HOME")), sandbox.dataHome().string());
    EXPECT_EQ(std::string(std::getenv("XDG_CACHE_HOME")), sandbox.cacheHome().string());
    EXPECT_EQ(std::string(std::getenv("XDG_CONFIG_HOME")), sandbox.configHome().string());
    EXPECT_TRUE(fs::is_directory(sandbox.dataHome()));
    std::ofstream(sandbox.dataHome() / "left-behind.txt") << "x";
    EXPECT_TRUE(fs::is_directory(sandbox.temporaryFolder("scratch")));
    {
      pltest::Sandbox inner;
      EXPECT_NE(inner.root(), root);
      EXPECT_EQ(std::string(std::getenv("HOME")), inner.home().string());
    }
    EXPECT_EQ(std::string(std::getenv("HOME")), sandbox.home().string())
        << "nested sandboxes restore in turn";
  }
  EXPECT_FALSE(fs::exists(root)) << "everything is removed";
  EXPECT_EQ(std::string(std::getenv("HOME") ? std::getenv("HOME") : ""), savedHome);
}

TEST(Sandbox, EachSandboxStartsWithFreshUserDefaults) {
  std::string store;
  {
    pltest::Sandbox sandbox;
    auto defaults = ns::UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults->stringForKey("PelorinSandboxKey"), std::nullopt);
    defaults->setObject_forKey(ns::Value("written"), "PelorinSandboxKey");
    EXPECT_TRUE(defaults->synchronize());
    store = defaults->storePath();
    EXPECT_EQ(store.rfind(sandbox.root().string(), 0), 0u) << "the defaults live inside the sandbox";
  }
  EXPECT_FALSE(fs::exists(store));
  pltest::Sandbox next;
  EXPECT_EQ(ns::UserDefaults::standardUserDefaults()->stringForKey("PelorinSandboxKey"), std::nullopt);
}

TEST(TemporaryFolder, IsFreshAndRemovedWithEverythingInItEvenWhenLocked) {
  pltest::Sandbox sandbox;
  fs::path parent = sandbox.temporaryFolder("parent");
  fs::path first, second;
  {
    pltest::TemporaryFolder a(parent), b(parent);
    first = a.path();
    second = b.path();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), parent);
    fs::create_directories(first / "deep/er");
    std::ofstream(first / "deep/er/file") << "x";
    fs::permissions(first, fs::perms::owner_read | fs::perms::owner_exec);  // no write: a plain remove fails
  }
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
  EXPECT_THROW(pltest::TemporaryFolder(parent / "missing"), std::runtime_error);
}

TEST(Pipe, CarriesBytesAndEndsWhenTheWriteEndCloses) {
  pltest::Pipe p;
  char byte = 0;
  EXPECT_EQ(::read(p.r, &byte, 1), -1) << "non-blocking: nothing to read yet";
  ASSERT_EQ(::write(p.w, "y", 1), 1);
  ASSERT_EQ(::read(p.r, &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  p.closeWriteEnd();
  EXPECT_EQ(p.w, -1);
  EXPECT_EQ(::read(p.r, &byte, 1), 0) << "end of stream";
  p.closeWriteEnd();  // a second close changes nothing
}

TEST(FakeServer, RoutesCaptureAndCannedReplies) {
  FakeServer server;
  EXPECT_GT(server.port(), 0);
  EXPECT_EQ(server.baseURL(), "http://127.0.0.1:" + std::to_string(server.port()));
  server.route("GET", "/items/([0-9]+)", [](const FakeRequest& r) {
    return FakeReply::json(200, "{\"id\":" + r.matches.at(0) + ",\"q\":\"" + r.params.at("q") + "\"}");
  });
  server.route("GET", "/items/7", [](const FakeRequest&) { return FakeReply::text(410, "gone"); });
  server.canned("POST", "/form.php", FakeReply::text(201, "made").header("X-Made", "yes"));

  auto item = fetch(server.URLForPath("/items/12?q=a%20b"));
  EXPECT_EQ(item.status, 200);
  EXPECT_EQ(item.body, "{\"id\":12,\"q\":\"a b\"}");
  EXPECT_EQ(item.headers.get("Content-Type"), "application/json");
  EXPECT_EQ(fetch(server.URLForPath("/items/7")).status, 410) << "the newest route wins";
  auto made = fetch(server.URLForPath("/form.php"), "POST", "a=1",
                    {{"Content-Type", "application/x-www-form-urlencoded"}});
  EXPECT_EQ(made.status, 201);
  EXPECT_EQ(made.headers.get("x-made"), "yes");
  EXPECT_EQ(fetch(server.URLForPath("/form.php")).status, 404) << "the method matters";
  EXPECT_EQ(fetch(server.URLForPath("/nothing")).status, 404);

  ASSERT_TRUE(server.waitForRequests(5));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].path, "/items/12");
  EXPECT_EQ(requests[0].target, "/items/12?q=a%20b");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].body, "a=1");
  EXPECT_EQ(requests[2].header("content-type"), "application/x-www-form-urlencoded");
  server.clearRequests();
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_FALSE(server.waitForRequests(1, std::chrono::milliseconds(1)));
}

TEST(FakeServer, RequestsToSeveralFakesAreNumberedInTheOrderTheyArrived) {
  FakeServer first;
  FakeServer second;
  ASSERT_EQ(fetch(first.URLForPath("/a")).status, 404);
  ASSERT_EQ(fetch(second.URLForPath("/b")).status, 404);
  ASSERT_EQ(fetch(first.URLForPath("/c")).status, 404);
  auto ofFirst = first.requests();
  auto ofSecond = second.requests();
  ASSERT_EQ(ofFirst.size(), 2u);
  ASSERT_EQ(ofSecond.size(), 1u);
  EXPECT_GT(ofFirst[0].sequence, 0u);
  EXPECT_LT(ofFirst[0].sequence, ofSecond[0].sequence);
  EXPECT_LT(ofSecond[0].sequence, ofFirst[1].sequence);
  // Forgetting the requests does not reuse their numbers.
  first.clearRequests();
  ASSERT_EQ(fetch(first.URLForPath("/d")).status, 404);
  ASSERT_EQ(first.requests().size(), 1u);
  EXPECT_GT(first.requests()[0].sequence, ofFirst[1].sequence);
}

TEST(FakeServer, ChunkedSlowRangedAndCutShortReplies) {
  FakeServer server;
  server.canned("GET", "/chunks", FakeReply::chunked({"ab", "cd"}));
  server.canned("GET", "/slow", FakeReply::slow({"1", "2", "3"}, std::chrono::milliseconds(5)));
  server.canned("GET", "/file", FakeReply::text(200, "0123456789"));
  server.canned("GET", "/cut", FakeReply::cutShort("half", 8));

  auto chunks = fetch(server.URLForPath("/chunks"));
  EXPECT_EQ(chunks.body, "abcd");
  EXPECT_EQ(chunks.headers.get("Transfer-Encoding"), "chunked");
  EXPECT_EQ(fetch(server.URLForPath("/slow")).body, "123");

  auto range = fetch(server.URLForPath("/file"), "GET", "", {{"Range", "bytes=7-"}});
  EXPECT_EQ(range.status, 206);
  EXPECT_EQ(range.body, "789");
  EXPECT_EQ(range.headers.get("Content-Range"), "bytes 7-9/10");
  EXPECT_EQ(fetch(server.URLForPath("/file"), "GET", "", {{"Range", "bytes=20-30"}}).status, 416);

  auto cut = fetch(server.URLForPath("/cut"));
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->code(), -1005);
}

TEST(FakeServer, HttpsWithAGeneratedAuthority) {
  FakeServer server({.https = true});
  server.canned("GET", "/", FakeReply::text(200, "secure"));
  EXPECT_EQ(server.baseURL().rfind("https://127.0.0.1:", 0), 0u);
  EXPECT_NE(server.caCertificatePEM().find("BEGIN CERTIFICATE"), std::string::npos);
  std::string caFile = server.caCertificateFile();
  EXPECT_TRUE(fs::exists(caFile));
  server.trustInURLLoading();
  EXPECT_EQ(ns::URLLoading::extraCertificateAuthorityFile(), caFile);
  EXPECT_EQ(fetch(server.URLForPath("/")).body, "secure");
  FakeServer::untrustInURLLoading();
  server.stop();
  server.stop();  // a second stop is harmless
}

TEST(FakeServer, ServesUnderARealLookingHostNameWhileItLives) {
  {
    FakeServer server({.https = true, .hostNames = {"api.example.test"}});
    server.canned("GET", "/v3/videos", FakeReply::json(200, "[]"));
    server.serveAs("api.example.test");
    server.trustInURLLoading();
    auto videos = fetch("https://api.example.test/v3/videos");
    EXPECT_EQ(videos.body, "[]");
    EXPECT_EQ(server.requests().at(0).header("Host"), "api.example.test");
    FakeServer::untrustInURLLoading();
  }
  EXPECT_FALSE(ns::URLLoading::connectToFor("api.example.test", 443)) << "the mapping goes with the server";
}

TEST(ManualQueue, RunsBlocksOnlyWhenDrainedInOrder) {
  pltest::ManualQueue queue;
  std::vector<int> ran;
  auto executor = queue.executor();
  std::thread([&] {
    for (int i = 0; i < 3; ++i) executor([&ran, i] { ran.push_back(i); });
  }).join();
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(queue.pendingCount(), 3u);
  EXPECT_TRUE(queue.runUntil([&] { return ran.size() == 2; }));
  EXPECT_EQ(queue.runPending(), 1u);
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(queue.runUntil([] { return false; }, std::chrono::milliseconds(1)));
}

TEST(Files, WriteMakesTheFoldersReadAnswersTheBytesAndTheTreeIsSorted) {
  pltest::Sandbox sandbox;
  const fs::path root = sandbox.temporaryFolder("files");
  ASSERT_TRUE(pltest::writeFile(root / "b/deep/x.bin", std::string("a\0b", 3)));
  ASSERT_TRUE(pltest::writeFile(root / "a.txt", "first"));
  ASSERT_TRUE(pltest::writeFile(root / "a.txt", "new"));  // replaced, not appended
  EXPECT_EQ(pltest::readFile(root / "b/deep/x.bin"), std::string("a\0b", 3));
  EXPECT_EQ(pltest::readFile(root / "a.txt"), "new");
  EXPECT_EQ(pltest::readFile(root / "missing"), "");
  EXPECT_EQ(pltest::folderTree(root), (std::vector<std::string>{"a.txt", "b", "b/deep", "b/deep/x.bin"}));
}

TEST(Loopback, ARefusingPortRefusesAndAOneReplyServerAnswersOnce) {
  pltest::RefusingLoopbackPort refusing;
  ASSERT_NE(refusing.port(), 0);
  EXPECT_EQ(refusing.url(), "http://127.0.0.1:" + std::to_string(refusing.port()) + "/");
  EXPECT_FALSE(pltest::RawClient().connectTo(refusing.port()));

  pltest::OneReplyServer server("not http\r\n");
  pltest::RawClient client;
  ASSERT_TRUE(client.connectTo(server.port()));
  ASSERT_TRUE(client.sendAll("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.readToEnd(), "not http\r\n");

  sockaddr_in address;
  int udp = pltest::boundLoopbackUdpSocket(&address, true);
  ASSERT_GE(udp, 0);
  EXPECT_NE(address.sin_port, 0);
  char byte;
  EXPECT_EQ(::recv(udp, &byte, 1, 0), -1) << "non-blocking: nothing to read yet";
  ::close(udp);
}

TEST(Waiting, AMonitorSeesChangesFromAnotherThreadAndDrainModeRunsOnlyItsMode) {
  pltest::Monitor monitor;
  int value = 0;
  std::thread worker([&] { monitor.change([&] { value = 2; }); });
  EXPECT_TRUE(monitor.waitFor([&] { return value == 2; }));
  worker.join();
  EXPECT_FALSE(monitor.waitFor([&] { return value == 3; }, std::chrono::milliseconds(1)));
  EXPECT_EQ(monitor.with([&] { return value; }), 2);

  std::vector<std::string> ran;
  auto loop = ns::RunLoop::currentRunLoop();
  loop->performInModes_block({ns::DefaultRunLoopMode}, [&] { ran.push_back("default"); });
  loop->performInModes_block({"other"}, [&] { ran.push_back("other"); });
  EXPECT_TRUE(pltest::drainMode());
  EXPECT_EQ(ran, std::vector<std::string>{"default"});
  EXPECT_TRUE(pltest::drainMode("other"));
  EXPECT_EQ(ran, (std::vector<std::string>{"default", "other"}));
}
