#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/appkit/SavePanel.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using ak::MakeRect;
namespace fs = std::filesystem;

namespace {

void touch(const fs::path& p) {
  std::ofstream(p) << "x";
}

void runPending() {
  ns::RunLoop::currentRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
}

}  // namespace

TEST(SavePanels, ASheetAnsweredOKHandsTheURLInTheChosenFolder) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  const fs::path folder = app.sandbox().home() / "exports";
  fs::create_directories(folder);
  auto window = app.window(MakeRect(0, 0, 600, 400));
  auto panel = ns::make<ak::SavePanel>();
  panel->setNameFieldStringValue("pelorin_bookmarks.json");
  panel->setDirectoryURL(ns::URL::fileURLWithPath_isDirectory(folder.string(), true));
  script.saveAs(folder.string(), panel->nameFieldStringValue());
  std::vector<long> codes;
  panel->beginSheetModalForWindow_completionHandler(window, [&](long code) { codes.push_back(code); });
  // The caller returns before the answer; the sheet hangs on the window meanwhile.
  EXPECT_TRUE(codes.empty());
  EXPECT_EQ(window->attachedSheet(), panel->window());
  runPending();
  EXPECT_EQ(codes, (std::vector<long>{ak::ModalResponseOK}));
  ASSERT_TRUE(panel->URL());
  EXPECT_EQ(panel->URL()->path(), (fs::canonical(folder) / "pelorin_bookmarks.json").string());
  EXPECT_EQ(window->attachedSheet(), nullptr);
  ASSERT_EQ(script.shownPanels().size(), 1u);
  EXPECT_EQ(script.shownPanels()[0].nameFieldStringValue, "pelorin_bookmarks.json");
  EXPECT_EQ(script.shownPanels()[0].directory, folder.string());
  EXPECT_FALSE(script.shownPanels()[0].open);
}

TEST(SavePanels, ASheetWaitsBehindTheSheetAlreadyOnTheWindow) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  auto window = app.window(MakeRect(0, 0, 600, 400));
  auto alert = ns::make<ak::Alert>();
  alert->setMessageText("Export the bookmarks?");
  std::vector<std::string> order;
  script.leaveAlertOpen();
  alert->beginSheetModalForWindow_completionHandler(window, [&](long) { order.push_back("alert"); });
  auto panel = ns::make<ak::SavePanel>();
  panel->setNameFieldStringValue("pelorin_bookmarks.json");
  const fs::path folder = app.sandbox().home();
  script.saveAs(folder.string(), "pelorin_bookmarks.json");
  panel->beginSheetModalForWindow_completionHandler(
      window, [&](long code) { order.push_back("panel " + std::to_string(code)); });
  runPending();
  EXPECT_TRUE(script.shownPanels().empty());
  EXPECT_EQ(window->attachedSheet(), alert->window());
  alert->window()->makeKeyWindow();
  pltest::key(alert->window(), 36, "\r");
  app.dispatchQueued();  // the alert ends, the panel hangs and is answered on the next pass
  runPending();
  EXPECT_EQ(order, (std::vector<std::string>{"alert", "panel 1"}));
  EXPECT_EQ(script.shownPanels().size(), 1u);
  EXPECT_EQ(window->attachedSheet(), nullptr);
}

TEST(SavePanels, RefuseNamesThatLeaveTheFolderAndAskToReplace) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  const fs::path folder = app.sandbox().home() / "exports";
  fs::create_directories(folder);
  touch(folder / "old.json");
  struct Case {
    std::string folder;
    std::string name;
    bool confirm;
    const char* refusal;  // "" when taken
  };
  const std::vector<Case> cases = {
      {folder.string(), "../x", true, "\"../x\" is no plain file name"},
      {folder.string(), "..", true, "\"..\" is no plain file name"},
      {folder.string(), "a/b.json", true, "\"a/b.json\" is no plain file name"},
      {folder.string(), "", true, "\"\" is no plain file name"},
      {(folder / "missing").string(), "x.json", true, "does not exist"},
      {folder.string(), "old.json", false, "\"old.json\" already exists and was not replaced"},
      {folder.string(), "old.json", true, ""},
      {folder.string(), "new", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto panel = ns::make<ak::SavePanel>();
    panel->setAllowedFileTypes({"json"});
    script.saveAs(c.folder, c.name, c.confirm);
    if (*c.refusal) script.cancelPanel();
    const long code = panel->runModal();
    if (*c.refusal) {
      EXPECT_EQ(code, ak::ModalResponseCancel);
      EXPECT_EQ(panel->URL(), nullptr);
      ASSERT_EQ(script.shownPanels().back().refusals.size(), 1u);
      EXPECT_NE(script.shownPanels().back().refusals[0].find(c.refusal), std::string::npos)
          << script.shownPanels().back().refusals[0];
    } else {
      EXPECT_EQ(code, ak::ModalResponseOK);
      ASSERT_TRUE(panel->URL());
      // The answered file always lies in the chosen folder, with an allowed type.
      EXPECT_EQ(fs::path(panel->URL()->path()).parent_path(), fs::canonical(folder));
      EXPECT_EQ(fs::path(panel->URL()->path()).extension(), ".json");
    }
  }
  // The cancelled answers wrote nothing.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST(OpenPanels, TakeOnlyExistingItemsOfTheKindsTheyAllow) {
  pltest::HeadlessApp app;
  pltest::ModalScript script;
  const fs::path folder = app.sandbox().home() / "imports";
  fs::create_directories(folder / "sub");
  touch(folder / "a.json");
  touch(folder / "b.json");
  touch(folder / "c.txt");
  struct Case {
    const char* name;
    bool directories;
    bool multiple;
    std::vector<std::string> paths;
    const char* refusal;  // "" when taken
  };
  const std::vector<Case> cases = {
      {"a folder refused", false, false, {(folder / "sub").string()}, "is a folder"},
      {"a folder taken", true, false, {(folder / "sub").string()}, ""},
      {"missing", false, false, {(folder / "none.json").string()}, "does not exist"},
      {"wrong type", false, false, {(folder / "c.txt").string()}, "type not allowed"},
      {"two, single", false, false, {(folder / "a.json").string(), (folder / "b.json").string()}, "only one"},
      {"two, multiple", false, true, {(folder / "a.json").string(), (folder / "b.json").string()}, ""},
      {"one file", false, false, {(folder / "a.json").string()}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto panel = ns::make<ak::OpenPanel>();
    panel->setCanChooseDirectories(c.directories);
    panel->setAllowsMultipleSelection(c.multiple);
    panel->setAllowedFileTypes({"json"});
    script.choosePaths(c.paths);
    if (*c.refusal) script.cancelPanel();
    const long code = panel->runModal();
    if (*c.refusal) {
      EXPECT_EQ(code, ak::ModalResponseCancel);
      EXPECT_TRUE(panel->URLs().empty());
      ASSERT_FALSE(script.shownPanels().back().refusals.empty());
      EXPECT_NE(script.shownPanels().back().refusals[0].find(c.refusal), std::string::npos);
    } else {
      EXPECT_EQ(code, ak::ModalResponseOK);
      ASSERT_EQ(panel->URLs().size(), c.paths.size());
      for (std::size_t i = 0; i < c.paths.size(); ++i)
        EXPECT_EQ(panel->URLs()[i]->path(), fs::canonical(c.paths[i]).string());
    }
    EXPECT_TRUE(script.shownPanels().back().open);
  }
}

TEST(Panels, ShownWithNothingQueuedFailTheTestAndCancel) {
  pltest::HeadlessApp app;
  auto panel = ns::make<ak::SavePanel>();
  panel->setNameFieldStringValue("pelorin_bookmarks.json");
  long code = -1;
  EXPECT_NONFATAL_FAILURE(
      {
        pltest::ModalScript script;
        code = panel->runModal();
      },
      "pelorin_bookmarks.json");
  EXPECT_EQ(code, ak::ModalResponseCancel);
  // On a nil window the sheet runs application-modal.
  pltest::ModalScript script;
  script.cancelPanel();
  std::vector<long> codes;
  panel->beginSheetModalForWindow_completionHandler(nullptr, [&](long c) { codes.push_back(c); });
  EXPECT_EQ(codes, (std::vector<long>{0}));
}
