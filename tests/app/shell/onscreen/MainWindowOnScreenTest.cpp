// The real `pelorin` as a user sees it, on a virtual display against fakes on 127.0.0.1: the
// list below the bar, clicks on its rows, the picture placed in the video view (resized and in
// full screen), the video menu, partial redraws against a whole one, the dividers at the next
// start, the source list at every window size, the suggestions closing, titles in scripts
// DejaVu lacks, short seeks read off a paused picture, and a search that failed run again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "app/player/PlayerControlBar.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/Slider.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/PortGate.h"
#include "platform/testing/Pump.h"
#include "platform/testing/TestMedia.h"
#include "platform/testing/gtk/Screen.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeSuggestService.h"
#include "tests/support/FakeVideoService.h"
#include "ui/CustomSlider.h"

namespace {

using onscreen::kBrowsePane;
using onscreen::kControlBar;
using onscreen::MainWindow;
using onscreen::mainWindow;

// Window-relative places of the main window's layout (points from the top left of the title bar).
constexpr int kListLeft = 127;                // the list's left edge, right of the source list
constexpr int kRowPitch = 85;                 // a row and the space below it
constexpr int kRowHeight = kRowPitch - 2;     // a video row
constexpr int kSearchX = 200, kSearchY = 70;  // in the search field
constexpr int kClearX = 340;                  // the field's clear button

bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  bool empty() const { return right < left; }
};

// The bounding box of the pixels in a screen rectangle that `match` accepts.
Box boxOf(int x, int y, int width, int height, const std::function<bool(const pltest::Pixel&)>& match) {
  auto shot = pltest::screenPixels(x, y, width, height);
  Box box;
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; ++column)
      if (match(shot[std::size_t(row) * width + column])) {
        box.left = std::min(box.left, x + column);
        box.right = std::max(box.right, x + column);
        box.top = std::min(box.top, y + row);
        box.bottom = std::max(box.bottom, y + row);
      }
  return box;
}

int countOf(int x, int y, int width, int height, const std::function<bool(const pltest::Pixel&)>& match) {
  int count = 0;
  for (const auto& p : pltest::screenPixels(x, y, width, height)) count += match(p) ? 1 : 0;
  return count;
}

bool green(const pltest::Pixel& p) {
  return p.g > 90 && p.r < 60 && p.b < 60;
}
bool bright(const pltest::Pixel& p) {
  return p.r > 150 && p.g > 150 && p.b > 150;
}
bool orange(const pltest::Pixel& p) {
  return p.r > 180 && p.g > 70 && p.g < 170 && p.b < 80;
}

using onscreen::searchJSON;
using onscreen::videoJSON;

// The control bar as pelorin lays it out in a window `width` points wide, made here in a window
// that is never shown: where its controls are, and how its time field shows a text on the
// window's black.
class ReferenceBar {
 public:
  explicit ReferenceBar(int width) {
    window_ = ak::make<ak::Window>(ak::MakeRect(0, 0, width, kControlBar), ak::BorderlessWindowMask);
    window_->setBackgroundColor(ak::colors::blackColor());
    bar_ = ak::make<PlayerControlBar>(ak::MakeRect(0, 0, 640, PlayerControlBar::kHeight));
    bar_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
    window_->contentView()->addSubview(bar_);
    bar_->setFrame(ak::MakeRect(0, 0, width, kControlBar));
  }
  const ns::Ref<PlayerControlBar>& bar() const { return bar_; }
  // A control's frame in the bar, from its bottom left.
  ak::Rect frameOf(const ns::Ref<ak::View>& view) const {
    return view->convertRect_toView(view->bounds(), bar_.get());
  }
  // The time field's pixels showing `text`, row by row from the top.
  std::vector<pltest::Pixel> timeField(const std::string& text) {
    bar_->timeLabel()->setStringValue(text);
    window_->display();
    const ak::Rect r = frameOf(bar_->timeLabel());
    std::vector<pltest::Pixel> pixels;
    for (int y = static_cast<int>(ak::MaxY(r)) - 1; y >= static_cast<int>(r.origin.y); --y)
      for (int x = static_cast<int>(r.origin.x); x < static_cast<int>(ak::MaxX(r)); ++x) {
        const ak::RGBA p = pltest::windowPixel(window_, x, y);
        pixels.push_back({p.r, p.g, p.b});
      }
    return pixels;
  }

 private:
  ns::Ref<ak::Window> window_;
  ns::Ref<PlayerControlBar> bar_;
};

// The display, the fakes every launch reaches (the Data API with the given results, the video
// service with a clip for each, green unless another is given, suggestions) and the real
// executable.
class MainWindowOnScreen : public ::testing::Test {
 protected:
  void serve(const std::vector<std::string>& titles,
             const pltest::MediaClip& clip = {
                 .seconds = 20, .pattern = pltest::MediaPattern::Solid, .colour = "green"}) {
    auto& sandbox = screen_.sandbox();
    onscreen::quietEndpoints(sandbox, sink_);
    onscreen::allowAudioLibraryLeaks(sandbox);
    clip_ = pltest::testMedia(clip);
    const int seconds = static_cast<int>(clip.seconds);
    ASSERT_FALSE(clip_.empty());
    origin_.route("GET", "/clip", pltest::mediaRoute(clip_));
    std::vector<std::string> videos, results;
    for (std::size_t i = 0; i < titles.size(); ++i) {
      char id[32];
      std::snprintf(id, sizeof id, "clipVideo%02zu", i);
      videos.push_back(videoJSON(id, titles[i], seconds));
      results.push_back(searchJSON(id, titles[i]));
      video_.setVideoInfo(id, testsupport::FakeVideoService::videoInfoReply(
                                  {{"status", "ok"},
                                   {"title", titles[i]},
                                   {"author", "Maker"},
                                   {"length_seconds", std::to_string(seconds)},
                                   {"view_count", "1"},
                                   {"url_encoded_fmt_stream_map", testsupport::FakeVideoService::streamMap(
                                                                      {{"18", origin_.URLForPath("/clip")}})},
                                   {"adaptive_fmts", ""}}));
    }
    api_.seed("videos", videos);
    api_.seed("search", results);
    sandbox.set("PELORIN_VIDEO_SERVICE_URL", video_.baseURL());
    sandbox.set("PELORIN_GOOGLE_API_URL", api_.baseURL());
    sandbox.set("PELORIN_SUGGEST_URL", suggest_.url());
    testsupport::trustCertificates(sandbox, {api_.server().caCertificatePEM()});
  }

  // Starts pelorin and waits for its window at the top left of the screen, drawn.
  void launch(const std::string& log = "pelorin.log") {
    log_ = screen_.sandbox().path(log);
    pid_ = onscreen::spawnPelorin(log_);
    ASSERT_GT(pid_, 0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return (window_ = mainWindow()).has_value(); }, 60));
    // At the top left, drawn: the source list's background, not the black root, beside its
    // bottom bar. The window may still be placed after it is first listed.
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          window_ = mainWindow();
          if (!window_) return false;
          if (window_->x != 0 || window_->y != 0) {
            run("xdotool windowmove " + window_->id + " 0 0");
            return false;
          }
          return !(sourceListPixel() == pltest::Pixel{});
        },
        60));
    place();
  }

  // SIGTERM; with `checked`, the exit status must be 0.
  void quit(bool checked = true) {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = pltest::pumpUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 60);
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    const std::string log = logText();
    if (!checked) return;
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n"
                                                                        << onscreen::logExcerpt(log);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::string logText() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The source list's background just above its bottom bar.
  pltest::Pixel sourceListPixel() const {
    return pltest::screenPixel(window_->x + 60, window_->bottom() - kControlBar - 24 - 3);
  }

  void resize(int width, int height) {
    ASSERT_TRUE(run("xdotool windowsize " + window_->id + " " + std::to_string(width) + " " +
                    std::to_string(height)));
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          window_ = mainWindow();
          return window_ && window_->width == width && window_->height == height;
        },
        60));
  }

  // The screen row where the title bar begins, below the main menu's bar.
  int top() const { return window_->titleBarTop; }

  // Moves the window back to the top left if it was placed elsewhere since.
  void place() {
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          window_ = mainWindow();
          if (window_ && (window_->x != 0 || window_->y != 0))
            run("xdotool windowmove " + window_->id + " 0 0");
          // On screen there too: its title bar drawn at the top left.
          return window_ && window_->x == 0 && window_->y == 0;
        },
        30));
  }

  void search(const std::string& text) {
    place();
    pltest::xtest::click(window_->x + kSearchX, top() + kSearchY);
    ASSERT_TRUE(run("xdotool type --delay 40 '" + text + "'"));
    pltest::xtest::tap("Return");
  }

  int rowTop(int row) const { return window_->belowNavigationBar() + row * kRowPitch; }

  // The screen point at fractions of a rectangle of the control bar (from its bottom left).
  std::pair<int, int> inBar(const ak::Rect& r, double fx, double fy) const {
    return {window_->x + static_cast<int>(r.origin.x + r.size.width * fx),
            window_->bottom() - static_cast<int>(r.origin.y + r.size.height * fy)};
  }
  void clickInBar(const ak::Rect& r, double fx) {
    auto [x, y] = inBar(r, fx, 0.5);
    pltest::xtest::click(x, y);
  }
  // A press, moves to each point in turn and the release.
  static void drag(const std::vector<std::pair<int, int>>& path) {
    pltest::xtest::moveTo(path.front().first, path.front().second);
    pltest::xtest::button(1, true);
    for (std::size_t i = 1; i < path.size(); ++i) pltest::xtest::moveTo(path[i].first, path[i].second);
    pltest::xtest::button(1, false);
  }

  // Bright title pixels in the title area of a row.
  int titlePixels(int row) const {
    return countOf(window_->x + kListLeft + 110, rowTop(row) + 4, 120, 26, bright);
  }

  pltest::OnScreenApp screen_;
  pltest::FakeServer sink_, origin_;
  testsupport::FakeDataAPI api_;
  testsupport::FakeVideoService video_;
  testsupport::FakeSuggestService suggest_;
  std::string clip_, log_;
  pid_t pid_ = -1;
  std::optional<MainWindow> window_;

  class ControlBarSteps;
};

TEST_F(MainWindowOnScreen, TheListStartsBelowTheBarAndClicksSelectAndPlayAPictureCentredInTheVideoView) {
  std::vector<std::string> titles;
  for (int i = 0; i < 12; ++i) titles.push_back("Cats " + std::to_string(i + 1));
  serve(titles);
  launch();
  search("cats");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(0) > 20; }, 60)) << logText();

  // Scrolled to the end and back, the first row is again whole below the bar.
  const int listX = window_->x + kListLeft + 100, listY = rowTop(2);
  pltest::xtest::moveTo(listX, listY);
  for (int i = 0; i < 30; ++i) pltest::xtest::click(listX, listY, 5);
  EXPECT_TRUE(pltest::pumpUntil([&] { return titlePixels(0) < 5 || titlePixels(0) != titlePixels(1); }, 30));
  for (int i = 0; i < 30; ++i) pltest::xtest::click(listX, listY, 4);
  EXPECT_TRUE(pltest::pumpUntil([&] { return titlePixels(0) > 20; }, 30));

  // A click on a row selects it (the selection bar at its right edge), every time.
  auto selected = [&](int row) {
    return countOf(window_->x + kListLeft, rowTop(row) + 10, kBrowsePane - kListLeft, 60, orange) > 50;
  };
  for (int row : {1, 2, 1}) {
    pltest::xtest::click(listX, rowTop(row) + 40);
    EXPECT_TRUE(pltest::pumpUntil([&] { return selected(row) && !selected(row == 1 ? 2 : 1); }, 30)) << row;
  }

  // A double click plays it: the picture, centred in the video view and inside it.
  pltest::xtest::click(listX, rowTop(1) + 40);
  pltest::xtest::click(listX, rowTop(1) + 40);
  ASSERT_TRUE(pltest::pumpUntil([&] { return video_.videoInfoRequests() >= 1; }, 60)) << logText();
  // The video view: right of the browsing panes, between the title bar and the control bar; in
  // full screen, the whole screen.
  bool fullScreen = false;
  auto pictureCentred = [&](std::string* why) {
    int left = window_->x + kBrowsePane, top = window_->belowTitleBar();
    int width = window_->width - kBrowsePane, height = window_->bottom() - top - kControlBar;
    if (fullScreen) left = 0, top = 0, width = 1440, height = 900;
    Box box = boxOf(left, top, width, height, green);
    if (box.empty()) {
      if (why) *why = "no picture";
      return false;
    }
    const double dx = (box.left + box.right + 1) / 2.0 - (left + width / 2.0);
    const double dy = (box.top + box.bottom + 1) / 2.0 - (top + height / 2.0);
    // Fitted: it reaches two opposite edges of the view (within a pixel of scaling).
    const bool fitted = (box.left <= left + 1 && box.right >= left + width - 2) ||
                        (box.top <= top + 1 && box.bottom >= top + height - 2);
    if (why)
      *why = "box " + std::to_string(box.left) + "," + std::to_string(box.top) + " to " +
             std::to_string(box.right) + "," + std::to_string(box.bottom) + " in " + std::to_string(left) +
             "," + std::to_string(top) + " " + std::to_string(width) + "x" + std::to_string(height);
    return std::abs(dx) <= 2 && std::abs(dy) <= 2 && fitted;
  };
  auto expectCentred = [&](const std::string& where) {
    std::string why;
    const bool centred = pltest::pumpUntil([&] { return pictureCentred(nullptr); }, 60);
    pictureCentred(&why);
    EXPECT_TRUE(centred) << where << ": " << why;
  };
  // At the size the window opens with, then resized.
  expectCentred(std::to_string(window_->width) + "x" + std::to_string(window_->height));
  for (auto [width, height] : {std::pair{800, 500}, {1280, 780}}) {
    resize(width, height);
    expectCentred(std::to_string(width) + "x" + std::to_string(height));
  }
  // In full screen, once the pointer rests over the picture and the control bar has gone; the
  // run then ends in full screen.
  pltest::xtest::moveTo(window_->x + kBrowsePane + 200, window_->belowTitleBar() + 100);
  pltest::xtest::chord({"Control_L", "f"});
  // The picture fills most of the screen (only the bars of its fitting are left).
  ASSERT_TRUE(pltest::pumpUntil([&] { return countOf(0, 0, 1440, 900, green) > 1440 * 900 * 7 / 10; }, 30));
  fullScreen = true;
  pltest::xtest::moveTo(700, 400);
  pltest::xtest::moveTo(720, 420);
  expectCentred("full screen");
  quit();
}

// The control bar's test, one step after another on the same run: a clip playing in the video
// view, its sound written to a file, and the bar laid out as pelorin lays it out.
class MainWindowOnScreen::ControlBarSteps {
 public:
  explicit ControlBarSteps(MainWindowOnScreen& test)
      : test_(test), sound_(test.screen_.sandbox().path("sound.raw")) {}

  // The sound goes to a file at the pace it plays: no sound server or card answers, so the player
  // reaches the SDL output, whose disk driver writes it.
  void sendSoundToAFile() {
    auto& sandbox = test_.screen_.sandbox();
    { std::ofstream(sandbox.path("asound.conf")) << ""; }
    sandbox.set("ALSA_CONFIG_PATH", sandbox.path("asound.conf"));
    sandbox.set("PULSE_SERVER", "unix:" + sandbox.path("no-pulse"));
    sandbox.set("PIPEWIRE_REMOTE", sandbox.path("no-pipewire"));
    sandbox.set("JACK_NO_START_SERVER", "1");
    sandbox.set("SDL_AUDIODRIVER", "disk");
    sandbox.set("SDL_DISKAUDIOFILE", sound_);
  }

  // A search, a double click on its row, and the picture moving.
  void playAClip() {
    test_.serve({"Pattern"}, {.seconds = 40, .pattern = pltest::MediaPattern::TestPattern});
    test_.launch();
    test_.search("pattern");
    ASSERT_TRUE(pltest::pumpUntil([&] { return test_.titlePixels(0) > 20; }, 60)) << test_.logText();
    const int listX = window().x + kListLeft + 100;
    pltest::xtest::click(listX, test_.rowTop(0) + 40);
    pltest::xtest::click(listX, test_.rowTop(0) + 40);
    reference_.emplace(window().width);
    ASSERT_TRUE(pltest::pumpUntil([&] { return moving(); }, 60)) << "no picture\n" << test_.logText();
    // The time comes with the player's next time report, which may follow the first pictures.
    EXPECT_TRUE(pltest::pumpUntil([&] { return !shows(reference_->timeField("")); }, 30))
        << "the time field is blank while it plays";
  }

  // Pause stops the picture and the time; play goes on.
  void pauseAndPlay() {
    const ak::Rect play = reference_->frameOf(bar()->playBtn());
    test_.clickInBar(play, 0.5);
    EXPECT_TRUE(pltest::pumpUntil([&] { return still(); }, 30)) << "still moving after pause";
    const auto pausedTime = timeField();
    EXPECT_TRUE(still());
    EXPECT_TRUE(timeField() == pausedTime);
    test_.clickInBar(play, 0.5);
    EXPECT_TRUE(pltest::pumpUntil([&] { return moving(); }, 30)) << "still after play";
  }

  // A click at 75 % of the progress slider seeks there (30 s of 40), and the time field shows it;
  // a drag along it carries the knob, not the window.
  void seekByClickAndDrag() {
    const ak::Rect progress = reference_->frameOf(bar()->progressSlider());
    bar()->progressSlider()->setMaxValue(40);
    const auto [clickX, clickY] = test_.inBar(progress, 0.75, 0.5);
    const double target = bar()->progressSlider()->sliderCell()->valueForPoint(
        {clickX - window().x - progress.origin.x, progress.size.height / 2});
    ASSERT_NEAR(target, 30, 1);
    test_.clickInBar(progress, 0.75);
    EXPECT_TRUE(pltest::pumpUntil([&] { return showsATimeFrom(static_cast<int>(target), 4); }, 30))
        << "the time field does not show 0:" << static_cast<int>(target);
    drag(
        {test_.inBar(progress, 0.75, 0.5), test_.inBar(progress, 0.6, 0.5), test_.inBar(progress, 0.5, 0.5)});
    EXPECT_TRUE(pltest::pumpUntil([&] { return showsATimeFrom(19, 5); }, 30))
        << "the time field does not show 0:20";
    ASSERT_TRUE((test_.window_ = mainWindow()) && window().x == 0 && window().y == 0);
  }

  // The volume slider's left end silences the sound and its right end brings it back.
  void silenceAndRestoreTheSound() {
    ASSERT_TRUE(pltest::pumpUntil([&] { return std::filesystem::exists(sound_); }, 30)) << test_.logText();
    ASSERT_FALSE(silent(soundAfter(0)));
    const ak::Rect volume = reference_->frameOf(bar()->volumeSlider());
    test_.clickInBar(volume, 0.02);
    secondLater();
    std::uintmax_t mark = 0;
    ASSERT_TRUE(pltest::pumpUntil(soundSince(mark), 30));
    EXPECT_TRUE(silent(soundAfter(mark))) << "sound at volume 0";
    test_.clickInBar(volume, 0.98);
    secondLater();
    mark = 0;
    ASSERT_TRUE(pltest::pumpUntil(soundSince(mark), 30));
    EXPECT_FALSE(silent(soundAfter(mark))) << "silence at full volume";
  }

  // A click on the quality pop-up opens its menu over it; Escape closes it.
  void openAndCloseTheQualityMenu() {
    const ak::Rect quality = reference_->frameOf(bar()->qualityPopUp());
    auto menuShown = [&] {
      auto [x, y] = test_.inBar(quality, 0, 1);
      const int width = static_cast<int>(quality.size.width), height = static_cast<int>(quality.size.height);
      return countOf(x, y, width, height, bright) > width * height / 2;
    };
    ASSERT_FALSE(menuShown());
    test_.clickInBar(quality, 0.5);
    EXPECT_TRUE(pltest::pumpUntil(menuShown, 30)) << "no quality menu";
    pltest::xtest::tap("Escape");
    EXPECT_TRUE(pltest::pumpUntil([&] { return !menuShown(); }, 30));
  }

  // Drags from the dividers, a point left of each: the one before the player makes room, then the
  // one between the source list and the list widens the source list. The window stays put, and
  // the quit keeps where the dividers are.
  void moveTheDividersButNotTheWindow() {
    const int bottom = window().bottom() - kControlBar;
    // The browse pane's edge, where the list's bottom bar ends (right of its pop-up's dark text);
    // the source list's divider, above its bottom bar.
    auto paneEdge = [&] { return blackFrom(window().x + kBrowsePane - 60, bottom - 12); };
    auto sourceDivider = [&] { return blackFrom(window().x + 60, bottom - 27); };
    const int pane = paneEdge(), source = sourceDivider();
    ASSERT_GT(pane, 0);
    ASSERT_GT(source, 0);
    const int y = test_.rowTop(4);
    drag({{pane - 1, y}, {pane + 50, y}, {pane + 99, y}});
    EXPECT_TRUE(pltest::pumpUntil([&] { return paneEdge() == pane + 100; }, 30)) << paneEdge();
    drag({{source - 1, y}, {source + 30, y}, {source + 59, y}});
    EXPECT_TRUE(pltest::pumpUntil([&] { return sourceDivider() == source + 60; }, 30)) << sourceDivider();
    test_.window_ = mainWindow();
    ASSERT_TRUE(test_.window_);
    EXPECT_EQ(window().x, 0);
    EXPECT_EQ(window().y, 0);
    test_.quit();
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->synchronize();
    EXPECT_EQ(defaults->integerForKey("mainSplitViewPosition"), pane + 100 - window().x);
    EXPECT_EQ(defaults->integerForKey("leftSplitViewPosition"), source + 60 - window().x);
    paneAtQuit_ = pane + 100 - window().x;
    sourceAtQuit_ = source + 60 - window().x;
  }

  // A new start puts both dividers back where the quit left them, and keeps them there through
  // its first layout and a search; the statistics line of the row shows its digits whole.
  void startAgainWithTheDividersWhereTheyWere() {
    ASSERT_GT(sourceAtQuit_, 0);
    test_.launch();
    const int x = window().x;
    auto sourceDivider = [&] { return blackFrom(x + 60, window().bottom() - kControlBar - 27); };
    EXPECT_EQ(sourceDivider(), x + sourceAtQuit_) << "the source list is not as wide as it was";
    test_.search("pattern");
    // The row's title, right of the list's left edge past the source list.
    const int listLeft = x + sourceAtQuit_ + 1, row = test_.rowTop(0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return countOf(listLeft + 115, row + 4, 120, 26, bright) > 20; }, 60))
        << test_.logText();
    // Below the row, the list's background reaches the divider before the player.
    EXPECT_EQ(blackFrom(listLeft + 10, test_.rowTop(3)), x + paneAtQuit_);
    EXPECT_EQ(sourceDivider(), x + sourceAtQuit_);
    expectWholeRatingDigits(listLeft, row);
    test_.quit();
  }

 private:
  const MainWindow& window() const { return *test_.window_; }
  const ns::Ref<PlayerControlBar>& bar() const { return reference_->bar(); }

  // The first black pixel of a screen row from x on: a divider, or the black beside the panes'
  // edge; -1 within 600 pixels.
  static int blackFrom(int x, int y) {
    auto row = pltest::screenPixels(x, y, 600, 1);
    for (int i = 0; i < 600; ++i)
      if (row[i] == pltest::Pixel{}) return x + i;
    return -1;
  }

  // The rating of the row at `row` (no votes: "0.0"), right of its star in the statistics line,
  // 13 points high at 24 points above the row's bottom: its first "0" is closed at the top, as a
  // "U" is not; the middle column of the glyph has ink in its top rows.
  static void expectWholeRatingDigits(int listLeft, int row) {
    // The line and 6 rows above and below it.
    const int left = listLeft + 115, top = row + kRowHeight - 24 - 13 - 6, width = 150, height = 13 + 12;
    const auto band = pltest::screenPixels(left, top, width, height);
    auto at = [&](int x, int y) { return band[std::size_t(y) * width + x]; };
    auto ink = [&](int x, int y) {
      const auto& p = at(x, y);
      return !orange(p) && p.r + p.g + p.b > 200;
    };
    int starRight = -1;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (orange(at(x, y))) starRight = std::max(starRight, x);
    ASSERT_GT(starRight, 0) << "no star in the statistics line";
    auto column = [&](int x) {
      for (int y = 0; y < height; ++y)
        if (ink(x, y)) return true;
      return false;
    };
    // Past the star's own soft edge and the gap after it.
    int a = starRight + 1;
    while (a < width && column(a)) ++a;
    while (a < width && !column(a)) ++a;
    int b = a;
    while (b + 1 < width && column(b + 1)) ++b;
    ASSERT_LT(a, width) << "no rating text";
    int glyphTop = height, glyphBottom = -1, middleTop = height;
    for (int y = 0; y < height; ++y)
      for (int x = a; x <= b; ++x)
        if (ink(x, y)) glyphTop = std::min(glyphTop, y), glyphBottom = std::max(glyphBottom, y);
    for (int y = 0; y < height && middleTop == height; ++y)
      if (ink((a + b) / 2, y)) middleTop = y;
    EXPECT_GE(glyphBottom - glyphTop + 1, 7);
    EXPECT_LE(middleTop, glyphTop + 1) << "the top of the rating's 0 is cut: it reads as a U";
  }

  // The video view: right of the browse pane, between the title bar and the control bar.
  std::vector<pltest::Pixel> picture() const {
    const int top = window().belowTitleBar();
    return pltest::screenPixels(window().x + kBrowsePane + 1, top, window().width - kBrowsePane - 1,
                                window().bottom() - kControlBar - top);
  }
  static void secondLater() {
    const auto start = std::chrono::steady_clock::now();
    pltest::pumpUntil([&] { return std::chrono::steady_clock::now() - start >= std::chrono::seconds(1); }, 5);
  }
  bool moving() const {
    auto before = picture();
    secondLater();
    return !(picture() == before);
  }
  bool still() const {
    auto before = picture();
    secondLater();
    return picture() == before;
  }
  std::vector<pltest::Pixel> timeField() const {
    const ak::Rect field = reference_->frameOf(bar()->timeLabel());
    auto [x, y] = test_.inBar(field, 0, 1);
    return pltest::screenPixels(x, y, static_cast<int>(field.size.width),
                                static_cast<int>(field.size.height));
  }
  // Whether the field shows the text, as this process draws it (a few pixels may differ).
  bool shows(const std::vector<pltest::Pixel>& expected) const {
    const auto seen = timeField();
    int off = 0;
    for (std::size_t i = 0; i < seen.size(); ++i)
      off += std::abs(seen[i].r - expected[i].r) + std::abs(seen[i].g - expected[i].g) +
                 std::abs(seen[i].b - expected[i].b) >
             24;
    return off <= 3;
  }
  // Whether the field shows one of the `count` times from 0:`first` on.
  bool showsATimeFrom(int first, int count) {
    for (int t = first; t < first + count; ++t)
      if (shows(reference_->timeField("0:" + std::to_string(t)))) return true;
    return false;
  }

  std::string soundAfter(std::uintmax_t from) const {
    std::ifstream in(sound_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool silent(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0 || c == char(0x80); });
  }
  // Whether 64 KiB of sound (a third of a second) came since `mark`, the size at the first look.
  std::function<bool()> soundSince(std::uintmax_t& mark) const {
    return [this, &mark] {
      std::error_code error;
      const std::uintmax_t size = std::filesystem::file_size(sound_, error);
      if (error) return false;
      if (mark == 0) mark = size;
      return size > mark + 64 * 1024;
    };
  }

  MainWindowOnScreen& test_;
  const std::string sound_;
  std::optional<ReferenceBar> reference_;
  // Where the dividers were at the quit, from the window's left edge.
  int paneAtQuit_ = -1, sourceAtQuit_ = -1;
};

TEST_F(MainWindowOnScreen, TheControlBarPausesPlaysSeeksAndSetsTheVolumeAndTheDividersMoveButNotTheWindow) {
  ControlBarSteps steps(*this);
  steps.sendSoundToAFile();
  for (void (ControlBarSteps::*step)() :
       {&ControlBarSteps::playAClip, &ControlBarSteps::pauseAndPlay, &ControlBarSteps::seekByClickAndDrag,
        &ControlBarSteps::silenceAndRestoreTheSound, &ControlBarSteps::openAndCloseTheQualityMenu,
        &ControlBarSteps::moveTheDividersButNotTheWindow,
        &ControlBarSteps::startAgainWithTheDividersWhereTheyWere}) {
    (steps.*step)();
    if (HasFatalFailure()) return;
  }
}

TEST_F(MainWindowOnScreen, ARightClickOnARowOpensTheVideoMenuAndEscapeClosesIt) {
  serve({"Cats 1", "Cats 2", "Cats 3", "Cats 4"});
  launch();
  search("cats");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(2) > 20; }, 60)) << logText();
  // The menu opens at the pointer, down and to the right: its light face over the dark rows
  // and the player's black.
  const int x = window_->x + kListLeft + 100, y = rowTop(2) + 40;
  auto menuPixels = [&] { return countOf(x + 4, y + 4, 120, 60, bright); };
  const int before = menuPixels();
  ASSERT_LT(before, 1000);
  pltest::xtest::click(x, y, 3);
  EXPECT_TRUE(pltest::pumpUntil([&] { return menuPixels() > 5000; }, 30)) << menuPixels() << "\n"
                                                                          << logText();
  // The video menu's dozen items and separators: far taller than a menu of a few items.
  const Box menu = boxOf(x, y, 240, 420, bright);
  EXPECT_GT(menu.bottom - menu.top, 250) << menu.top << " to " << menu.bottom;
  pltest::xtest::tap("Escape");
  EXPECT_TRUE(pltest::pumpUntil([&] { return menuPixels() < 1000; }, 30)) << menuPixels();
  // Nothing was chosen: the list is still there, and a click selects as before.
  EXPECT_GT(titlePixels(2), 20);
  quit();
}

TEST_F(MainWindowOnScreen, PartialRedrawsOfTheListDuringADownloadLeaveThePixelsOfAWholeRedraw) {
  serve({"Cats 1", "Cats 2", "Cats 3", "Cats 4"});
  // The clip's download sends its first part and then holds still.
  std::string bytes;
  {
    std::ifstream in(clip_, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), 20000u);
  origin_.route("GET", "/clip", [&](const pltest::FakeRequest&) {
    return pltest::FakeReply::stalled(bytes.substr(0, 16384), static_cast<long long>(bytes.size()));
  });
  launch();
  search("cats");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(3) > 20; }, 60)) << logText();
  const int listX = window_->x + kListLeft + 100;
  pltest::xtest::click(listX, rowTop(1) + 40);
  pltest::xtest::click(listX, rowTop(1) + 40);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        for (const auto& request : origin_.requests())
          if (request.path == "/clip") return true;
        return false;
      },
      60))
      << logText();

  // Ten selections moved over the rows, each redrawing two of them, while the download runs.
  auto selected = [&](int row) {
    return countOf(window_->x + kListLeft, rowTop(row) + 10, kBrowsePane - kListLeft, 60, orange) > 50;
  };
  for (int i = 0; i < 10; ++i) {
    const int row = std::vector<int>{0, 2, 3}[i % 3];
    pltest::xtest::click(listX, rowTop(row) + 40);
    ASSERT_TRUE(pltest::pumpUntil([&] { return selected(row); }, 30)) << i << "\n" << logText();
  }
  // The pointer leaves the list; the thumbnail column as those redraws left it, once steady.
  pltest::xtest::moveTo(window_->x + kBrowsePane + 200, rowTop(2));
  const int columnX = window_->x + kListLeft, columnY = rowTop(0), columnW = 110, columnH = 4 * kRowPitch;
  // Steady means unchanged for two seconds, far longer than the play button's fade: two equal
  // pictures in a row can also come from an application that a loaded machine did not run
  // between them.
  std::vector<pltest::Pixel> partial = pltest::screenPixels(columnX, columnY, columnW, columnH);
  auto unchangedSince = std::chrono::steady_clock::now();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto now = pltest::screenPixels(columnX, columnY, columnW, columnH);
        if (!(now == partial)) {
          partial = std::move(now);
          unchangedSince = std::chrono::steady_clock::now();
          return false;
        }
        return std::chrono::steady_clock::now() - unchangedSince >= std::chrono::seconds(2);
      },
      30));

  // Drawn whole: the window resized by a point and back.
  const int width = window_->width, height = window_->height;
  resize(width + 1, height);
  resize(width, height);
  std::vector<pltest::Pixel> whole;
  const bool same = pltest::pumpUntil(
      [&] { return (whole = pltest::screenPixels(columnX, columnY, columnW, columnH)) == partial; }, 30);
  std::string columns;
  for (int x = 0; x < columnW && !same; ++x)
    for (int y = 0; y < columnH; ++y)
      if (!(whole[std::size_t(y) * columnW + x] == partial[std::size_t(y) * columnW + x])) {
        columns += " " + std::to_string(x);
        break;
      }
  EXPECT_TRUE(same) << "columns differing:" << columns;
  quit();
}

TEST_F(MainWindowOnScreen, TheSourceListReachesTheWindowsBottomAtEverySize) {
  serve({"Cats"});
  launch();
  // The source list's own colour, between its rows and its bottom bar.
  const pltest::Pixel background = pltest::screenPixel(window_->x + 60, top() + 300);
  ASSERT_FALSE(background == pltest::Pixel{});
  for (auto [width, height] : {std::pair{800, 500}, {1400, 860}, {900, 600}}) {
    resize(width, height);
    EXPECT_TRUE(pltest::pumpUntil([&] { return sourceListPixel() == background; }, 30))
        << width << "x" << height << ": " << int(sourceListPixel().r) << "," << int(sourceListPixel().g)
        << "," << int(sourceListPixel().b);
  }
  quit();
}

TEST_F(MainWindowOnScreen, TheSuggestionsCloseOnEscapeAndOnTheClearButton) {
  serve({"Cats"});
  launch();
  // The popover's white list, below the field.
  auto popoverShown = [&] { return countOf(window_->x + 150, top() + 100, 160, 60, bright) > 2000; };
  pltest::xtest::click(window_->x + kSearchX, top() + kSearchY);
  ASSERT_TRUE(run("xdotool type --delay 40 ca"));
  ASSERT_TRUE(pltest::pumpUntil(popoverShown, 60)) << logText();
  pltest::xtest::tap("Escape");
  EXPECT_TRUE(pltest::pumpUntil([&] { return !popoverShown(); }, 30));

  pltest::xtest::click(window_->x + kSearchX, top() + kSearchY);
  ASSERT_TRUE(run("xdotool type --delay 40 cat"));
  ASSERT_TRUE(pltest::pumpUntil(popoverShown, 60));
  pltest::xtest::click(window_->x + kClearX, top() + kSearchY);
  EXPECT_TRUE(pltest::pumpUntil([&] { return !popoverShown(); }, 30));
  quit(false);
}

TEST_F(MainWindowOnScreen, TitlesInDevanagariAndHangulAreDrawnWithTheirOwnLetters) {
  serve({"नमस्ते दुनिया", "안녕하세요 세계", "Cats and dogs"});
  auto titles = [&] {
    std::vector<std::vector<pltest::Pixel>> shots;
    for (int row = 0; row < 3; ++row)
      shots.push_back(pltest::screenPixels(window_->x + kListLeft + 110, rowTop(row) + 4, 120, 26));
    return shots;
  };
  launch("fonts.log");
  search("cats");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(2) > 20; }, 60)) << logText();
  const auto fonts = titles();
  quit(false);

  // Again with DejaVu alone, which has no letters of these scripts.
  const std::string config = screen_.sandbox().path("dejavu-only.conf");
  {
    std::ofstream(config)
        << "<?xml version=\"1.0\"?>\n<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir>"
        << "<cachedir>" << screen_.sandbox().path("fontconfig") << "</cachedir></fontconfig>\n";
  }
  screen_.sandbox().set("FONTCONFIG_FILE", config);
  launch("dejavu.log");
  search("cats");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(2) > 20; }, 60)) << logText();
  const auto dejaVu = titles();
  quit(false);

  EXPECT_TRUE(fonts[2] == dejaVu[2]) << "a Latin title is drawn in DejaVu either way";
  EXPECT_FALSE(fonts[0] == dejaVu[0]) << "Devanagari drawn as in a font that lacks it";
  EXPECT_FALSE(fonts[1] == dejaVu[1]) << "Hangul drawn as in a font that lacks it";
}

// A clip keyed only every 10 s whose pictures show their frame number. Played, then paused near
// 3 s by the media key: each Ctrl+Right moves the picture on by exactly 5 s, each Ctrl+Left back,
// and from below 5 s back to the start. The position is read off the picture on the screen.
TEST_F(MainWindowOnScreen, ShortSeeksMoveAPausedPictureByExactlyFiveSeconds) {
  constexpr int kFrames = 25;  // a second of the clip
  serve({"Frame numbers"},
        {.seconds = 30, .pattern = pltest::MediaPattern::FrameCode, .keyframeSeconds = 10});
  ASSERT_EQ(pltest::keyframeTimes(clip_), (std::vector<double>{0, 10, 20}));
  launch();
  search("frames");
  ASSERT_TRUE(pltest::pumpUntil([&] { return titlePixels(0) > 20; }, 60)) << logText();

  // The frame number the picture in the video view shows: the picture is what is not black
  // there (a clear bit is dark grey), read along a row near its top.
  auto shownFrame = [&]() -> std::optional<int> {
    const int left = window_->x + kBrowsePane, top = window_->belowTitleBar();
    const int width = window_->width - kBrowsePane, height = window_->bottom() - top - kControlBar;
    const Box picture =
        boxOf(left, top, width, height, [](const pltest::Pixel& p) { return p.r + p.g + p.b > 90; });
    if (picture.empty() || picture.right - picture.left < 200) return std::nullopt;
    std::vector<int> row;
    for (const auto& p : pltest::screenPixels(picture.left, picture.top + (picture.bottom - picture.top) / 5,
                                              picture.right - picture.left + 1, 1))
      row.push_back((p.r + p.g + p.b) / 3);
    return pltest::readFrameCode(row);
  };
  // The frame on show once it differs from `before` and has stood still for a second.
  auto nextStill = [&](std::optional<int> before) {
    std::optional<int> seen = shownFrame();
    auto since = std::chrono::steady_clock::now();
    pltest::pumpUntil(
        [&] {
          auto now = shownFrame();
          if (now != seen) {
            seen = now;
            since = std::chrono::steady_clock::now();
            return false;
          }
          return seen && seen != before &&
                 std::chrono::steady_clock::now() - since >= std::chrono::seconds(1);
        },
        60);
    return seen;
  };

  const int listX = window_->x + kListLeft + 100;
  pltest::xtest::click(listX, rowTop(0) + 40);
  pltest::xtest::click(listX, rowTop(0) + 40);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto frame = shownFrame();
        return frame && *frame >= 5 * kFrames / 2;
      },
      60))
      << logText();
  pltest::xtest::tap("XF86AudioPlay");
  const std::optional<int> paused = nextStill(std::nullopt);
  ASSERT_TRUE(paused);

  int expected = *paused;
  auto press = [&](const char* arrow, int frames) {
    SCOPED_TRACE(std::string(arrow) + " from frame " + std::to_string(expected));
    pltest::xtest::chord({"Control_L", arrow});
    const int was = expected;
    expected = std::max(0, expected + frames);
    const auto shown = nextStill(was);
    ASSERT_TRUE(shown) << logText();
    // 5 s within 0.1 s: 125 frames, give or take two.
    EXPECT_LE(std::abs(*shown - expected), 2) << *shown << " for " << expected;
    expected = *shown;
  };
  press("Right", 5 * kFrames);
  press("Right", 5 * kFrames);  // past the key frame at 10 s
  press("Left", -5 * kFrames);
  press("Left", -5 * kFrames);
  // Back until the start, the last press from below 5 s.
  while (expected > 0 && !HasFailure()) press("Left", -5 * kFrames);
  EXPECT_EQ(expected, 0);
  quit();
}

// The Data API is down at first (its port refuses connections), then answers the real service's
// quota error, then the results: each Return on the same text asks again.
TEST_F(MainWindowOnScreen, ReturnOnTheSameTextSearchesAgainAfterTheSearchFailed) {
  serve({"Cats 1", "Cats 2", "Cats 3"});
  pltest::PortGate gate(static_cast<std::uint16_t>(api_.server().port()));
  screen_.sandbox().set("PELORIN_GOOGLE_API_URL", "https://127.0.0.1:" + std::to_string(gate.port()));
  std::string quota;
  {
    std::ifstream in(PELORIN_SOURCE_DIR "/tests/fixtures/dataapi/error-403.json");
    quota.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_NE(quota.find("quotaExceeded"), std::string::npos);
  api_.script("youtube.search.list", testsupport::FakeDataAPI::Script(
                                         testsupport::FakeDataAPI::Answer::JSONError, 403, 403, 1, quota));
  launch();
  // Whether the latest run of the search has failed (its error logged).
  auto failed = [&] {
    const std::string log = logText();
    const auto searched = log.rfind("] search: cats");
    return searched != std::string::npos && log.find("] error: ", searched) != std::string::npos;
  };
  auto returnOnTheSameText = [&] {
    place();
    pltest::xtest::click(window_->x + kSearchX, top() + kSearchY);
    pltest::xtest::tap("Return");
  };

  search("cats");
  ASSERT_TRUE(pltest::pumpUntil(failed, 60)) << logText();
  EXPECT_TRUE(api_.callsOf("youtube.search.list").empty());
  EXPECT_LT(titlePixels(0), 5);

  gate.open();
  returnOnTheSameText();
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return api_.callsOf("youtube.search.list").size() == 1 && failed(); }, 60))
      << gate.connections() << " connections, " << api_.postCount() << " posts\n"
      << logText();
  EXPECT_LT(titlePixels(0), 5);

  returnOnTheSameText();
  EXPECT_TRUE(pltest::pumpUntil([&] { return titlePixels(0) > 20 && titlePixels(2) > 20; }, 60)) << logText();
  const auto searches = api_.callsOf("youtube.search.list");
  ASSERT_GE(searches.size(), 2u);
  for (const auto& call : searches) EXPECT_EQ(call.params["q"].stringValue(), "cats");
  quit();
}

}  // namespace
