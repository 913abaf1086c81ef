// The bookmarks document's import into a real library file in a sandbox: elements of other types
// left out, only regular files of sane size read, and missing fields clearing what was stored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/library/BookmarkDocument.h"
#include "app/library/DBAccess.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Pump.h"
#include "tests/app/library/BookmarkRows.h"
#include "tests/app/library/LibrarySandbox.h"

namespace {

namespace fs = std::filesystem;

class BookmarkDocumentTest : public ::testing::Test {
 protected:
  BookmarkDocumentTest() { fs::create_directories(folder); }

  LibrarySandbox sandbox;
  fs::path folder = sandbox.root() / "exports";
};

TEST_F(BookmarkDocumentTest, ElementsOfOtherTypesAreLeftOutAndTheRestCounted) {
  struct Case {
    const char* document;
    int count;
  };
  const Case cases[] = {
      {"[1, 2]", 0},
      {R"({"bookmarks": 5})", 0},
      {R"({"bookmarks": []})", 0},
      {R"({"bookmarks": [5, "x", null, [], {"videoid": "a", "pos1": 1}]})", 1},
      {R"({"bookmarks": [{"pos1": 1}, {"videoid": 7}, {"videoid": ""}, {"videoid": "b", "pos1": "2.5"}]})",
       1},
      {R"({"bookmarks": [{"videoid": "c", "pos1": [1]}, {"videoid": "c", "pos1": "soon"},
          {"videoid": "c", "pos1": 1e300}, {"videoid": "c", "comment": 5}, {"videoid": "c", "startend": "x"},
          {"videoid": "c", "pos1": null, "pos2": 3}]})",
       1},
  };
  auto access = DBAccess::getInstance();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    fs::path file = folder / "case.json";
    std::ofstream(file, std::ios::trunc) << c.document;
    EXPECT_EQ(importBookmarksFromFile(file.string(), access), c.count);
  }
  EXPECT_EQ(bookmarkRows(),
            (std::vector<std::string>{"a|1.000000|0.000000||<null>", "b|2.500000|0.000000||<null>",
                                      "c|0.000000|3.000000||<null>"}));
}

TEST_F(BookmarkDocumentTest, OnlyARegularFileOfSaneSizeIsRead) {
  // A pipe picked in the panel: reading it would wait for a writer that never comes.
  fs::path pipe = folder / "pipe.json";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  auto access = DBAccess::getInstance();
  auto done = std::async(std::launch::async, [&] { return importBookmarksFromFile(pipe.string(), nullptr); });
  bool returned = pltest::pumpUntil(
      [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30);
  if (!returned) {
    // Lets a blocked reader go so that the test ends.
    int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  EXPECT_TRUE(returned);
  EXPECT_EQ(done.get(), 0);

  // A large file picked by mistake is not read whole, even when it holds a valid document.
  fs::path large = folder / "large.json";
  {
    std::ofstream out(large);
    out << R"({"bookmarks": [{"videoid": "big", "pos1": 1}]})";
    std::string blanks(1 << 20, ' ');
    for (int i = 0; i < 33; ++i) out << blanks;
  }
  EXPECT_EQ(importBookmarksFromFile(large.string(), access), 0);
  EXPECT_TRUE(bookmarkRows().empty());
}

TEST_F(BookmarkDocumentTest, AnElementWithoutCommentOrMarkerClearsThem) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("v", 5, 0, "s");
  access->addBookmark_startPos_endPos_comment("v", 5, 0, "old");
  fs::path file = folder / "bare.json";
  std::ofstream(file) << R"({"bookmarks": [{"videoid": "v", "pos1": 5, "pos2": 0}]})";
  EXPECT_EQ(importBookmarksFromFile(file.string(), access), 1);
  EXPECT_EQ(bookmarkRows(), std::vector<std::string>{"v|5.000000|0.000000||<null>"});
}

TEST_F(BookmarkDocumentTest, TheExportEscapesOnlyWhatJSONNeedsAndMendsBrokenText) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("a/b", 1.5f, 0, "s");
  access->addBookmark_startPos_endPos_comment("a/b", 1.5f, 0,
                                              std::string("q\"\\ /\t\x01\x1f\x7f \xC3\xA9 \xFF"));
  std::string text = access->getAllBookmarksAsJson();
  const std::string row =
      "  {\"videoid\":\"a/b\", \"pos1\":1.5, \"pos2\":0, \"startend\":\"s\", "
      "\"comment\":\"q\\\"\\\\ /\\t\\u0001\\u001f\x7f \xC3\xA9 \xEF\xBF\xBD\"}\n";
  EXPECT_NE(text.find("\"bookmarks\" : [\n" + row + "] }"), std::string::npos) << text;
  // What the reader makes of it is what was stored, but for the byte that was no UTF-8.
  ns::Value document = ns::JSONSerialization::JSONObjectWithString(text);
  ASSERT_TRUE(document.isDictionary()) << text;
  EXPECT_EQ(document["bookmarks"][0]["comment"].string(),
            std::string("q\"\\ /\t\x01\x1f\x7f \xC3\xA9 \xEF\xBF\xBD"));
}

}  // namespace
