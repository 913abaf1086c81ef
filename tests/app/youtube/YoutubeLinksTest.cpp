// Video ids found in links, and the records made from them.
#include "app/youtube/YoutubeLinks.h"

#include <gtest/gtest.h>

#include "app/youtube/YoutubeSupport.h"
#include "platform/security/Random.h"

namespace {

TEST(YoutubeLinks, VideoIdsComeFromWatchAndShortLinksOnly) {
  struct Case {
    std::string text;
    std::optional<std::string> id;
  };
  const std::vector<Case> cases = {
      {"https://www.youtube.com/watch?feature=x&v=abc_DEF-123#t=1", "abc_DEF-123"},
      {"https://www.youtube.com/watch?v=dQw4w9WgXcQ", "dQw4w9WgXcQ"},
      {"http://youtube.com/watch?v=dQw4w9WgXcQ&list=PL1&index=2", "dQw4w9WgXcQ"},
      {"HTTPS://M.YouTube.com/watch?v=dQw4w9WgXcQ", "dQw4w9WgXcQ"},
      {"  www.youtube.com/watch?v=dQw4w9WgXcQ\n", "dQw4w9WgXcQ"},
      {"https://youtu.be/Ab12_-xyZ9?t=30", "Ab12_-xyZ9"},
      {"https://youtu.be/Ab12_-xyZ9#t=30", "Ab12_-xyZ9"},
      {"youtu.be/Ab12_-xyZ9", "Ab12_-xyZ9"},
      {"https://www.youtube.com/"
       "redirect?url=https%3A%2F%2Fwww.youtube.com%2Fwatch%3Fv%3DxYz_987-abc%26feature%3Dshare",
       "xYz_987-abc"},
      {"https://www.youtube.com/redirect?event=x&url=https%3A%2F%2Fyoutu.be%2FxYz_987-abc", "xYz_987-abc"},
      // No video in the link.
      {"https://www.youtube.com/playlist?list=PLabcdef", std::nullopt},
      {"https://www.youtube.com/watch?v=../../x", std::nullopt},
      {"https://www.youtube.com/watch?v=", std::nullopt},
      {"https://www.youtube.com/watch?v", std::nullopt},
      {"https://www.youtube.com/watch?vv=abc", std::nullopt},
      {"https://www.youtube.com/watch?v=a%2Fb", std::nullopt},
      {"https://www.youtube.com/watch?v=日本", std::nullopt},
      {"https://youtu.be/", std::nullopt},
      {"https://youtu.be/a/b", std::nullopt},
      {"https://youtu.be/..", std::nullopt},
      {"https://example.com/watch?v=dQw4w9WgXcQ", std::nullopt},
      {"https://www.youtube.com.evil.example/watch?v=dQw4w9WgXcQ", std::nullopt},
      {"https://www.youtube.com/redirect?url=%zz", std::nullopt},
      {"https://www.youtube.com/redirect?q=nothing", std::nullopt},
      {"v=dQw4w9WgXcQ", std::nullopt},
      {"just some words", std::nullopt},
      {"", std::nullopt},
      {std::string("https://youtu.be/ab\0cd", 22), std::nullopt},
      {"https://www.youtube.com/watch?v=" + std::string(100, 'a'), std::nullopt},
      {"https://www.youtube.com/watch?v=dQw4w9WgXcQ&x=" + std::string(1 << 20, 'a'), std::nullopt},
      {std::string(1 << 20, '%'), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::optional<std::string> id;
    EXPECT_NO_THROW(id = videoIdFromYoutubeLink(c.text));
    EXPECT_EQ(id, c.id);
    ns::Ref<YoutubeSupport> record;
    EXPECT_NO_THROW(record = YoutubeSupport::initWithYoutubeUrl(c.text));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->videoid(), c.id);
    EXPECT_TRUE(record->urlMap().empty());
    EXPECT_TRUE(record->videoInfo().empty());
    EXPECT_FALSE(record->error().has_value());
  }
}

TEST(YoutubeLinks, RandomBytesNeverThrow) {
  for (int i = 0; i < 200; ++i) {
    std::string text = sec::randomBytes(1 + i * 7);
    if (i % 3 == 0) text = "https://www.youtube.com/watch?" + text;
    if (i % 3 == 1) text = "https://www.youtube.com/redirect?url=" + text;
    std::optional<std::string> id;
    ASSERT_NO_THROW(id = videoIdFromYoutubeLink(text));
    if (id) {
      // Whatever is found is usable as a file name.
      EXPECT_EQ(id->find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_"),
                std::string::npos);
    }
  }
}

}  // namespace
