// The real `pelorin` on a virtual display against fakes on 127.0.0.1: its window appears under
// its title, its title bar is the tiled "top_bar" image and the player area is black.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/shell/PLMAppDelegate.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testing/TestMedia.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeVideoService.h"

namespace {

using onscreen::allowAudioLibraryLeaks;
using onscreen::Geometry;
using onscreen::kTitleBar;
using onscreen::MainWindow;
using onscreen::mainWindow;
using onscreen::near;
using onscreen::PelorinProcess;
using onscreen::pelorinWindow;
using onscreen::quietEndpoints;

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What the run started in this sandbox has logged so far.
std::string logText(const pltest::Sandbox& sandbox) {
  std::ifstream in(sandbox.path("pelorin.log"));
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PelorinOnScreen, TheWindowAppearsWithTheTiledTitleBarAndABlackPlayer) {
  pltest::OnScreenApp screen;  // the display, a sandbox and the pump
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  sandbox.set("CrashReporting", "0");
  sandbox.set("CrashSubmission", "0");
  for (const char* key :
       {"PELORIN_VIDEO_SERVICE_URL", "PELORIN_SUGGEST_URL", "PELORIN_GOOGLE_API_URL", "PELORIN_OAUTH_URL",
        "PELORIN_LEGACY_FEED_URL", "PELORIN_PROFILE_PHOTO_URL", "CrashReporterAPIEndpoint"})
    sandbox.set(key, sink.baseURL());
  sandbox.set("PELORIN_MAKER_HOST", "127.0.0.1:" + std::to_string(sink.port()));
  PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);

  std::optional<Geometry> listed;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (listed = pelorinWindow()).has_value(); }, 60));
  EXPECT_EQ(listed->width, 1100);

  GError* error = nullptr;
  GdkPixbuf* tile = gdk_pixbuf_new_from_file(PELORIN_SOURCE_DIR "/resources/top_bar.png", &error);
  ASSERT_TRUE(tile) << (error ? error->message : "");
  const int tileWidth = gdk_pixbuf_get_width(tile), channels = gdk_pixbuf_get_n_channels(tile);
  const int stride = gdk_pixbuf_get_rowstride(tile);
  const guchar* tilePixels = gdk_pixbuf_read_pixels(tile);
  ASSERT_EQ(gdk_pixbuf_get_height(tile), 55);

  // The bar's rows, between the window buttons and the user button, once drawn (the window is
  // looked up again each time: it may be placed after it is first listed).
  const int width = 400;
  std::optional<MainWindow> window;
  auto titleBarMatches = [&](std::string* why) {
    if (!(window = mainWindow())) {
      if (why) *why = "no title bar drawn";
      return false;
    }
    const int left = window->x + 300;
    auto shot = pltest::screenPixels(left, window->titleBarTop, width, kTitleBar);
    for (int row = 0; row < kTitleBar - 1; ++row) {
      for (int column = 0; column < width; column += 7) {
        const int x = (300 + column) % tileWidth;
        const guchar* expected = tilePixels + row * stride + x * channels;
        const auto& seen = shot[row * width + column];
        if (!near(seen, expected[0], expected[1], expected[2], 3)) {
          if (why)
            *why = "row " + std::to_string(row) + ": " + std::to_string(seen.r) + "," +
                   std::to_string(seen.g) + "," + std::to_string(seen.b) + " for " +
                   std::to_string(expected[0]) + "," + std::to_string(expected[1]) + "," +
                   std::to_string(expected[2]);
          return false;
        }
      }
    }
    return true;
  };
  const bool matched = pltest::pumpUntil([&] { return titleBarMatches(nullptr); }, 60);
  std::string why;
  if (!matched) titleBarMatches(&why);
  EXPECT_TRUE(matched) << why;
  g_object_unref(tile);
  ASSERT_TRUE(window);

  // The player's centre: right of the browse pane, between the bars.
  EXPECT_TRUE(near(pltest::screenPixel(window->playerCentreX(), window->playerCentreY()), 0, 0, 0, 3));

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

// Another program destroys the main window (as `xdotool windowclose` does): the run ends as
// closing the window ends it, with status 0.
TEST(PelorinOnScreen, TheMainWindowDestroyedByAnotherProgramEndsTheRun) {
  pltest::OnScreenApp screen;
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  quietEndpoints(sandbox, sink);
  auto log = [&] { return logText(sandbox); };
  PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);
  std::optional<MainWindow> window;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (window = mainWindow()).has_value(); }, 60)) << log();

  run("xdotool windowclose " + window->id);
  const auto status = pelorin.waitForExit(60);
  ASSERT_TRUE(status) << "the run goes on without its window\n" << log();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << log();
}

// A watch link typed in the search field opens the single-video list of its id; a double click
// on that row plays it through the local media server while the downloader fills the cache.
TEST(PelorinOnScreen, AWatchLinkTypedInTheSearchFieldPlaysRedThroughTheCache) {
  pltest::OnScreenApp screen;
  pltest::FakeServer sink;
  auto& sandbox = screen.sandbox();
  quietEndpoints(sandbox, sink);
  allowAudioLibraryLeaks(sandbox);
  // The downloader's own agent, so that its requests are told from anyone else's at the origin.
  const std::string agent = "PelorinDownloaderUnderTest/1";
  ns::UserDefaults::standardUserDefaults()->setObject_forKey(ns::Value(agent), "yt_useragent");
  const std::string id = "redvid01234";
  auto clip = pltest::testMedia({.seconds = 4, .pattern = pltest::MediaPattern::Solid, .colour = "red"});
  ASSERT_FALSE(clip.empty());
  pltest::FakeServer origin;
  origin.route("GET", "/v18", pltest::mediaRoute(clip));
  testsupport::FakeVideoService video;
  video.setVideoInfo(id, testsupport::FakeVideoService::videoInfoReply(
                             {{"status", "ok"},
                              {"title", "Red"},
                              {"author", "Maker"},
                              {"length_seconds", "4"},
                              {"view_count", "1"},
                              {"url_encoded_fmt_stream_map",
                               testsupport::FakeVideoService::streamMap({{"18", origin.URLForPath("/v18")}})},
                              {"adaptive_fmts", ""}}));
  sandbox.set("PELORIN_VIDEO_SERVICE_URL", video.baseURL());
  testsupport::FakeDataAPI api;
  api.seed("videos", {R"({"kind": "youtube#video", "id": ")" + id +
                      R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UC1",
                      "title": "Red", "description": "", "channelTitle": "Maker", "thumbnails": {}},
                      "contentDetails": {"duration": "PT4S"}, "statistics": {"viewCount": "1"}})"});
  sandbox.set("PELORIN_GOOGLE_API_URL", api.baseURL());
  testsupport::trustCertificates(sandbox, {api.server().caCertificatePEM()});
  auto log = [&] { return logText(sandbox); };

  PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);
  // Drawn: the title bar (below the main menu's bar) and the black player area below it.
  std::optional<MainWindow> window;
  auto centre = [&] { return pltest::screenPixel(window->playerCentreX(), window->playerCentreY()); };
  ASSERT_TRUE(pltest::pumpUntil([&] { return (window = mainWindow()) && near(centre(), 0, 0, 0, 3); }, 60));

  // The search field, in the bar at the top of the browse pane.
  pltest::xtest::click(window->x + 200, window->belowTitleBar() + 15);
  run("xdotool type --delay 30 'https://www.youtube.com/watch?v=" + id + "'");
  pltest::xtest::tap("Return");
  ASSERT_TRUE(pltest::pumpUntil([&] { return !api.callsOf("youtube.videos.list").empty(); }, 60)) << log();
  EXPECT_EQ(api.callsOf("youtube.search.list").size(), 0u) << "a link searches nothing";

  // The list's one row, right of the source list below the bar, once its title is drawn.
  const int rowX = window->x + 260, rowY = window->belowNavigationBar() + 25;
  auto titleShown = [&] {
    int bright = 0;
    for (const auto& p : pltest::screenPixels(window->x + 230, window->belowNavigationBar() + 4, 120, 26))
      bright += p.r > 150 && p.g > 150 && p.b > 150;
    return bright > 10;
  };
  ASSERT_TRUE(pltest::pumpUntil(titleShown, 60)) << log();
  pltest::xtest::moveTo(rowX, rowY);
  pltest::xtest::click(rowX, rowY);
  pltest::xtest::click(rowX, rowY);
  EXPECT_TRUE(pltest::pumpUntil([&] { return near(centre(), 255, 0, 0, 20); }, 20)) << log();
  EXPECT_GE(video.videoInfoRequests(), 1u);
  const auto cached = sandbox.cacheHome() / "com.ordel42.zeravozezi/Cache" / (id + ".mp4");
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(cached); }, 60)) << log();
  EXPECT_TRUE(pltest::readMedia(cached.string()) == pltest::readMedia(clip)) << "the clip, byte for byte";
  // The origin served the downloader only (the player read the local media server): a fresh
  // download asks for the whole file, and any later request resumes with a range.
  const auto requests = origin.requests();
  ASSERT_FALSE(requests.empty());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method + " " + requests[i].path, "GET /v18");
    EXPECT_EQ(requests[i].header("User-Agent").value_or(""), agent) << i;
    if (i > 0) {
      EXPECT_TRUE(requests[i].header("Range").has_value()) << i;
    }
  }

  auto status = pelorin.terminate();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << log();
}

}  // namespace
