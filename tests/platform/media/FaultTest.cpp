#include <fstream>

#include "platform/dispatch/Queue.h"

#include "platform/net/URLErrorCodes.h"
#include "tests/platform/media/MediaTestSupport.h"

namespace media_test {
namespace {

// A copy of the clip's first `fraction` of bytes.
std::filesystem::path truncatedCopy(const pltest::Sandbox& sandbox, const std::filesystem::path& path,
                                    double fraction, const std::string& name) {
  std::string bytes = pltest::readMedia(path);
  auto target = sandbox.temporaryFolder("media") / name;
  std::ofstream(target, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size() * fraction));
  return target;
}

TEST_F(PlayerTest, ItemsThatCannotLoadFail) {
  auto whole = clip(2);
  server.canned("GET", "/missing.mp4", pltest::FakeReply::text(404, "not found"));
  struct Case {
    std::string name;
    std::string url;
  };
  const Case cases[] = {
      {"404", server.URLForPath("/missing.mp4")},
      {"lavfi", "lavfi://color=c=red"},
      {"ftp", "ftp://127.0.0.1/clip.mp4"},
      {"missing file", ns::URL::fileURLWithPath(sandbox.path("nothing.mp4"))->absoluteString()},
      {"folder", ns::URL::fileURLWithPath(sandbox.root().string())->absoluteString()},
      {"file on another host", "file://elsewhere" + whole.string()},
      {"file cut inside its header",
       ns::URL::fileURLWithPath(truncatedCopy(sandbox, whole, 0.01, "header.mp4").string())
           ->absoluteString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto item = av::PlayerItem::initWithURL(ns::URL::URLWithString(c.url));
    ASSERT_TRUE(item);
    auto player = av::Player::initWithPlayerItem(item);
    player->play();
    ASSERT_TRUE(pltest::pumpUntil([&] { return item->status() != av::PlayerItemStatusUnknown; }, kWait));
    EXPECT_EQ(item->status(), av::PlayerItemStatusFailed);
    ASSERT_TRUE(item->error().has_value());
    EXPECT_FALSE(item->error()->localizedDescription().empty());
    EXPECT_EQ(player->rate(), 0.0f);
  }
  // Nothing but the 404 reached the server: the other schemes never left the process.
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(PlayerTest, UnsupportedSchemesFailAtOnce) {
  auto item = av::PlayerItem::initWithURL(ns::URL::URLWithString("lavfi://testsrc"));
  auto player = av::Player::initWithPlayerItem(item);
  EXPECT_EQ(item->status(), av::PlayerItemStatusFailed);
  ASSERT_TRUE(item->error().has_value());
  EXPECT_EQ(item->error()->domain(), ns::NSURLErrorDomain);
  EXPECT_EQ(item->error()->code(), ns::URLErrorUnsupportedURL);
  EXPECT_EQ(player->status(), av::PlayerStatusUnknown);  // the player itself still works
}

// A stream that ends before the media does (a connection closed early, a file cut short) fails
// the item; it is never reported as played to the end.
TEST_F(PlayerTest, StreamsCutShortFailInsteadOfEnding) {
  auto whole = clip(6);
  std::string bytes = pltest::readMedia(whole);
  server.canned("GET", "/cut.mp4",
                pltest::FakeReply::cutShort(bytes.substr(0, bytes.size() * 6 / 10),
                                            static_cast<long long>(bytes.size()))
                    .header("Content-Type", "video/mp4"));
  auto shortFile = truncatedCopy(sandbox, whole, 0.6, "short.mp4");
  struct Case {
    std::string name;
    ns::Ref<ns::URL> url;
  };
  const Case cases[] = {{"connection closed", ns::URL::URLWithString(server.URLForPath("/cut.mp4"))},
                        {"truncated file", ns::URL::fileURLWithPath(shortFile.string())}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto item = av::PlayerItem::initWithURL(c.url);
    ItemNotes notes(item);
    auto player = av::Player::initWithPlayerItem(item);
    ASSERT_TRUE(waitReady(item));
    EXPECT_NEAR(seconds(item->duration()), 6.0, 0.05);
    // Start shortly before the cut so that the test plays for a moment only.
    std::optional<bool> sought;
    player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
        cm::TimeMakeWithSeconds(2.6, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) { sought = done; });
    ASSERT_TRUE(pltest::pumpUntil([&] { return sought.has_value(); }, kWait));
    player->play();
    ASSERT_TRUE(pltest::pumpUntil([&] { return item->status() == av::PlayerItemStatusFailed; }, kWait));
    EXPECT_EQ(notes.count(av::AVPlayerItemFailedToPlayToEndTimeNotification), 1u);
    EXPECT_EQ(notes.count(av::AVPlayerItemDidPlayToEndTimeNotification), 0u);
    ASSERT_TRUE(item->error().has_value());
    ASSERT_FALSE(notes.userInfos.empty());
    auto posted = ns::Error::fromValue(
        notes.userInfos.back()[ns::Value(av::AVPlayerItemFailedToPlayToEndTimeErrorKey)]);
    ASSERT_TRUE(posted.has_value());
    EXPECT_EQ(*posted, *item->error());
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_LT(seconds(player->currentTime()), 5.0);
  }
}

TEST_F(PlayerTest, StalledStreamEmptiesTheBufferUntilReleased) {
  auto whole = clip(6);
  std::string bytes = pltest::readMedia(whole);
  server.canned(
      "GET", "/stall.mp4",
      pltest::FakeReply::stalled(bytes.substr(0, bytes.size() * 3 / 10), static_cast<long long>(bytes.size()))
          .header("Content-Type", "video/mp4"));
  auto item = av::PlayerItem::initWithURL(ns::URL::URLWithString(server.URLForPath("/stall.mp4")));
  ItemNotes notes(item);
  auto buffer =
      pltest::KeyValueRecorder::observe(item.get(), {"playbackLikelyToKeepUp", "playbackBufferEmpty"});
  auto player = av::Player::initWithPlayerItem(item);
  ASSERT_TRUE(waitReady(item));
  // Begin near where the bytes stop.
  std::optional<bool> sought;
  player->seekToTime_toleranceBefore_toleranceAfter_completionHandler(
      cm::TimeMakeWithSeconds(1.0, 600), cm::kTimeZero, cm::kTimeZero, [&](bool done) { sought = done; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return sought.has_value(); }, kWait));
  player->play();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return notes.count(av::AVPlayerItemPlaybackStalledNotification) > 0; }, kWait));
  EXPECT_TRUE(item->isPlaybackBufferEmpty());
  EXPECT_FALSE(item->isPlaybackLikelyToKeepUp());
  EXPECT_FALSE(item->isPlaybackBufferFull());
  EXPECT_EQ(notes.count(av::AVPlayerItemPlaybackStalledNotification), 1u);
  EXPECT_EQ(player->rate(), 1.0f);  // still meant to play
  server.release();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return !item->isPlaybackBufferEmpty() && item->isPlaybackLikelyToKeepUp(); }, kWait));
  EXPECT_GE(buffer->count("playbackBufferEmpty"), 2u);
  EXPECT_TRUE(buffer->allOnMainThread());
  EXPECT_EQ(notes.count(av::AVPlayerItemDidPlayToEndTimeNotification), 0u);
}

// A player let go while its stream is stalled does not wait for the stream.
TEST_F(PlayerTest, PlayerLetGoWhileStalled) {
  auto whole = clip(6);
  std::string bytes = pltest::readMedia(whole);
  server.canned(
      "GET", "/stall.mp4",
      pltest::FakeReply::stalled(bytes.substr(0, bytes.size() / 5), static_cast<long long>(bytes.size()))
          .header("Content-Type", "video/mp4"));
  auto item = av::PlayerItem::initWithURL(ns::URL::URLWithString(server.URLForPath("/stall.mp4")));
  ItemNotes notes(item);
  auto player = av::Player::initWithPlayerItem(item);
  ASSERT_TRUE(waitReady(item));
  player->play();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return notes.count(av::AVPlayerItemPlaybackStalledNotification) > 0; }, kWait));
  player.reset();
  // Nothing arrives for the item after its player went.
  std::size_t posted = notes.names.size();
  server.release();
  // Whatever mpv announced before it went has been queued ahead of this.
  bool drained = false;
  dispatch::async(dispatch::mainQueue(), [&] { drained = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return drained; }, kWait));
  EXPECT_EQ(notes.names.size(), posted);
  EXPECT_EQ(item->status(), av::PlayerItemStatusReadyToPlay);
}

}  // namespace
}  // namespace media_test
