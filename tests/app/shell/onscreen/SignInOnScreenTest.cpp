// Signing in with the real `pelorin` on a virtual display, through X input only, against a fake
// identity provider on 127.0.0.1 whose authorization page is one approval button: the page is
// shown in the sheet, the click ends in the code exchange, the user-info fetch and the stored
// token, the title bar's user button names the account and the source list shows its
// playlists; a second launch is still signed in (the token refreshed at launch).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/youtube/YoutubeKeys.h"
#include "platform/security/Keychain.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"

namespace {

using onscreen::kTitleBar;

// Window-relative places (points from the top left of the dark title bar).
constexpr int kUserButtonWidth = 220, kUserButtonRight = 12;  // right-aligned text in the title bar
constexpr int kSourceListWidth = 118;
constexpr int kBottomBar = 24;             // the source list's bar of buttons, at its bottom
constexpr int kLoginX = 45, kLoginY = 59;  // "Login" in the signed-out source list, below the title bar
constexpr int kHeadingX = 40, kPlaylistsHeadingY = 199;  // "PLAYLISTS" below the seven special lists

constexpr char kEmail[] = "viewer@example.test";
const std::vector<std::string> kPlaylists = {"Road movies", "Cooking at home", "Jazz nights"};

bool approvalBlue(const pltest::Pixel& p) {
  return onscreen::near(p, 0x1a, 0x73, 0xe8, 40);
}
bool light(const pltest::Pixel& p) {
  return p.r > 140 && p.g > 140 && p.b > 140;
}

std::string playlistJSON(const std::string& id, const std::string& title) {
  return R"({"kind": "youtube#playlist", "id": ")" + id +
         R"(", "snippet": {"publishedAt": "2020-01-01T00:00:00.000Z", "channelId": "UCme", "title": ")" +
         title +
         R"(", "description": "", "channelTitle": "Me", "thumbnails": {}}, "contentDetails": {"itemCount": 3},
         "status": {"privacyStatus": "private"}})";
}

class SignInOnScreen : public ::testing::Test {
 protected:
  SignInOnScreen() : oauth_(providerOptions()) {}

  static testsupport::FakeOAuthServer::Options providerOptions() {
    testsupport::FakeOAuthServer::Options options;
    // The client the application is built with.
    options.clientID = getOAuthClientID();
    options.clientSecret = getOAuthClientSecret();
    options.email = kEmail;
    return options;
  }

  void SetUp() override {
    auto& sandbox = screen_.sandbox();
    onscreen::quietEndpoints(sandbox, sink_);
    sandbox.set("PELORIN_OAUTH_URL", oauth_.server().baseURL());
    sandbox.set("PELORIN_GOOGLE_API_URL", api_.baseURL());
    testsupport::trustCertificates(sandbox,
                                   {oauth_.server().caCertificatePEM(), api_.server().caCertificatePEM()});
    // The user-info endpoint lives on the API host.
    oauth_.serveUserInfoOn(api_.server());
    std::vector<std::string> playlists;
    for (std::size_t i = 0; i < kPlaylists.size(); ++i)
      playlists.push_back(playlistJSON("PLmine" + std::to_string(i), kPlaylists[i]));
    api_.seed("playlists", playlists);
    api_.seed("channels", {R"({"kind": "youtube#channel", "id": "UCme", "snippet": {"title": "Me"},
                              "contentDetails": {"relatedPlaylists": {"favorites": "FLme", "likes": "LLme",
                              "uploads": "UUme", "watchLater": "WL", "watchHistory": "HL"}}})"});
  }

  void launch(const std::string& log) {
    log_ = screen_.sandbox().path(log);
    process_.emplace(log_);
    ASSERT_GT(process_->pid(), 0);
    // Where it settles: the same place twice in a row, its title bar drawn.
    std::optional<onscreen::MainWindow> before;
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          window_ = onscreen::mainWindow();
          const bool settled = window_ && before && *window_ == *before;
          before = window_;
          return settled;
        },
        60))
        << logText();
  }

  // SIGTERM; the run must end with status 0.
  void quit() {
    auto status = process_->terminate();
    ASSERT_TRUE(status) << logText();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << logText();
    process_.reset();
  }

  std::string logText() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The user button's area of the title bar and the left edge of its (right-aligned) text.
  std::vector<pltest::Pixel> userButton() const {
    return pltest::screenPixels(window_->x + window_->width - kUserButtonWidth - kUserButtonRight,
                                window_->titleBarTop + 14, kUserButtonWidth, kTitleBar - 28);
  }
  int userButtonTextLeft() const {
    const auto shot = userButton();
    const int height = kTitleBar - 28;
    for (int x = 0; x < kUserButtonWidth; ++x)
      for (int y = 0; y < height; ++y)
        if (light(shot[std::size_t(y) * kUserButtonWidth + x])) return x;
    return kUserButtonWidth;
  }

  // Rows of the source list that carry text (light pixels), counted as runs of such rows.
  int sourceListTextLines() const {
    return sourceListTextLines(window_->belowTitleBar(), window_->bottom() - window_->belowTitleBar() - 80);
  }
  // The same between these screen rows.
  int sourceListTextLines(int top, int height) const {
    const auto shot = pltest::screenPixels(window_->x + 20, top, kSourceListWidth - 24, height);
    int lines = 0;
    bool inLine = false;
    for (int y = 0; y < height; ++y) {
      bool any = false;
      for (int x = 0; x < kSourceListWidth - 24 && !any; ++x)
        any = light(shot[std::size_t(y) * (kSourceListWidth - 24) + x]);
      if (any && !inLine) ++lines;
      inLine = any;
    }
    return lines;
  }

  // The approval button's centre, once the sheet shows the page.
  std::optional<pltest::ScreenPoint> approvalButton() const {
    const auto shot = pltest::screenPixels(0, 0, 1440, 900);
    long sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < 900; y += 2)
      for (int x = 0; x < 1440; x += 2)
        if (approvalBlue(shot[std::size_t(y) * 1440 + x])) {
          sumX += x;
          sumY += y;
          ++count;
        }
    // A block of at least 300x100 pixels (sampled every second pixel both ways).
    if (count < 300 * 100 / 4) return std::nullopt;
    return pltest::ScreenPoint{int(sumX / count), int(sumY / count)};
  }

  bool called(const std::string& method) const {
    for (const auto& call : api_.callsOf(method))
      if (call.headers.get("Authorization").value_or("").rfind("Bearer ", 0) == 0) return true;
    return false;
  }
  int tokenGrants(const std::string& grant) const {
    int count = 0;
    for (const auto& request : oauth_.tokenRequests())
      if (request.params.count("grant_type") && request.params.at("grant_type") == grant) ++count;
    return count;
  }

  pltest::OnScreenApp screen_;
  pltest::FakeServer sink_;
  testsupport::FakeOAuthServer oauth_;
  testsupport::FakeDataAPI api_;
  std::optional<onscreen::PelorinProcess> process_;
  std::optional<onscreen::MainWindow> window_;
  std::string log_;
};

TEST_F(SignInOnScreen, TheApprovalClickSignsInStoresTheTokenAndTheNextLaunchIsStillSignedIn) {
  launch("first.log");
  // Signed out: "not logged in" in the user button, the source list's few rows.
  ASSERT_TRUE(pltest::pumpUntil([&] { return userButtonTextLeft() < kUserButtonWidth; }, 60)) << logText();
  const int signedOutLeft = userButtonTextLeft();
  const int signedOutLines = sourceListTextLines();

  // "Login" in the source list opens the sheet, which shows the provider's page.
  pltest::xtest::click(window_->x + kLoginX, window_->belowTitleBar() + kLoginY);
  std::optional<pltest::ScreenPoint> approve;
  ASSERT_TRUE(pltest::pumpUntil([&] { return (approve = approvalButton()).has_value(); }, 90))
      << "the page is not shown; the provider saw " << oauth_.server().requests().size() << " requests\n"
      << logText();
  EXPECT_EQ(oauth_.requestsTo("/o/oauth2/auth").size(), 1u);

  // One click on the approval: the code exchange, the user info, the stored token.
  pltest::xtest::click(approve->x, approve->y);
  ASSERT_TRUE(pltest::pumpUntil([&] { return tokenGrants("authorization_code") == 1; }, 60)) << logText();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        for (const auto& request : api_.server().requests())
          if (request.path == "/oauth2/v3/userinfo") return true;
        return false;
      },
      60))
      << logText();
  // The sheet went with its page.
  EXPECT_TRUE(pltest::pumpUntil([&] { return !approvalButton(); }, 30));
  const auto refresh = oauth_.issuedRefreshTokens();
  ASSERT_EQ(refresh.size(), 1u);
  std::string secret;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return sec::Keychain(screen_.sandbox().dataHome() / "Pelorin/keychain")
                   .findGenericPassword("Pelorin", "OAuth", &secret) == sec::errSecSuccess;
      },
      30));
  EXPECT_NE(secret.find("refresh1"), std::string::npos) << secret;

  // The user button names the account (a longer text than "not logged in"), and the source list
  // shows the account's playlists, fetched with its token.
  EXPECT_TRUE(pltest::pumpUntil([&] { return userButtonTextLeft() < signedOutLeft - 20; }, 60))
      << signedOutLeft << " -> " << userButtonTextLeft();
  EXPECT_TRUE(pltest::pumpUntil([&] { return called("youtube.playlists.list"); }, 60)) << logText();
  // The seven special lists replace "Login", under four headings; the "PLAYLISTS" heading below
  // them shows the account's three playlists, at once when the group opens by itself, else
  // after a click on it.
  const int openLines = 4 + 7 + int(kPlaylists.size());
  int collapsedLines = 0;
  EXPECT_TRUE(
      pltest::pumpUntil([&] { return (collapsedLines = sourceListTextLines()) > signedOutLines; }, 60));
  int signedInLines = 0;
  if (!pltest::pumpUntil([&] { return (signedInLines = sourceListTextLines()) >= openLines; }, 5))
    pltest::xtest::click(window_->x + kHeadingX, window_->belowTitleBar() + kPlaylistsHeadingY);
  EXPECT_TRUE(pltest::pumpUntil([&] { return (signedInLines = sourceListTextLines()) >= openLines; }, 60))
      << collapsedLines << " -> " << signedInLines;
  const auto signedInButton = userButton();
  quit();

  // Started again: the stored token is refreshed at launch and the account is shown as before.
  launch("second.log");
  EXPECT_TRUE(pltest::pumpUntil([&] { return tokenGrants("refresh_token") >= 1; }, 60)) << logText();
  EXPECT_TRUE(pltest::pumpUntil([&] { return userButton() == signedInButton; }, 60))
      << userButtonTextLeft() << "\n"
      << logText();
  // The playlists again, in their section, which stayed open (the account's other groups may
  // show their lists too by then).
  EXPECT_TRUE(pltest::pumpUntil([&] { return sourceListTextLines() >= signedInLines; }, 60))
      << signedInLines << " -> " << sourceListTextLines();
  EXPECT_EQ(tokenGrants("authorization_code"), 1) << "no second sign-in";
  quit();
}

// The red button of the sheet's own title bar ends the sign-in as Cancel does: the main window
// takes keys again and Ctrl+Q ends the run.
TEST_F(SignInOnScreen, TheSheetsCloseButtonEndsTheSignInAndControlQQuits) {
  launch("close.log");
  ASSERT_TRUE(pltest::pumpUntil([&] { return userButtonTextLeft() < kUserButtonWidth; }, 60)) << logText();
  pltest::xtest::click(window_->x + kLoginX, window_->belowTitleBar() + kLoginY);
  // The sheet (640 points of page and buttons wide, 560 high, under its 22-point title bar) with
  // its red close button drawn.
  std::optional<onscreen::Geometry> sheet;
  auto closeButtonShown = [&] {
    sheet = onscreen::windowOfSize(640, 582);
    return sheet && onscreen::near(pltest::screenPixel(sheet->x + 14, sheet->y + 11), 252, 94, 87, 30);
  };
  ASSERT_TRUE(pltest::pumpUntil(closeButtonShown, 90)) << logText();
  pltest::xtest::click(sheet->x + 14, sheet->y + 11);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !onscreen::windowOfSize(640, 582); }, 30)) << logText();

  pltest::xtest::chord({"Control_L", "q"});
  const auto status = process_->waitForExit(60);
  ASSERT_TRUE(status) << "Ctrl+Q did not end the run\n" << logText();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << logText();
  process_.reset();
}

// Started signed in with more playlists than the source list shows at once, then made taller by
// another program: the rows that come into view at the list's bottom are drawn, not left as the
// list's empty background until it is scrolled.
TEST_F(SignInOnScreen, RowsComingIntoViewAsTheWindowGrowsAreDrawn) {
  ASSERT_TRUE(testsupport::keepSignIn(oauth_, kEmail));
  api_.seedGenerated("playlists", 40, "PLmore");
  launch("grown.log");
  // The account's rows fill the list down past its bottom bar.
  ASSERT_TRUE(pltest::pumpUntil([&] { return sourceListTextLines() >= 25; }, 60)) << logText();
  // At the top left of the screen at this size, its title bar drawn.
  auto moved = [&](int width, int height) {
    return pltest::pumpUntil(
        [&] {
          auto now = onscreen::mainWindow();
          if (!now || now->x != 0 || now->y != 0 || now->width != width || now->height != height)
            return false;
          window_ = now;
          return true;
        },
        30);
  };
  ASSERT_EQ(std::system(("xdotool windowmove " + window_->id + " 0 0").c_str()), 0);
  ASSERT_TRUE(moved(window_->width, window_->height));
  // The source list's bottom bar, above the player's control bar.
  auto barTop = [&] { return window_->bottom() - onscreen::kControlBar - kBottomBar; };
  auto barPixel = [&] { return pltest::screenPixel(window_->x + 60, barTop() + kBottomBar / 2); };
  const pltest::Pixel bar = barPixel();
  const int oldBarTop = barTop();

  constexpr int kGrow = 120;
  ASSERT_EQ(std::system(("xdotool windowsize " + window_->id + " " + std::to_string(window_->width) + " " +
                         std::to_string(window_->height + kGrow))
                            .c_str()),
            0);
  ASSERT_TRUE(moved(window_->width, window_->height + kGrow));
  // Drawn at the new size: the bottom bar where the list's bottom now is.
  ASSERT_TRUE(pltest::pumpUntil([&] { return barPixel() == bar; }, 30)) << logText();
  EXPECT_GE(sourceListTextLines(oldBarTop, kGrow), kGrow / 20 - 1);
  quit();
}

}  // namespace
