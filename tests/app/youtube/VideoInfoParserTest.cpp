// The readers of the video service's replies, on their own.
#include "app/youtube/VideoInfoParser.h"

#include <gtest/gtest.h>

namespace {

using UrlMap = std::map<std::int32_t, std::string>;

TEST(VideoInfoParser, FormFieldsDecodeAndBadPairsAreDropped) {
  int dropped = -1;
  auto fields = parseFormEncoded("a=1&b=x+y%21&c&&a=2&bad=%zz&%E2%82=v&empty=&utf=%E2%82%AC", &dropped);
  EXPECT_EQ(fields, (VideoInfoFields{{"a", "1"}, {"b", "x y!"}, {"c", ""}, {"empty", ""}, {"utf", "€"}}));
  EXPECT_EQ(dropped, 2);
  EXPECT_TRUE(parseFormEncoded("").empty());
}

TEST(VideoInfoParser, StreamMapEntries) {
  struct Case {
    const char* map;
    UrlMap expected;
    int skipped;
  };
  const Case cases[] = {
      {"itag=18&url=https%3A%2F%2Fm.example%2Fv", {{18, "https://m.example/v"}}, 0},
      {"url=https%3A%2F%2Fm.example%2Fv%3Fa%3D1&itag=22&sig=AB%2BC&sp=sig",
       {{22, "https://m.example/v?a=1&sig=AB%2BC"}},
       0},
      {"itag=22&url=https%3A%2F%2Fm.example%2Fv%23frag&sig=S",
       {{22, "https://m.example/v?signature=S#frag"}},
       0},
      {"itag=18&url=https%3A%2F%2Fm.example%2Fv&s=ENC", {}, 1},
      {"itag=18&url=https%3A%2F%2Fm.example%2Fv&sig=", {}, 1},
      {"itag=1e3&url=https%3A%2F%2Fm.example%2Fv,itag=&url=https%3A%2F%2Fm.example%2Fv", {}, 2},
      {"itag=18&url=HTTPS%3A%2F%2Fm.example%2Fv,itag=18&url=https%3A%2F%2Fother%2Fv",
       {{18, "HTTPS://m.example/v"}},
       1},
      {"itag=18&url=file%3A%2F%2F%2Fetc%2Fpasswd,itag=19&url=https%3A%2F%2F%2Fx", {}, 2},
      {",,,", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.map);
    UrlMap map;
    EXPECT_EQ(addStreamMapEntries(c.map, map), c.skipped);
    EXPECT_EQ(map, c.expected);
  }
}

TEST(VideoInfoParser, WatchPagesWithoutAUsableConfigurationSaySo) {
  struct Case {
    const char* page;
    const char* error;  // nullptr: fields expected
  };
  const Case cases[] = {
      {"<script>var playerConfig = {\"args\": {\"title\": \"T\", \"length_seconds\": 65}};</script>",
       nullptr},
      {"<script>var playerConfig={\"args\":{\"title\":\"T\",\"length_seconds\":65}}</script>", nullptr},
      {"<script>x = \"var playerConfig\"; var playerConfig =\n {\"s\": \"}{\\\"\", \"args\": {\"title\": "
       "\"T\", "
       "\"length_seconds\": 65}};</script>",
       nullptr},
      {"<html></html>", "The watch page holds no player configuration"},
      {"var playerConfig = 5;", "The watch page holds no player configuration"},
      {"var playerConfig = {\"args\": {\"title\": \"T\"}", "The watch page's player configuration is broken"},
      {"var playerConfig = {\"args\": {\"title\": T}};", "The watch page's player configuration is broken"},
      {"var playerConfig = {\"argz\": {}};", "The watch page's player configuration has no arguments"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    std::string error;
    auto fields = playerArgsFromWatchPage(c.page, &error);
    if (c.error) {
      EXPECT_FALSE(fields.has_value());
      EXPECT_EQ(error, c.error);
    } else {
      ASSERT_TRUE(fields.has_value()) << error;
      EXPECT_EQ(*fields, (VideoInfoFields{{"length_seconds", "65"}, {"title", "T"}}));
    }
  }
}

}  // namespace
