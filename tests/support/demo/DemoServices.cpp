// The remote services Pelorin talks to, as the tests fake them, on 127.0.0.1: the video service
// with three ffmpeg-made clips (red, green and blue) served with byte ranges, the Data API with
// their rows (search finds them), OAuth with a test account, search suggestions, and a sink for
// the maker's and the crash-reporting services. Writes the environment that points Pelorin at
// them to the file named by its argument, then serves until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/youtube/YoutubeKeys.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/TestMedia.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/FakeSuggestService.h"
#include "tests/support/FakeVideoService.h"

namespace {

struct Clip {
  std::string id, colour, title;
};

std::string videoItem(const Clip& clip) {
  return R"({"kind": "youtube#video", "id": ")" + clip.id +
         R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z",
    "channelId": "UCdemo", "title": ")" +
         clip.title + R"(", "description": "A clip made for the demo.",
    "channelTitle": "Pelorin demo", "thumbnails": {}}, "contentDetails": {"duration": "PT6S"},
    "statistics": {"viewCount": "1"}})";
}

std::string searchItem(const Clip& clip) {
  return R"({"kind": "youtube#searchResult", "id": {"kind": "youtube#video", "videoId": ")" + clip.id +
         R"("}, "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCdemo", "title": ")" +
         clip.title + R"(", "description": "", "channelTitle": "Pelorin demo", "thumbnails": {}}})";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pelorin_demo_services ENVIRONMENT-FILE\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  const std::vector<Clip> clips = {
      {"demoRed0001", "red", "Red"}, {"demoGreen01", "green", "Green"}, {"demoBlue001", "blue", "Blue"}};
  pltest::FakeServer origin;
  testsupport::FakeVideoService video;
  testsupport::FakeDataAPI api;
  std::vector<std::string> videos, results;
  for (const auto& clip : clips) {
    auto path =
        pltest::testMedia({.seconds = 6, .pattern = pltest::MediaPattern::Solid, .colour = clip.colour});
    if (path.empty()) {
      std::fprintf(stderr, "pelorin_demo_services: ffmpeg could not make the %s clip\n", clip.colour.c_str());
      return 1;
    }
    origin.route("GET", "/" + clip.id + ".mp4", pltest::mediaRoute(path));
    video.setVideoInfo(
        clip.id,
        testsupport::FakeVideoService::videoInfoReply(
            {{"status", "ok"},
             {"title", clip.title},
             {"author", "Pelorin demo"},
             {"length_seconds", "6"},
             {"view_count", "1"},
             {"url_encoded_fmt_stream_map",
              testsupport::FakeVideoService::streamMap({{"18", origin.URLForPath("/" + clip.id + ".mp4")}})},
             {"adaptive_fmts", ""}}));
    videos.push_back(videoItem(clip));
    results.push_back(searchItem(clip));
  }
  api.seed("videos", videos);
  api.seed("search", results);

  testsupport::FakeOAuthServer::Options account;
  account.clientID = getOAuthClientID();
  account.clientSecret = getOAuthClientSecret();
  account.email = "demo@example.test";
  testsupport::FakeOAuthServer oauth(account);
  // Pelorin asks for the account's e-mail on the API host.
  oauth.serveUserInfoOn(api.server());
  testsupport::FakeSuggestService suggest;
  pltest::FakeServer sink;

  const std::string caFile = std::string(argv[1]) + ".ca.pem";
  { std::ofstream(caFile) << api.server().caCertificatePEM() << oauth.server().caCertificatePEM(); }
  {
    std::ofstream out(argv[1]);
    out << "export PELORIN_VIDEO_SERVICE_URL=" << video.baseURL() << "\n"
        << "export PELORIN_GOOGLE_API_URL=" << api.baseURL() << "\n"
        << "export PELORIN_OAUTH_URL=" << oauth.server().baseURL() << "\n"
        << "export PELORIN_SUGGEST_URL='" << suggest.url() << "'\n"
        << "export PELORIN_PROFILE_PHOTO_URL=" << sink.baseURL() << "\n"
        << "export PELORIN_MAKER_HOST=127.0.0.1:" << sink.port() << "\n"
        << "export PELORIN_MAKER_FILES_URL=" << sink.baseURL() << "\n"
        << "export PELORIN_LEGACY_FEED_URL=" << sink.baseURL() << "\n"
        << "export CrashReporterAPIEndpoint=" << sink.baseURL() << "\n"
        << "export PELORIN_EXTRA_CA_FILE=" << caFile << "\n";
  }
  std::cout << "pelorin_demo_services: serving; search for \"Red\", or sign in as " << account.email
            << std::endl;
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
