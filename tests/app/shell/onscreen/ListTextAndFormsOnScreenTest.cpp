// The real `pelorin` on a virtual display against fakes on 127.0.0.1, through XTest input only:
// a long title ends in an ellipsis at its cell's edge, a wheel notch moves the list the desktop's
// step, and a signed-in user makes a playlist with the "+" below the source list.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <utility>

#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"

namespace {

using onscreen::Geometry;
using onscreen::PelorinProcess;

using onscreen::kControlBar;

// Window-relative places of the main window's layout (points from the top of the title bar).
constexpr int kListLeft = 120;  // the list's left edge, right of the source list
constexpr int kRowPitch = 85;   // a row and the space below it

using onscreen::searchJSON;
using onscreen::videoJSON;

// Light text on the dark rows and panes.
bool light(const pltest::Pixel& p) {
  return p.r > 110 && p.g > 110 && p.b > 110;
}

struct Band {
  int top = 0, bottom = 0, left = 1 << 30, right = -1;
};

// The text lines in a screen rectangle: bands of rows holding light pixels.
std::vector<Band> textLines(int x, int y, int width, int height) {
  auto shot = pltest::screenPixels(x, y, width, height);
  std::vector<Band> lines;
  bool open = false;
  for (int row = 0; row < height; ++row) {
    int left = -1, right = -1;
    for (int column = 0; column < width; ++column)
      if (light(shot[std::size_t(row) * width + column])) {
        if (left < 0) left = column;
        right = column;
      }
    if (left < 0) {
      open = false;
      continue;
    }
    if (!open) lines.push_back({y + row, y + row});
    Band& band = lines.back();
    band.bottom = y + row;
    band.left = std::min(band.left, x + left);
    band.right = std::max(band.right, x + right);
    open = true;
  }
  return lines;
}

// The dots low on a text line that end it before a letter: 3 for an ellipsis.
int trailingDots(const Band& line) {
  const int width = 24, height = line.bottom - line.top + 1;
  auto shot = pltest::screenPixels(line.right - width + 1, line.top, width, height);
  int dots = 0;
  bool inDot = false;
  for (int column = width - 1; column >= 0; --column) {
    bool low = false, high = false;
    for (int row = 0; row < height; ++row) {
      if (!light(shot[std::size_t(row) * width + column])) continue;
      (row >= height - 3 ? low : high) = true;
    }
    if (high) return dots;
    if (low && !inDot) ++dots;
    inDot = low;
  }
  return -1;
}

// What `value` shows once it held still for a second.
int steady(const std::function<int()>& value) {
  int last = value();
  auto since = std::chrono::steady_clock::now();
  pltest::pumpUntil(
      [&] {
        const int now = value();
        if (now != last) {
          last = now;
          since = std::chrono::steady_clock::now();
          return false;
        }
        return std::chrono::steady_clock::now() - since >= std::chrono::seconds(1);
      },
      60);
  return last;
}

// The signed-in account's stores, the Data API and the identity provider as fakes, and the real
// executable at the top left of the display.
class ListTextAndFormsOnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& sandbox = screen_.sandbox();
    onscreen::quietEndpoints(sandbox, sink_);
    onscreen::allowAudioLibraryLeaks(sandbox);
    sandbox.set("PELORIN_GOOGLE_API_URL", api_.baseURL());
    testsupport::trustCertificates(sandbox,
                                   {api_.server().caCertificatePEM(), oauth_.server().caCertificatePEM()});
  }

  void TearDown() override {
    if (pelorin_) {
      auto status = pelorin_->terminate();
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << log();
    }
  }

  // Videos of these titles, answering every search.
  void serve(const std::vector<std::string>& titles) {
    std::vector<std::string> videos, results;
    for (std::size_t i = 0; i < titles.size(); ++i) {
      char id[32];
      std::snprintf(id, sizeof id, "textVideo%02zu", i);
      videos.push_back(videoJSON(id, titles[i]));
      results.push_back(searchJSON(id, titles[i]));
    }
    api_.seed("videos", videos);
    api_.seed("search", results);
  }

  // A sign-in kept in the keychain file store, as an earlier run left it: the launch refreshes
  // its token at the fake identity provider.
  void keepSignIn(const std::string& email) {
    screen_.sandbox().set("PELORIN_OAUTH_URL", oauth_.server().baseURL());
    ASSERT_TRUE(testsupport::keepSignIn(oauth_, email));
  }

  void launch() {
    pelorin_.emplace(screen_.sandbox().path("pelorin.log"));
    ASSERT_GT(pelorin_->pid(), 0);
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          window_ = onscreen::mainWindow();
          if (!window_) return false;
          if (window_->x != 0 || window_->y != 0) {
            std::system(("xdotool windowmove " + window_->id + " 0 0 >/dev/null 2>&1").c_str());
            return false;
          }
          // The source list's background beside its bottom bar: the window is drawn.
          return !(pltest::screenPixel(60, window_->bottom() - kControlBar - 27) == pltest::Pixel{});
        },
        60))
        << log();
  }

  void search(const std::string& text) {
    pltest::xtest::click(window_->x + 200, window_->belowTitleBar() + 15);
    pltest::xtest::type(text);
    pltest::xtest::tap("Return");
  }

  std::string log() {
    std::ifstream in(screen_.sandbox().path("pelorin.log"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  int rowTop(int row) const { return window_->belowNavigationBar() + row * kRowPitch; }

  pltest::OnScreenApp screen_;
  pltest::FakeServer sink_;
  testsupport::FakeDataAPI api_;
  testsupport::FakeOAuthServer oauth_;
  std::optional<PelorinProcess> pelorin_;
  std::optional<onscreen::MainWindow> window_;
};

TEST_F(ListTextAndFormsOnScreen, ALongTitleEndsInAnEllipsisAtItsCellsRightEdge) {
  serve({"Unboxing the whole collection of vintage pocket calculators and slide rules, part two", "Cats"});
  launch();
  search("calculators");
  // The title label of the first row: right of the thumbnail, its upper half.
  const int left = window_->x + kListLeft + 112;
  std::vector<Band> lines;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        lines = textLines(left, rowTop(0), 360 - kListLeft - 112, 44);
        return lines.size() >= 2;
      },
      60))
      << log();
  ASSERT_EQ(lines.size(), 2u);
  // Both lines reach the cell's right edge (the label ends 5 points before it), and the second
  // ends with the ellipsis there.
  EXPECT_EQ(trailingDots(lines[1]), 3);
  EXPECT_NE(trailingDots(lines[0]), 3);
  EXPECT_GT(lines[1].right, window_->x + 360 - 20);
}

TEST_F(ListTextAndFormsOnScreen, AWheelNotchMovesTheListByTheDesktopsStep) {
  std::vector<std::string> titles;
  for (int i = 0; i < 20; ++i) titles.push_back("Clip " + std::to_string(i + 1));
  serve(titles);
  launch();
  search("clip");
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return !textLines(window_->x + kListLeft + 112, rowTop(3), 100, 44).empty(); }, 60))
      << log();
  // The second row selected: its orange bar at the list's right edge marks where it is.
  const int listX = window_->x + kListLeft + 150;
  auto barTop = [&]() -> std::optional<int> {
    // Right of the rows' views line (its rating star is orange too).
    const int left = window_->x + kListLeft + 200, width = 40;
    auto shot = pltest::screenPixels(left, rowTop(0), width, 500);
    for (int y = 0; y < 500; ++y)
      for (int x = 0; x < width; ++x) {
        const auto& p = shot[std::size_t(y) * width + x];
        if (p.r > 180 && p.g > 70 && p.g < 170 && p.b < 80) return rowTop(0) + y;
      }
    return std::nullopt;
  };
  pltest::xtest::click(listX, rowTop(2) + 40);
  std::optional<int> before;
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return (before = barTop()) && std::abs(*before - rowTop(2)) < 6; }, 30));
  // One notch down: the rows move up by GTK's step for the list's height (the clip between the
  // navigation bar and the list's bottom bar).
  pltest::xtest::moveTo(listX, rowTop(3));
  pltest::xtest::button(5, true);
  pltest::xtest::button(5, false);
  std::optional<int> after;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (after = barTop()) && *after != *before; }, 30));
  // Steady: the notch is one step, whatever redraws follow.
  after = steady([&] { return barTop().value_or(-1); });
  const double clipHeight = (window_->bottom() - kControlBar - 24) - rowTop(0);
  const double step = std::min(std::pow(clipHeight, 2.0 / 3.0), clipHeight / 2);
  EXPECT_NEAR(*before - *after, step, 2) << clipHeight;
  // About three lines or more of the rows' text, where 10 points were less than one.
  EXPECT_GT(*before - *after, 45);
}

TEST_F(ListTextAndFormsOnScreen, PlusTypedNameAndCreateMakeAPrivatePlaylistInTheSourceList) {
  api_.seed("channels", {R"({"kind": "youtube#channel", "id": "UCmine", "snippet": {"title": "Mine"},
                            "contentDetails": {"relatedPlaylists": {"likes": "LLmine", "favorites": "FLmine",
                            "uploads": "UUmine", "watchHistory": "HLmine", "watchLater": "WLmine"}}})"});
  api_.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLfirst", "snippet": {"title": "Holidays",
                             "channelId": "UCmine"}, "contentDetails": {"itemCount": 3}})"});
  keepSignIn("viewer@example.test");
  launch();
  // The account's lists are in the source list.
  const int listLeft = window_->x + 4, listWidth = kListLeft - 8;
  const int listTop = window_->belowNavigationBar();
  const int listHeight = window_->bottom() - kControlBar - 24 - listTop;
  auto sourceLines = [&] { return textLines(listLeft, listTop, listWidth, listHeight).size(); };
  // The account's playlist is shown before the lines are counted: its row is indented under its
  // heading, where the special lists above it start at the list's left edge.
  auto playlistRows = [&] {
    int rows = 0;
    for (const auto& band : textLines(listLeft, listTop, listWidth, listHeight)) rows += band.left >= 20;
    return rows;
  };
  ASSERT_TRUE(pltest::pumpUntil([&] { return playlistRows() == 1; }, 60)) << log();
  const int lines = steady([&] { return int(sourceLines()); });

  // "+" below the source list opens the form with its name field ready for typing.
  pltest::xtest::click(window_->x + 14, window_->bottom() - kControlBar - 12);
  // Where the form settles: it may be placed again after it is first mapped, and a click where
  // it was lands on the main window's dark rows.
  std::optional<Geometry> form, before;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        before = std::exchange(form, onscreen::windowOfSize(272, 130));
        return form && before && *form == *before;
      },
      30))
      << log();
  // Typed once the form has the keyboard: keys sent while it is being mapped reach the main
  // window instead, and Create stays disabled.
  ASSERT_TRUE(pltest::pumpUntil([&] { return onscreen::focusedWindow() == form->id; }, 30))
      << "focus on " << onscreen::focusedWindow() << ", not the form " << form->id;
  pltest::xtest::type("Road trip");
  // Create, once the typing enabled it: its title as dark as Cancel's on the buttons' light face.
  const int createX = form->x + 12 + 212, createY = form->y + 130 - 22, cancelX = createX - 84;
  // Dark title pixels on a button's light face (none where the face is not).
  auto darkPixels = [&](int x) {
    int dark = 0, light = 0;
    for (const auto& p : pltest::screenPixels(x - 25, createY - 8, 50, 16)) {
      dark += p.r < 90;
      light += p.r > 180;
    }
    return light > 200 ? dark : 0;
  };
  ASSERT_TRUE(pltest::pumpUntil([&] { return darkPixels(cancelX) > 20 && darkPixels(createX) > 20; }, 30))
      << darkPixels(cancelX) << " " << darkPixels(createX);
  ASSERT_EQ(onscreen::windowOfSize(272, 130), form) << "the form moved";
  pltest::xtest::click(createX, createY);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !api_.callsOf("youtube.playlists.insert").empty(); }, 30))
      << log();
  const auto call = api_.callsOf("youtube.playlists.insert").front();
  EXPECT_EQ(call.params["resource"]["snippet"]["title"], ns::Value("Road trip"));
  EXPECT_EQ(call.params["resource"]["status"]["privacyStatus"], ns::Value("private"));
  EXPECT_EQ(call.headers.get("Authorization").value_or("").rfind("Bearer ", 0), 0u);
  // The form has gone and the source list shows one more playlist.
  EXPECT_TRUE(pltest::pumpUntil([&] { return !onscreen::windowOfSize(272, 130); }, 30));
  EXPECT_TRUE(pltest::pumpUntil([&] { return int(sourceLines()) == lines + 1 && playlistRows() == 2; }, 30))
      << lines << " " << sourceLines() << " " << playlistRows();
}

}  // namespace
