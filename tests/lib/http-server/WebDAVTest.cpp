// The WebDAV connection seen by libcurl's custom requests; answers are read with libxml2.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <filesystem>

#include "lib/http-server/Extensions/WebDAV/DAVConnection.h"
#include "lib/http-server/Extensions/WebDAV/PUTResponse.h"
#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

namespace fs = std::filesystem;

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct Reply {
  long status = 0;
  std::string body;
  std::string headers;
};

// Every href of a multistatus answer, in order.
std::vector<std::string> hrefs(const std::string& xml) {
  std::vector<std::string> out;
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
  if (!doc) return out;
  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  xmlXPathRegisterNs(context, BAD_CAST "D", BAD_CAST "DAV:");
  xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST "//D:response/D:href", context);
  if (result && result->nodesetval)
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
      xmlChar* text = xmlNodeGetContent(result->nodesetval->nodeTab[i]);
      out.emplace_back(reinterpret_cast<const char*>(text));
      xmlFree(text);
    }
  xmlXPathFreeObject(result);
  xmlXPathFreeContext(context);
  xmlFreeDoc(doc);
  return out;
}

class WebDAVTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    server->setConnectionClass<DAVConnection>();
    startServer();
  }
  Reply request(const std::string& method, const std::string& path, std::vector<std::string> headers = {},
                const std::string& body = "") {
    Reply reply;
    CURL* curl = curl_easy_init();
    std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    struct curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (!body.empty() || method == "PUT") {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port); }
};

TEST_F(WebDAVTest, PropfindListsAFolderAndEscapes) {
  fs::create_directories(root / "dir" / "sub");
  file("dir/a<&>?+.txt", "12345");
  auto r = request("PROPFIND", "/dir", {"Depth: 1"});
  ASSERT_EQ(r.status, 207) << r.body;
  auto list = hrefs(r.body);
  std::sort(list.begin() + 1, list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"/dir/", "/dir/a%3C%26%3E%3F%2B.txt", "/dir/sub"}));
  EXPECT_NE(r.body.find("<D:getcontentlength>5</D:getcontentlength>"), std::string::npos);
  EXPECT_NE(r.body.find("<D:collection/>"), std::string::npos);
  EXPECT_NE(r.body.find("<D:getlastmodified>"), std::string::npos);

  std::string onlyType =
      "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/></D:prop></D:propfind>";
  r = request("PROPFIND", "/dir", {"Depth: 0", "Content-Type: text/xml"}, onlyType);
  ASSERT_EQ(r.status, 207);
  EXPECT_EQ(hrefs(r.body), (std::vector<std::string>{"/dir/"}));
  EXPECT_EQ(r.body.find("getlastmodified"), std::string::npos);

  EXPECT_EQ(request("PROPFIND", "/dir", {"Depth: infinity"}).status, 404);
  EXPECT_EQ(request("PROPFIND", "/missing", {"Depth: 0"}).status, 404);
  EXPECT_EQ(request("PROPFIND", "/dir", {"Depth: 0"}, "<not xml").status, 207);
}

TEST_F(WebDAVTest, CollectionsCopyMoveAndTheRoot) {
  fs::create_directories(root / "dir");
  file("dir/f.txt", "content");
  struct Case {
    std::string method, path;
    std::vector<std::string> headers;
    long status;
  } cases[] = {
      {"MKCOL", "/missing/new", {}, 409},
      {"MKCOL", "/made", {}, 200},
      {"MKCOL", "/made", {}, 405},
      {"COPY", "/dir/f.txt", {"Destination: http://" + host() + "/made/g.txt"}, 404},  // no Depth
      {"COPY",
       "/dir/f.txt",
       {"Depth: infinity", "Destination: http://" + host() + "/../../escaped.txt"},
       404},
      {"COPY",
       "/dir/f.txt",
       {"Depth: infinity", "Destination: http://" + host() + "/made/%2e%2e/%2e%2e/x.txt"},
       404},
      {"COPY", "/dir/f.txt", {"Depth: infinity", "Destination: http://" + host() + "/nowhere/g.txt"}, 409},
      {"COPY", "/dir/f.txt", {"Depth: infinity", "Destination: http://" + host() + "/made/g.txt"}, 201},
      {"COPY",
       "/dir/f.txt",
       {"Depth: infinity", "Overwrite: F", "Destination: http://" + host() + "/made/g.txt"},
       412},
      {"MOVE", "/made/g.txt", {"Destination: http://" + host() + "/made/h.txt"}, 201},
      {"COPY", "/dir/f.txt", {"Depth: infinity", "Destination: http://" + host() + "/made/h.txt"}, 204},
      {"UNLOCK", "/dir/f.txt", {}, 400},
      {"UNLOCK", "/dir/f.txt", {"Lock-Token: <urn:uuid:x>"}, 204},
      {"DELETE", "/", {}, 403},
      {"DELETE", "/nothing", {}, 404},
  };
  for (const auto& c : cases)
    EXPECT_EQ(request(c.method, c.path, c.headers).status, c.status) << c.method << " " << c.path;
  EXPECT_TRUE(fs::is_directory(root));
  EXPECT_TRUE(fs::exists(root / "dir/f.txt"));
  EXPECT_TRUE(fs::exists(root / "made/h.txt"));
  EXPECT_FALSE(fs::exists(root / "made/g.txt"));
  EXPECT_FALSE(fs::exists(root.parent_path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(root.parent_path() / "x.txt"));
  EXPECT_FALSE(fs::exists(root.parent_path().parent_path() / "escaped.txt"));
  EXPECT_EQ(request("DELETE", "/made").status, 200);
  EXPECT_FALSE(fs::exists(root / "made"));
}

TEST_F(WebDAVTest, LockAndOptions) {
  std::string lock =
      "<?xml version=\"1.0\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
      "<D:locktype><D:write/></D:locktype><D:owner><D:href>me &amp; "
      "&lt;you&gt;</D:href></D:owner></D:lockinfo>";
  auto r = request("LOCK", "/new.txt", {"Depth: 0", "Timeout: Second-<60>", "Content-Type: text/xml"}, lock);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_TRUE(fs::exists(root / "new.txt"));
  EXPECT_EQ(fs::file_size(root / "new.txt"), 0u);
  EXPECT_NE(r.body.find("<D:locktoken><D:href>urn:uuid:"), std::string::npos);
  EXPECT_NE(r.body.find("me &amp; &lt;you&gt;"), std::string::npos);
  EXPECT_NE(r.body.find("Second-&lt;60&gt;"), std::string::npos);
  xmlDocPtr doc =
      xmlReadMemory(r.body.data(), static_cast<int>(r.body.size()), nullptr, nullptr, XML_PARSE_NONET);
  EXPECT_NE(doc, nullptr);  // well-formed despite the owner text
  xmlFreeDoc(doc);

  std::string shared = lock;
  shared.replace(shared.find("exclusive"), 9, "shared");
  EXPECT_EQ(request("LOCK", "/other.txt", {"Depth: 0", "Content-Type: text/xml"}, shared).status, 403);
  EXPECT_FALSE(fs::exists(root / "other.txt"));

  r = request("OPTIONS", "/", {"User-Agent: WebDAVFS/3.0"});
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.headers.find("DAV: 1, 2\r\n"), std::string::npos) << r.headers;
  r = request("OPTIONS", "/", {"User-Agent: curl"});
  EXPECT_NE(r.headers.find("DAV: 1\r\n"), std::string::npos) << r.headers;
}

TEST_F(WebDAVTest, Uploads) {
  std::string big = patternBytes(DAVConnection::MAX_IN_MEMORY_BODY + 1);
  auto tempFiles = [] {
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
      if (e.path().filename().string().size() == 36) ++count;
    return count;
  };
  std::size_t before = tempFiles();
  EXPECT_EQ(request("PUT", "/big.bin", {}, big).status, 201);
  EXPECT_TRUE(fs::file_size(root / "big.bin") == big.size());
  EXPECT_EQ(request("GET", "/big.bin").body.size(), big.size());
  EXPECT_EQ(tempFiles(), before);
  // Replacing keeps nothing of the old file; a large body that is refused leaves no file behind.
  EXPECT_EQ(request("PUT", "/big.bin", {}, "small").status, 200);
  EXPECT_EQ(request("GET", "/big.bin").body, "small");
  fs::create_directories(root / "folder");
  file("folder/keep.txt", "keep");
  EXPECT_EQ(request("PUT", "/folder", {}, big).status, 409);
  EXPECT_EQ(request("PUT", "/", {}, "x").status, 409);
  EXPECT_TRUE(fs::exists(root / "folder/keep.txt"));
  EXPECT_EQ(tempFiles(), before);
  EXPECT_EQ(request("PUT", "/part.bin", {"Content-Range: bytes 0-4/10"}, "01234").status, 400);
  EXPECT_FALSE(fs::exists(root / "part.bin"));
  EXPECT_EQ(request("PUT", "/missing/dir/f.bin", {}, "x").status, 403);

  // A large body that cannot be stored is answered 500, and nothing is written.
  std::string tmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", (root / "no-such-folder").c_str(), 1);
  auto failed = request("PUT", "/lost.bin", {}, big);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  EXPECT_EQ(failed.status, 500);
  EXPECT_FALSE(fs::exists(root / "lost.bin"));
}

TEST_F(WebDAVTest, SymbolicLinksOutOfTheRootAreNeverFollowed) {
  // A folder beside the root, reached through links inside it: to the folder, to a file in it,
  // and to a place there that does not exist yet.
  fs::path outside = root.parent_path() / "outside";
  fs::create_directories(outside / "sub");
  ASSERT_TRUE(writeFile(outside / "secret.txt", "secret"));
  fs::create_symlink(outside, root / "out");
  fs::create_symlink(outside / "secret.txt", root / "secret-link.txt");
  fs::create_symlink(outside / "planted.txt", root / "dangling.txt");
  fs::create_directories(root / "in");
  file("in/f.txt", "inside");
  auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(outside)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  auto before = listing();
  std::string lock =
      "<?xml version=\"1.0\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
      "<D:locktype><D:write/></D:locktype></D:lockinfo>";
  auto to = [&](const std::string& path) { return "Destination: http://" + host() + path; };
  struct Case {
    std::string method, path;
    std::vector<std::string> headers;
    std::string body;
  } cases[] = {
      {"GET", "/out/secret.txt", {}, ""},
      {"GET", "/secret-link.txt", {}, ""},
      {"HEAD", "/out/secret.txt", {}, ""},
      {"PUT", "/out/new.txt", {}, "planted"},
      {"PUT", "/out/secret.txt", {}, "overwritten"},
      {"PUT", "/dangling.txt", {}, "planted"},
      {"MKCOL", "/out/made", {}, ""},
      {"DELETE", "/out/secret.txt", {}, ""},
      {"DELETE", "/out/sub", {}, ""},
      {"MOVE", "/in/f.txt", {to("/out/moved.txt")}, ""},
      {"MOVE", "/out/secret.txt", {to("/in/stolen.txt")}, ""},
      {"COPY", "/in/f.txt", {"Depth: infinity", to("/out/copied.txt")}, ""},
      {"COPY", "/out/secret.txt", {"Depth: infinity", to("/in/stolen.txt")}, ""},
      {"COPY", "/secret-link.txt", {"Depth: infinity", to("/in/stolen.txt")}, ""},
      {"LOCK", "/out/locked.txt", {"Depth: 0", "Content-Type: text/xml"}, lock},
      {"LOCK", "/dangling.txt", {"Depth: 0", "Content-Type: text/xml"}, lock},
      {"PROPFIND", "/out/secret.txt", {"Depth: 0"}, ""},
      {"UNLOCK", "/out/secret.txt", {"Lock-Token: <urn:uuid:x>"}, ""},
  };
  for (const auto& c : cases) {
    auto r = request(c.method, c.path, c.headers, c.body);
    EXPECT_TRUE(r.status == 403 || r.status == 404) << c.method << " " << c.path << ": " << r.status;
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << c.method << " " << c.path;
  }
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(pltest::readFile(outside / "secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(root / "in/stolen.txt"));
  EXPECT_EQ(pltest::readFile(root / "in/f.txt"), "inside");
  // Links that stay inside the root still work, and are listed; those that leave it are not.
  fs::create_symlink(root / "in", root / "alias");
  auto listed = request("PROPFIND", "/", {"Depth: 1"});
  ASSERT_EQ(listed.status, 207);
  auto names = hrefs(listed.body);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"/", "/alias", "/in"}));
  EXPECT_EQ(request("GET", "/alias/f.txt").body, "inside");
  EXPECT_EQ(request("PUT", "/alias/g.txt", {}, "g").status, 201);
  EXPECT_EQ(pltest::readFile(root / "in/g.txt"), "g");
}

}  // namespace
}  // namespace httptest
