// Fetch logging: nothing while off; when on, a run folder in the sandbox's Desktop with the HTML
// index, a text file per fetch, reply bodies (XML through a real xmllint), the newest-log link,
// and tokens, secrets and keys cut from everything written.
#include "tests/lib/google/FetcherTestSupport.h"

#include <sys/stat.h>

#include "lib/google/NetHTTPFetcherLogging.h"
#include "platform/foundation/Stream.h"

using namespace fetchertest;
using pltest::FakeReply;
namespace fs = std::filesystem;

namespace {

class FetcherLogging : public FetcherTest {
 protected:
  FetcherLogging() {
    NetHTTPFetcherLogging::setLoggingDirectory(std::nullopt);  // back to the sandbox's Desktop
    NetHTTPFetcherLogging::setLoggingProcessName("Pelorin Test");
    NetHTTPFetcherLogging::setLoggingDateStamp("12-07_04-10-00AM");
    NetHTTPFetcherLogging::setLoggingToFileEnabled(true);
  }
  ~FetcherLogging() override {
    NetHTTPFetcherLogging::setLoggingEnabled(false);
    NetHTTPFetcherLogging::setLoggingDirectory(std::nullopt);
  }

  fs::path logsFolder() const { return sandbox_.home() / "Desktop" / "NetHTTPDebugLogs"; }
  fs::path runFolder(const std::string& suffix = "") const {
    return logsFolder() / ("Pelorin_Test_log_12-07_04-10-00AM" + suffix);
  }

  // Runs one fetch to its end and answers the fetcher.
  ns::Ref<NetHTTPFetcher> fetch(const std::string& path,
                                const std::function<void(NetHTTPFetcher&)>& prepare = {}) {
    auto fetcher = fetcherFor(path);
    if (prepare) prepare(*fetcher);
    Outcome outcome;
    EXPECT_TRUE(fetchToEnd(fetcher, outcome));
    drainRunLoop();
    return fetcher;
  }

  // The one text file of a run folder.
  std::string onlyTextLog(const fs::path& folder) const {
    std::vector<std::string> texts;
    for (const auto& f : filesNamed(folder, "fetch_"))
      if (f.size() > 4 && f.substr(f.size() - 4) == ".txt") texts.push_back(f);
    EXPECT_EQ(texts.size(), 1u);
    return texts.empty() ? std::string() : readFile(texts[0]);
  }
};

TEST_F(FetcherLogging, OffMakesNoFolderAndKeepsNoLog) {
  server_.canned("GET", "/feed", FakeReply::json(200, R"({"access_token":"tok"})"));
  NetHTTPFetcherLogging::setLoggingEnabled(false);
  auto fetcher = fetch("/feed");
  EXPECT_EQ(fetcher->statusCode(), 200);
  EXPECT_FALSE(fetcher->log());
  EXPECT_FALSE(fs::exists(sandbox_.home() / "Desktop"));
}

TEST_F(FetcherLogging, OnWritesTextHtmlAndNewestLinkWithTokensAndAuthorizationCut) {
  server_.canned("POST", "/token",
                 FakeReply::json(200, R"({"access_token":"AT-1","refresh_token":"RT-2","id_token":"ID-3",)"
                                      R"("expires_in":3600})"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  auto fetcher = fetch("/token", [](NetHTTPFetcher& f) {
    f.mutableRequest()->setValue_forHTTPHeaderField("Bearer x", "Authorization");
    f.mutableRequest()->setValue_forHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    f.setComment("token request");
    f.setPostData(
        ns::Data(std::string("grant_type=authorization_code&code=4/SECRETCODE&client_id=app"
                             "&client_secret=SHH&redirect_uri=x")));
  });

  ASSERT_TRUE(fs::is_directory(runFolder()));
  struct stat st;
  ASSERT_EQ(::stat(logsFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::string text = onlyTextLog(runFolder());
  ASSERT_TRUE(fetcher->log());
  EXPECT_EQ(*fetcher->log(), text);
  for (const char* secret : {"AT-1", "RT-2", "ID-3", "SECRETCODE", "SHH", "Bearer x"})
    EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
  for (const char* kept :
       {"token request", "Request: POST ", "/token", "Authorization: Bearer _snip_",
        "client_id=app&client_secret=_snip_&redirect_uri=x", "code=_snip_&", "Response: status 200",
        "\"access_token\" : \"_snip_\"", "\"expires_in\" : 3600", "Response body: (",
        "-----------------------------------------------------------\n"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept << " not in\n" << text;

  std::string html = readFile(runFolder() / NetHTTPFetcherLogging::htmlFileName());
  EXPECT_EQ(html.rfind("<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">"
                       "<title>Pelorin_Test HTTP fetch log 12-07_04-10-00AM</title>",
                       0),
            0u);
  EXPECT_NE(html.find("authorized"), std::string::npos);
  EXPECT_NE(html.find("<br><hr><p>"), std::string::npos);
  EXPECT_NE(html.find("token request"), std::string::npos);
  EXPECT_EQ(NetHTTPFetcherLogging::htmlFileName(), "aper\xC3\xA7u_http_log.html");

  fs::path link = logsFolder() / "Pelorin_Test_log_newest.html";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), runFolder() / NetHTTPFetcherLogging::htmlFileName());

  // A second fetch goes into the same folder and HTML file, with one head.
  fetch("/token");
  html = readFile(runFolder() / NetHTTPFetcherLogging::htmlFileName());
  EXPECT_EQ(html.find("<html>", 1), std::string::npos);
  EXPECT_EQ(filesNamed(runFolder(), "fetch_").size(), 4u) << "two text files and two JSON bodies";
}

TEST_F(FetcherLogging, AtomBodyIsSavedAsXmlReformattedByXmllint) {
  ASSERT_TRUE(fs::exists("/usr/bin/xmllint")) << "libxml2-utils is installed by scripts/setup.sh";
  server_.canned("GET", "/feed",
                 FakeReply::text(200, R"(<?xml version="1.0"?><feed><entry><id>1</id></entry></feed>)",
                                 "application/atom+xml"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  auto fetcher = fetch("/feed");
  std::vector<std::string> xml;
  for (const auto& f : filesNamed(runFolder(), "fetch_"))
    if (f.size() > 4 && f.substr(f.size() - 4) == ".xml") xml.push_back(f);
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_NE(xml[0].find("_response.xml"), std::string::npos);
  std::string saved = readFile(xml[0]);
  EXPECT_NE(saved.find("<feed>\n  <entry>\n    <id>1</id>\n  </entry>\n</feed>"), std::string::npos) << saved;
  EXPECT_NE(fetcher->log()->find("  <entry>\n"), std::string::npos);
  std::string html = readFile(runFolder() / NetHTTPFetcherLogging::htmlFileName());
  EXPECT_NE(html.find(fs::path(xml[0]).filename().string()), std::string::npos)
      << "the data line links the body";
}

struct ReplyFileCase {
  std::string type;
  std::string body;
  std::string fileSuffix;  // empty: no body file
  std::string contents;
};

TEST_F(FetcherLogging, ReplyBodiesGetFilesByType) {
  std::string png("\x89PNG\r\n\x1a\n\x00\xff", 10);
  std::vector<ReplyFileCase> cases = {
      {"image/png", png, "_response.png", png},
      {"image/jpeg", "\xff\xd8\xff", "_response.jpg", "\xff\xd8\xff"},
      {"text/plain", "plain words", "_response", "plain words"},
      {"application/json", R"({"access_token":"AT","n":1})", "_response",
       "{\n  \"access_token\" : \"_snip_\",\n  \"n\" : 1\n}"},
      {"application/octet-stream", "\x01\xfe\xff", "", ""},
  };
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    std::string path = "/r" + std::to_string(i);
    server_.canned("GET", path, FakeReply::text(200, c.body, c.type));
    NetHTTPFetcherLogging::setLoggingDirectory(sandbox_.path("logs" + std::to_string(i)));
    fetch(path);
    std::vector<std::string> bodies;
    for (const auto& f : filesNamed(sandbox_.path("logs" + std::to_string(i)), "fetch_"))
      if (f.find("_response") != std::string::npos) bodies.push_back(f);
    if (c.fileSuffix.empty()) {
      EXPECT_TRUE(bodies.empty()) << c.type;
      continue;
    }
    ASSERT_EQ(bodies.size(), 1u) << c.type;
    EXPECT_TRUE(bodies[0].size() > c.fileSuffix.size() &&
                bodies[0].substr(bodies[0].size() - c.fileSuffix.size()) == c.fileSuffix)
        << bodies[0];
    EXPECT_EQ(readFile(bodies[0]), c.contents) << c.type;
  }
}

TEST_F(FetcherLogging, ASecondRunWithTheSameDateStampWritesIntoTheNextSuffix) {
  server_.canned("GET", "/a", FakeReply::text(200, "one"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  fetch("/a");
  ASSERT_TRUE(fs::is_directory(runFolder()));
  // A new run (the directory set again) finds the folder of the first and takes "_2", then "_3".
  NetHTTPFetcherLogging::setLoggingDirectory(logsFolder().string());
  fetch("/a");
  ASSERT_TRUE(fs::is_directory(runFolder("_2")));
  EXPECT_FALSE(onlyTextLog(runFolder("_2")).empty());
  NetHTTPFetcherLogging::setLoggingDirectory(logsFolder().string());
  fetch("/a");
  EXPECT_TRUE(fs::is_directory(runFolder("_3")));
  EXPECT_EQ(fs::read_symlink(logsFolder() / "Pelorin_Test_log_newest.html"),
            runFolder("_3") / NetHTTPFetcherLogging::htmlFileName());
}

TEST_F(FetcherLogging, StreamedBodyIsCapturedThroughTheReadMonitor) {
  server_.canned("POST", "/upload", FakeReply::text(200, "ok"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  std::string body = "name=clip&Passwd=hunter2&size=3";
  auto fetcher = fetch("/upload", [&](NetHTTPFetcher& f) {
    f.mutableRequest()->setValue_forHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    f.setPostStream(ns::InputStream::inputStreamWithData(ns::Data(body)));
  });
  auto sent = requestsTo("/upload");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].body, body) << "the monitor passes every byte on";
  std::string text = onlyTextLog(runFolder());
  EXPECT_NE(text.find("Request body: (31 bytes)\nname=clip&Passwd=_snip_&size=3"), std::string::npos) << text;
}

TEST_F(FetcherLogging, WithoutFileLoggingOnlyTheLogIsKept) {
  server_.canned("GET", "/a", FakeReply::text(200, "hello"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  NetHTTPFetcherLogging::setLoggingToFileEnabled(false);
  auto fetcher = fetch("/a");
  ASSERT_TRUE(fetcher->log());
  EXPECT_NE(fetcher->log()->find("Response body: (5 bytes)\nhello\n"), std::string::npos) << *fetcher->log();
  EXPECT_FALSE(fs::exists(runFolder()));
}

TEST_F(FetcherLogging, DeferredEntryIsWrittenWhenDeferringEndsWithTheGivenTexts) {
  server_.canned("POST", "/a", FakeReply::text(200, "raw reply"));
  NetHTTPFetcherLogging::setLoggingEnabled(true);
  auto fetcher = fetch("/a", [](NetHTTPFetcher& f) {
    f.setPostData(ns::Data(std::string("real request")));
    NetHTTPFetcherLogging::setShouldDeferResponseBodyLogging(f, true);
    NetHTTPFetcherLogging::setLogRequestBody(f, "<<request shown instead>>");
  });
  EXPECT_FALSE(fetcher->log()) << "no entry while deferred";
  EXPECT_TRUE(filesNamed(logsFolder(), "fetch_").empty());

  NetHTTPFetcherLogging::setLogResponseBody(*fetcher, "<<reply shown instead>>");
  NetHTTPFetcherLogging::setShouldDeferResponseBodyLogging(*fetcher, false);
  EXPECT_FALSE(fetcher->log()) << "written later on the main thread, not inside the call";
  ASSERT_TRUE(pltest::pumpUntil([&] { return fetcher->log().has_value(); }));
  std::string text = *fetcher->log();
  EXPECT_NE(text.find("Request body: (12 bytes)\n<<request shown instead>>\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Response body: (9 bytes)\n<<reply shown instead>>\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("raw reply"), std::string::npos);
  EXPECT_FALSE(NetHTTPFetcherLogging::logResponseBody(*fetcher)) << "cleared once written";
  EXPECT_EQ(onlyTextLog(runFolder()), text);
}

struct BodyCase {
  std::string name;
  std::string body;
  std::optional<std::string> type;
  std::string shown;
};

TEST(FetcherLoggingText, RequestBodiesAreShownWithSecretsCutAndBinaryReplaced) {
  std::vector<BodyCase> cases = {
      {"form secret between fields", "a=1&client_secret=S&b=2", "application/x-www-form-urlencoded",
       "a=1&client_secret=_snip_&b=2"},
      {"refresh token and password", "refresh_token=R&x=1&Passwd=P", std::nullopt,
       "refresh_token=_snip_&x=1&Passwd=_snip_"},
      {"jwt assertion", "grant_type=jwt&assertion=eyJ.x.y", std::nullopt, "grant_type=jwt&assertion=_snip_"},
      {"a token reply in form text", "access_token=A&expires_in=3600&id_token=I", std::nullopt,
       "access_token=_snip_&expires_in=3600&id_token=_snip_"},
      {"API key of a JSON-RPC body", R"([{"method":"m","key":"AIzaK","id":"1"}])", "application/json",
       "[\n  {\n    \"method\" : \"m\",\n    \"key\" : \"_snip_\",\n    \"id\" : \"1\"\n  }\n]"},
      {"not UTF-8",
       std::string("ab\xff\x00"
                   "c",
                   5),
       std::nullopt, "ab__c"},
      {"multipart with a binary part",
       std::string("--B\r\nContent-Type: text/plain\r\n\r\nhi\r\n--B\r\nContent-Type: "
                   "image/png\r\n\r\n\x89PNG\xff\r\n--B--"),
       std::nullopt,
       "--B\r\nContent-Type: text/plain\r\n\r\nhi\r\n--B\r\nContent-Type: image/png\r\r<<7 bytes>>\r--B--"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NetHTTPFetcherLogging::stringFromStreamData_contentType(ns::Data(c.body), c.type), c.shown)
        << c.name;
}

TEST(FetcherLoggingText, SnippingAndHeaders) {
  struct SnipCase {
    std::string text, start, end, result;
  };
  for (const auto& c : std::vector<SnipCase>{{"a=1&b=2&c=3", "b=", "&", "a=1&b=_snip_&c=3"},
                                             {"a=1&b=2", "b=", "&", "a=1&b=_snip_"},
                                             {"a=1", "z=", "&", "a=1"}})
    EXPECT_EQ(
        NetHTTPFetcherLogging::snipSubstringOfString_betweenStartString_endString(c.text, c.start, c.end),
        c.result);

  ns::HTTPHeaderFields headers{
      {"Accept", "*/*"}, {"Authorization", "Bearer ya29.token"}, {"X-Other", "Bearer visible"}};
  EXPECT_EQ(NetHTTPFetcherLogging::headersStringForDictionary(headers),
            "  Accept: */*\n  Authorization: Bearer _snip_\n  X-Other: Bearer visible\n");
  for (const auto& [value, shown] : std::vector<std::pair<std::string, std::string>>{
           {"OAuth abc", "OAuth _snip_"},
           {"GoogleLogin auth=abc", "GoogleLogin auth=_snip_"},
           {"OAuth oauth_token=\"abc\", oauth_version=\"1.0\"", "OAuth _snip_"}}) {
    ns::HTTPHeaderFields one{{"Authorization", value}};
    EXPECT_EQ(NetHTTPFetcherLogging::headersStringForDictionary(one), "  Authorization: " + shown + "\n")
        << value;
  }
  EXPECT_FALSE(NetHTTPFetcherLogging::formattedStringFromData_contentType_JSON(std::nullopt, std::nullopt));
  EXPECT_FALSE(NetHTTPFetcherLogging::formattedStringFromData_contentType_JSON(
      ns::Data(std::string("\xff\xfe")), std::nullopt));
}

}  // namespace
