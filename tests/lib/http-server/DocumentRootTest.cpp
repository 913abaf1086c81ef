// Mapping request paths to files below the document root, and query parameters.
#include <gtest/gtest.h>

#include <filesystem>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "platform/dispatch/Queue.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/http-server/ServerTestSupport.h"

namespace httptest {
namespace {

class DocumentRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root / "sub");
    writeFile((root / "a.txt").string(), "a");
    writeFile((root / "index.htm").string(), "i");
    writeFile((root / "withindex" / "index.html").string(), "w");
    writeFile((sibling / "secret.txt").string(), "s");
  }
  ns::Ref<HTTPConnection> connectionFor(const std::optional<std::string>& documentRoot) {
    return ns::make<HTTPConnection>(
        nullptr, HTTPConfig::initWithServer_documentRoot_queue(ns::Weak<HTTPServer>(), documentRoot,
                                                               dispatch::queueCreate("HTTPConnection")));
  }
  pltest::Sandbox sandbox;
  std::filesystem::path root = sandbox.temporaryFolder("www");
  // A folder whose name starts with the root's name.
  std::filesystem::path sibling = sandbox.temporaryFolder("wwwx");
};

TEST_F(DocumentRootTest, MapsInsideTheRootOnly) {
  auto connection = connectionFor(root.string() + "/");
  const std::string r = root.string();
  EXPECT_EQ(connection->filePathForURI("/a.txt?x=1"), r + "/a.txt");
  EXPECT_EQ(connection->filePathForURI("/sub/../a.txt"), r + "/a.txt");
  EXPECT_EQ(connection->filePathForURI("/missing.txt"), r + "/missing.txt");  // a path, but no response
  EXPECT_FALSE(connection->httpResponseForMethod_URI("GET", "/missing.txt"));
  EXPECT_TRUE(connection->httpResponseForMethod_URI("GET", "/a.txt"));
  for (const char* climbing : {"/../wwwx/secret.txt", "/%2e%2e/wwwx/secret.txt", "/sub/../../wwwx/secret.txt",
                               "/..%2fwwwx%2fsecret.txt", "/a.txt%00", "/%00/a.txt", "not a url"})
    EXPECT_FALSE(connection->filePathForURI(climbing)) << climbing;
}

TEST_F(DocumentRootTest, FoldersAndIndexFiles) {
  auto connection = connectionFor(root.string());
  const std::string r = root.string();
  EXPECT_EQ(connection->filePathForURI("/"), r + "/index.htm");  // no index.html here
  EXPECT_EQ(connection->filePathForURI("/withindex/"), r + "/withindex/index.html");
  EXPECT_EQ(connection->filePathForURI("/withindex"), r + "/withindex/index.html");
  // A path that comes back to the root itself is the root folder.
  EXPECT_EQ(connection->filePathForURI("/."), r + "/index.htm");
  EXPECT_EQ(connection->filePathForURI("/sub/.."), r + "/index.htm");
  EXPECT_EQ(connection->filePathForURI_allowDirectory("/sub/..", true), r + "/");
  EXPECT_FALSE(connection->filePathForURI("/sub/"));
  EXPECT_FALSE(connection->httpResponseForMethod_URI("GET", "/sub"));
  EXPECT_EQ(connection->filePathForURI_allowDirectory("/", true), r + "/");
  EXPECT_EQ(connection->filePathForURI_allowDirectory("/sub", true), r + "/sub");
  EXPECT_EQ(connection->directoryIndexFileNames(), (std::vector<std::string>{"index.html", "index.htm"}));
}

// A connection that looks up one path but answers another.
class AliasingConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  std::string answer;
  std::optional<std::string> filePathForURI_allowDirectory(const std::string& path,
                                                           bool allowDirectory) override {
    auto looked = HTTPConnection::filePathForURI_allowDirectory(path, allowDirectory);
    return looked ? std::optional<std::string>(answer) : std::nullopt;
  }
};

// The response is made from the path's one look-up: its length is the file's, an index file's
// for a folder, and the answer's own when a subclass answers another path than it looked up.
TEST_F(DocumentRootTest, ResponsesHaveTheLengthOfTheFileTheyServe) {
  writeFile((root / "big.txt").string(), std::string(5000, 'b'));
  std::filesystem::create_symlink(root / "big.txt", root / "link.txt");
  auto connection = connectionFor(root.string());
  auto lengthOf = [](const ns::Ref<HTTPResponse>& response) {
    return response ? static_cast<long long>(response->contentLength()) : -1LL;
  };
  EXPECT_EQ(lengthOf(connection->httpResponseForMethod_URI("GET", "/big.txt")), 5000);
  EXPECT_EQ(lengthOf(connection->httpResponseForMethod_URI("GET", "/withindex/")), 1);
  auto linked =
      std::dynamic_pointer_cast<HTTPFileResponse>(connection->httpResponseForMethod_URI("GET", "/link.txt"));
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->contentLength(), 5000u);
  EXPECT_EQ(linked->filePath(), std::filesystem::canonical(root / "big.txt").string());

  auto aliasing = ns::make<AliasingConnection>(
      nullptr, HTTPConfig::initWithServer_documentRoot_queue(ns::Weak<HTTPServer>(), root.string(),
                                                             dispatch::queueCreate("HTTPConnection")));
  aliasing->answer = (root / "big.txt").string();
  EXPECT_EQ(lengthOf(aliasing->httpResponseForMethod_URI("GET", "/a.txt")), 5000);
  aliasing->answer = (root / "sub").string();
  EXPECT_FALSE(aliasing->httpResponseForMethod_URI("GET", "/a.txt")) << "a folder is no file";
  aliasing->answer = (root / "gone.txt").string();
  EXPECT_FALSE(aliasing->httpResponseForMethod_URI("GET", "/a.txt"));
}

TEST_F(DocumentRootTest, MissingRootAndFileSystemRoot) {
  EXPECT_FALSE(connectionFor(std::nullopt)->filePathForURI("/a.txt"));
  // The file-system root is stored as "//", outside which every path falls.
  auto connection = connectionFor("/");
  EXPECT_FALSE(connection->filePathForURI("/etc/passwd"));
  EXPECT_FALSE(connection->filePathForURI("/"));
  // An empty root is no root, not the whole file system.
  for (const auto& config : {HTTPConfig::initWithServer_documentRoot(ns::Weak<HTTPServer>(), ""),
                             HTTPConfig::initWithServer_documentRoot_queue(
                                 ns::Weak<HTTPServer>(), "", dispatch::queueCreate("HTTPConnection"))}) {
    auto empty = ns::make<HTTPConnection>(nullptr, config);
    EXPECT_FALSE(empty->filePathForURI("/etc/passwd"));
    EXPECT_FALSE(empty->filePathForURI_allowDirectory("/", true));
    EXPECT_FALSE(empty->httpResponseForMethod_URI("GET", "/etc/passwd"));
  }
}

TEST_F(DocumentRootTest, QueryParameters) {
  auto params = HTTPConnection::parseParams("a=1&b=x%20y&&c&=5&a=2&e=%zz&f=p+q=r&%zz=1");
  EXPECT_EQ(params.count(), 4u);
  EXPECT_EQ(params[ns::Value("a")], ns::Value("2"));
  EXPECT_EQ(params[ns::Value("b")], ns::Value("x y"));
  EXPECT_EQ(params[ns::Value("e")], ns::Value::null());
  EXPECT_EQ(params[ns::Value("f")], ns::Value("p+q=r"));
  EXPECT_FALSE(params.contains(ns::Value("c")));
  EXPECT_TRUE(HTTPConnection::parseParams("").empty());
  // Without a request there are no GET parameters.
  auto connection = connectionFor(root.string());
  dispatch::sync(connection->connectionQueue(), [&] { EXPECT_FALSE(connection->parseGetParams()); });
}

}  // namespace
}  // namespace httptest
