#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Make.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/ScopedController.h"
#include "tests/ui/views/UiViewsTestSupport.h"
#include "ui/AlertBlocks.h"
#include "ui/BezierPathMCAdditions.h"
#include "ui/ButtonTextColor.h"
#include "ui/ImageRoundedCorner.h"
#include "ui/MenuPopUpRegularMenuAdditions.h"

using ak::MakeRect;
using uiviews_test::AppWithResources;

namespace categories_test {

// A menu items' target that records the titles of the items it was sent.
class SortTarget : public ns::Object {
 public:
  std::vector<std::string> chosen;
  void sortBy(ns::Ref<ns::Object> sender) {
    auto item = std::dynamic_pointer_cast<ak::MenuItem>(sender);
    chosen.push_back(item ? item->title() : "?");
  }
};

// Records what each sheet's closures ran.
struct Outcome {
  std::vector<std::string> log;
  AlertBlocks::DismissBlock dismiss(const std::string& who) {
    return [this, who](int index) { log.push_back(who + " dismiss " + std::to_string(index)); };
  }
  AlertBlocks::CancelBlock cancel(const std::string& who) {
    return [this, who] { log.push_back(who + " cancel"); };
  }
};

ns::Ref<ak::Alert> showAlert(const ns::Ref<ak::Window>& window, const std::optional<std::string>& cancel,
                             const std::vector<std::string>& others, AlertBlocks::DismissBlock onDismiss,
                             AlertBlocks::CancelBlock onCancel) {
  return AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, "Delete the downloaded file?", "It can be downloaded again.", 1, cancel, others,
          std::move(onDismiss), std::move(onCancel));
}

}  // namespace categories_test

using categories_test::Outcome;
using categories_test::SortTarget;

PL_CLASS_NAMED(categories_test::SortTarget, "CTSortTarget", ns::Object) {
  cls.method<&SortTarget::sortBy>("sortBy:");
}

TEST(AlertBlocks, EachButtonEndsTheSheetWithItsClosure) {
  struct Case {
    std::optional<std::string> cancel;
    std::vector<std::string> others;
    std::string clicked;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Cancel", {"Delete File", "Move to Cache"}, "Delete File", "sheet dismiss 0"},
      {"Cancel", {"Delete File", "Move to Cache"}, "Move to Cache", "sheet dismiss 1"},
      {"Cancel", {"Delete File", "Move to Cache"}, "Cancel", "sheet cancel"},
      {"Cancel", {}, "Cancel", "sheet cancel"},
      {std::nullopt, {"Delete File", "Move to Cache"}, "Delete File", "sheet dismiss 0"},
      {std::nullopt, {"Delete File", "Move to Cache"}, "Move to Cache", "sheet dismiss 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clicked + (c.cancel ? " with a cancel button" : " without a cancel button"));
    AppWithResources fixture;
    pltest::ModalScript script;
    auto window = fixture.app.window(MakeRect(0, 0, 500, 300));
    Outcome outcome;
    script.clickAlertButton(c.clicked);
    auto alert = categories_test::showAlert(window, c.cancel, c.others, outcome.dismiss("sheet"),
                                            outcome.cancel("sheet"));
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    EXPECT_TRUE(script.shownAlerts()[0].sheet);
    std::vector<std::string> buttons = c.others;
    if (c.cancel) buttons.push_back(*c.cancel);
    EXPECT_EQ(script.shownAlerts()[0].buttons, buttons);
    EXPECT_EQ(script.shownAlerts()[0].messageText, "Delete the downloaded file?");
    fixture.app.dispatchQueued();
    EXPECT_EQ(outcome.log, std::vector<std::string>{c.expected});
    EXPECT_EQ(window->attachedSheet(), nullptr);
  }
}

TEST(AlertBlocks, WithoutAWindowTheAlertRunsApplicationModal) {
  AppWithResources fixture;
  pltest::ModalScript script;
  Outcome outcome;
  script.clickAlertButton("Move to Cache");
  categories_test::showAlert(nullptr, "Cancel", {"Delete File", "Move to Cache"}, outcome.dismiss("modal"),
                             outcome.cancel("modal"));
  EXPECT_EQ(outcome.log, std::vector<std::string>{"modal dismiss 1"});
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_FALSE(script.shownAlerts()[0].sheet);
}

TEST(AlertBlocks, ANilClosureRunsNothing) {
  AppWithResources fixture;
  pltest::ModalScript script;
  auto window = fixture.app.window(MakeRect(0, 0, 500, 300));
  Outcome outcome;
  script.clickAlertButton("Delete File").clickAlertButton("Cancel");
  categories_test::showAlert(window, "Cancel", {"Delete File"}, nullptr, outcome.cancel("first"));
  fixture.app.dispatchQueued();
  categories_test::showAlert(window, "Cancel", {"Delete File"}, outcome.dismiss("second"), nullptr);
  fixture.app.dispatchQueued();
  EXPECT_TRUE(outcome.log.empty());
  EXPECT_EQ(script.shownAlerts().size(), 2u);
}

TEST(AlertBlocks, TwoSheetsOnOneWindowEachRunTheirOwnClosures) {
  AppWithResources fixture;
  pltest::ModalScript script;
  auto window = fixture.app.window(MakeRect(0, 0, 500, 300));
  Outcome outcome;
  // The quality question is answered first; the delete question waits behind it.
  script.clickAlertButton("720p").clickAlertButton("Cancel");
  auto quality = AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, "Choose the quality", "", 1, "Cancel", {"1080p", "720p"}, outcome.dismiss("quality"),
          outcome.cancel("quality"));
  auto remove = categories_test::showAlert(window, "Cancel", {"Delete File"}, outcome.dismiss("delete"),
                                           outcome.cancel("delete"));
  EXPECT_EQ(window->attachedSheet(), quality->window());
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  fixture.app.dispatchQueued();
  ASSERT_EQ(script.shownAlerts().size(), 2u);
  EXPECT_EQ(script.shownAlerts()[1].buttons, (std::vector<std::string>{"Delete File", "Cancel"}));
  EXPECT_EQ(outcome.log, (std::vector<std::string>{"quality dismiss 1", "delete cancel"}));
  EXPECT_EQ(window->attachedSheet(), nullptr);
}

TEST(AlertBlocks, InFullScreenTheAlertWindowSitsAtTheTopLevel) {
  for (bool fullScreen : {true, false}) {
    SCOPED_TRACE(fullScreen ? "full screen" : "windowed");
    AppWithResources fixture;
    pltest::ModalScript script;
    auto controller = ns::make<testsupport::FakeMainWindowController>();
    testsupport::FakeMainWindowController::Answers answers;
    answers.fullScreen = fullScreen;
    controller->setAnswers(answers);
    testsupport::ScopedMainWindowController installed(controller);
    auto window = fixture.app.window(MakeRect(0, 0, 500, 300));
    Outcome outcome;
    script.clickAlertButton("OK");
    auto alert = categories_test::showAlert(window, std::nullopt, {"OK"}, outcome.dismiss("sheet"), nullptr);
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    EXPECT_EQ(script.shownAlerts()[0].level == 1000, fullScreen);
    EXPECT_EQ(alert->window()->level() == 1000, fullScreen);
    fixture.app.dispatchQueued();
    EXPECT_EQ(outcome.log, std::vector<std::string>{"sheet dismiss 0"});
  }
}

TEST(MenuPopUpRegularMenuAdditions, APullDownShowsACopyWithAnEmptyTitleItemAndSendsTheChoice) {
  AppWithResources fixture;
  pltest::ModalScript script;
  auto window = fixture.app.window(MakeRect(0, 0, 300, 200));
  auto view = ak::make<ak::View>(MakeRect(20, 20, 80, 24));
  window->contentView()->addSubview(view);
  auto target = ns::make<SortTarget>();
  auto menu = ak::Menu::initWithTitle("Sort");
  for (const char* title : {"relevance", "view count", "upload date"})
    menu->addItemWithTitle_action_keyEquivalent(title, ns::Sel("sortBy:"), "")->setTarget(target);

  script.choose("view count");
  MenuPopUpRegularMenuAdditions::popUpMenu_forView_pullsDown(menu, view, true);
  EXPECT_EQ(target->chosen, std::vector<std::string>{"view count"});
  ASSERT_EQ(script.shown().size(), 1u);
  const auto& shown = script.shown()[0];
  EXPECT_EQ(shown.kind, ak::MenuPresentation::Kind::PopUpCell);
  ASSERT_EQ(shown.items.size(), 4u);
  EXPECT_EQ(shown.items[0].title, "");
  EXPECT_EQ(shown.items[2].title, "view count");
  // The caller's menu is as it was.
  ASSERT_EQ(menu->numberOfItems(), 3);
  EXPECT_EQ(menu->itemAtIndex(0)->title(), "relevance");

  // A pop-up (not pull-down) shows the items as they are.
  script.choose("upload date");
  MenuPopUpRegularMenuAdditions::popUpMenu_forView_pullsDown(menu, view, false);
  EXPECT_EQ(target->chosen, (std::vector<std::string>{"view count", "upload date"}));
  ASSERT_EQ(script.shown().size(), 2u);
  EXPECT_EQ(script.shown()[1].items.size(), 3u);
}

TEST(MenuPopUpRegularMenuAdditions, TheAccountMenuOpensOverTheButtonsRightHand100Points) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 300, 200));
  auto button = ak::make<ak::Button>(MakeRect(10, 10, 150, 24));
  window->contentView()->addSubview(button);
  auto menu = ak::Menu::initWithTitle("Account");
  menu->addItemWithTitle_action_keyEquivalent("Sign Out", ns::Sel("signOut:"), "");
  std::vector<ak::MenuPresentation> shown;
  ak::Menu::setAnswerer([&](const ak::MenuPresentation& p) {
    shown.push_back(p);
    return ns::Ref<ak::MenuItem>();
  });
  MenuPopUpRegularMenuAdditions::popUpMenu_forLoginButton(menu, button);
  MenuPopUpRegularMenuAdditions::popUpMenu_forLoginButton(menu, nullptr);
  ak::Menu::setAnswerer(nullptr);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].frame, MakeRect(50, 0, 100, 24));
  EXPECT_EQ(shown[0].view, button);
  EXPECT_EQ(shown[0].menu->itemAtIndex(0)->title(), "");
  EXPECT_EQ(shown[1].frame, MakeRect(-100, 0, 100, 0));
  EXPECT_EQ(menu->numberOfItems(), 1);
}

TEST(ButtonTextColor, ReadsAndWritesTheTitlesForegroundColour) {
  AppWithResources fixture;
  auto button = ak::make<ak::Button>(MakeRect(0, 0, 100, 24));
  auto font = ak::Font::systemFontOfSize(12);

  // Set: every character takes the colour, the font stays.
  ns::Dictionary fontOnly;
  fontOnly.set(ak::FontAttributeName, ns::Value(font));
  button->setAttributedTitle(ns::make<ak::AttributedString>("Play", fontOnly));
  ButtonTextColor::setTextColor(*button, ak::colors::redColor());
  auto red = ButtonTextColor::textColor(*button);
  ASSERT_TRUE(red);
  EXPECT_TRUE(red->isEqual(ak::colors::redColor().get()));
  auto title = button->attributedTitle();
  EXPECT_EQ(title->string(), "Play");
  auto last = title->fontAttributesInRange(ns::Range{3, 1});
  EXPECT_TRUE(last.objectForKey(ak::ForegroundColorAttributeName)
                  .objectAs<ak::Color>()
                  ->isEqual(ak::colors::redColor().get()));
  EXPECT_TRUE(last.objectForKey(ak::FontAttributeName).objectAs<ak::Font>()->isEqual(font.get()));

  // A title without any attributes reads the control text colour.
  button->setAttributedTitle(ns::make<ak::AttributedString>("Play"));
  auto plain = ButtonTextColor::textColor(*button);
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->isEqual(ak::colors::controlTextColor().get()));
  button->setAttributedTitle(ns::make<ak::AttributedString>(""));
  ASSERT_TRUE(ButtonTextColor::textColor(*button));

  // Attributes without a colour read nil.
  button->setAttributedTitle(ns::make<ak::AttributedString>("Play", fontOnly));
  EXPECT_EQ(ButtonTextColor::textColor(*button), nullptr);
}

TEST(ImageRoundedCorner, RoundsTheCornersAndKeepsTheExtent) {
  AppWithResources fixture;
  struct Case {
    std::size_t width, height;
  };
  for (const auto& c : std::vector<Case>{{100, 60}, {60, 100}, {40, 40}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<std::uint8_t> rgba(c.width * c.height * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
      rgba[i] = 200;
      rgba[i + 1] = 40;
      rgba[i + 2] = 40;
      rgba[i + 3] = 255;
    }
    auto source = ns::make<ak::Image>(c.width, c.height, rgba);
    auto rounded = ImageRoundedCorner::roundCorners(source);
    ASSERT_TRUE(rounded);
    EXPECT_EQ(rounded->size().width, double(c.width));
    EXPECT_EQ(rounded->size().height, double(c.height));
    for (auto [x, y] : std::vector<std::pair<std::size_t, std::size_t>>{
             {0, 0}, {c.width - 1, 0}, {0, c.height - 1}, {c.width - 1, c.height - 1}}) {
      EXPECT_EQ(rounded->colorAtX_y(x, y).a, 0) << x << "," << y;
    }
    EXPECT_TRUE(
        uiviews_test::colorNear(rounded->colorAtX_y(c.width / 2, c.height / 2), {200, 40, 40, 255}, 1));
    EXPECT_TRUE(uiviews_test::colorNear(rounded->colorAtX_y(c.width / 2, 0), {200, 40, 40, 255}, 1));
    EXPECT_EQ(source->colorAtX_y(0, 0).a, 255);  // the source is left alone
  }
  EXPECT_EQ(ImageRoundedCorner::roundCorners(nullptr), nullptr);
  auto picture = ak::Image::imageNamed("video_bar");
  EXPECT_EQ(ImageRoundedCorner::offsetImage_by(picture, 4.0f), picture);
}

TEST(BezierPathMCAdditions, TheInnerShadowDarkensOnlyJustInsideThePathsTopEdge) {
  for (bool flipped : {false, true}) {
    SCOPED_TRACE(flipped ? "flipped" : "unflipped");
    pltest::Canvas canvas(60, 60, flipped);
    canvas.clear({255, 255, 255, 255});
    // The same square on screen either way: rows 10 to 49 from the top.
    auto path = ak::BezierPath::bezierPathWithRect(MakeRect(10, 10, 40, 40));
    ak::Shadow shadow;
    shadow.setShadowOffset({0, -3});
    shadow.setShadowBlurRadius(0);
    shadow.setShadowColor(ak::Color::colorWithDeviceWhite_alpha(0, 1));
    BezierPathMCAdditions::fillWithInnerShadow(*path, shadow);
    canvas.save(flipped ? "inner-shadow-flipped" : "inner-shadow");
    EXPECT_EQ(shadow.shadowOffset().height, -3);
    // Dark just inside the top edge, untouched further in and everywhere outside.
    for (std::size_t row : {10u, 11u, 12u}) EXPECT_LT(canvas.at(30, row).r, 60) << "row " << row;
    for (std::size_t row : {14u, 30u, 48u}) EXPECT_GT(canvas.at(30, row).r, 250) << "row " << row;
    for (auto [x, y] : std::vector<std::pair<std::size_t, std::size_t>>{{30, 8}, {30, 52}, {5, 30}, {55, 30}})
      EXPECT_GT(canvas.at(x, y).r, 250) << x << "," << y;
  }
}
