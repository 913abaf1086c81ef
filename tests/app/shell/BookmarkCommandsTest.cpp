// Bookmark export and import through the commands, on a headless main window with scripted
// panels and alerts and a real library file in a sandbox; the import's alert text; and the source
// list's focus test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/browse/MyOutlineView.h"
#include "app/library/BookmarkDocument.h"
#include "app/library/DBAccess.h"
#include "app/shell/BookmarkCommands.h"
#include "common/AppUtilities.h"
#include "lib/database/SqlDatabase.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/OutlineView.h"
#include "platform/foundation/FileIO.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/library/BookmarkRows.h"
#include "tests/support/FakeMainWindowController.h"

namespace bookmarks_test {

// The source list's outline is linked in here: a subclass of it is another class.
using SourceOutline = MyOutlineView;
class SourceOutlineSubclass : public SourceOutline {};

}  // namespace bookmarks_test

PL_CLASS_NAMED(bookmarks_test::SourceOutlineSubclass, "BMTestOutlineSubclass", MyOutlineView) {}

namespace {

namespace fs = std::filesystem;

class BookmarkCommandsTest : public ::testing::Test {
 protected:
  BookmarkCommandsTest() {
    fs::create_directories(app.sandbox().dataHome() / "Pelorin");
    fs::create_directories(folder);
    DBAccess::resetForTesting();
    testsupport::FakeMainWindowController::Answers answers;
    answers.window = window;
    answers.currentWindow = window;
    controller->setAnswers(answers);
  }
  ~BookmarkCommandsTest() override { DBAccess::resetForTesting(); }

  // Runs the scripted panel and the sheets it leads to.
  void settle() {
    for (int i = 0; i < 4; ++i) {
      ns::RunLoop::currentRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
      app.dispatchQueued();
    }
  }
  std::string exportToFile() {
    script.saveAs(folder.string(), kBookmarksFileName);
    commands->onExportBookmarks();
    settle();
    auto text = ns::stringWithContentsOfFile((folder / kBookmarksFileName).string());
    EXPECT_TRUE(text);
    return text.value_or("");
  }
  void importFile(const fs::path& file) {
    script.choosePaths({file.string()});
    script.clickAlertButton("Ok");
    commands->onImportBookmarks();
    settle();
  }
  // A library with nothing in it: the file goes with the store's instances.
  void emptyLibrary() {
    DBAccess::resetForTesting();
    for (const char* name : {"pelorin_web.db", "pelorin_web.db-wal", "pelorin_web.db-shm"})
      fs::remove(app.sandbox().dataHome() / "Pelorin" / name);
  }

  pltest::HeadlessApp app{false};
  pltest::ModalScript script;
  fs::path folder = app.sandbox().home() / "exports";
  ns::Ref<ak::Window> window = app.window(ak::MakeRect(100, 100, 800, 600));
  ns::Ref<testsupport::FakeMainWindowController> controller =
      ns::make<testsupport::FakeMainWindowController>();
  ns::Ref<BookmarkCommands> commands = ns::make<BookmarkCommands>(controller);
};

TEST_F(BookmarkCommandsTest, AnEmptyLibraryExportsTheBareDocument) {
  std::string text = exportToFile();
  EXPECT_EQ(text, "{ \"client\" : \"Pelorin for Mac\", \n \"version\" : \"" +
                      getAppShortVersion().value_or("") + "\", \n \"bookmarks\" : [\n] }");
  ASSERT_EQ(script.shownPanels().size(), 1u);
  EXPECT_FALSE(script.shownPanels()[0].open);
  EXPECT_EQ(script.shownPanels()[0].nameFieldStringValue, "pelorin_bookmarks.json");
}

TEST_F(BookmarkCommandsTest, AnExportRestoresEveryBookmarkInAnotherLibraryAndChangesNothingInItsOwn) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("vidB", 1.1f, 0, "s");
  access->addBookmark_startPos_endPos_comment("vidB", 1.1f, 0, "a \"quoted\" word\nand a second line");
  access->addBookmark_startPos_endPos_startEnd("vidB", 12.345f, 15.9f, "e");
  access->addBookmark_startPos_endPos_comment("vidB", 12.345f, 15.9f,
                                              "C:\\path \xC3\xA9t\xC3\xA9 \xE2\x99\xAA");
  access->addBookmark_startPos_endPos_startEnd("vidA", 100.25f, 0, "");
  access = nullptr;
  auto before = bookmarkRows();
  ASSERT_EQ(before.size(), 3u);
  std::string text = exportToFile();
  EXPECT_NE(text.find("\"comment\":\"a \\\"quoted\\\" word\\nand a second line\""), std::string::npos)
      << text;

  // Into its own library: every bookmark is found again, nothing is added.
  fs::path file = folder / kBookmarksFileName;
  importFile(file);
  EXPECT_EQ(bookmarkRows(), before);

  emptyLibrary();
  ASSERT_TRUE(bookmarkRows().empty());
  importFile(file);
  EXPECT_EQ(bookmarkRows(), before);
  ASSERT_EQ(script.shownAlerts().size(), 2u);
  const auto& alert = script.shownAlerts()[1];
  EXPECT_EQ(alert.messageText, "3 bookmarks imported :)");
  EXPECT_EQ(alert.informativeText, "");
  EXPECT_EQ(alert.buttons, std::vector<std::string>{"Ok"});
  EXPECT_EQ(alert.style, ak::AlertStyle::Informational);
  EXPECT_TRUE(alert.sheet);
  ASSERT_EQ(script.shownPanels().size(), 3u);
  EXPECT_TRUE(script.shownPanels()[1].open);
  EXPECT_EQ(window->attachedSheet(), nullptr);
}

TEST_F(BookmarkCommandsTest, AnExportOfTextThatIsNoUtf8StillReadsBack) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("vidA", 1, 0, "");
  access->addBookmark_startPos_endPos_comment("vidA", 1, 0, "fine");
  access->addBookmark_startPos_endPos_startEnd("vidB", 2, 0, "s");
  access->addBookmark_startPos_endPos_comment("vidB", 2, 0,
                                              std::string("cut \xE2\x99 and \xFF\xFE\0 end", 18));
  access = nullptr;
  exportToFile();

  // One broken text must not cost the file its other bookmarks.
  emptyLibrary();
  importFile(folder / kBookmarksFileName);
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_EQ(script.shownAlerts()[0].messageText, "2 bookmarks imported :)");
  auto rows = bookmarkRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "vidA|1.000000|0.000000||fine");
  EXPECT_EQ(rows[1].substr(0, 24), "vidB|2.000000|0.000000|s");
  EXPECT_NE(rows[1].find("cut \xEF\xBF\xBD"), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find(std::string("\0 end", 5)), std::string::npos) << rows[1];
}

TEST_F(BookmarkCommandsTest, ALibraryThatCannotBeReadWritesNoEmptyExport) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("vidA", 1, 0, "");
  fs::path file = folder / kBookmarksFileName;
  ASSERT_TRUE(ns::writeStringToFile("an earlier export", file.string(), true));
  ASSERT_TRUE(access->db()->executeUpdate("ALTER TABLE bookmark RENAME TO bookmark_away;"));
  access = nullptr;
  pltest::LogCapture log(true);
  commands->onExportBookmarks();
  settle();
  // A document without the library's bookmarks would pass for an export of none: no panel offers
  // to write it.
  EXPECT_TRUE(script.shownPanels().empty());
  EXPECT_EQ(ns::stringWithContentsOfFile(file.string()), "an earlier export");
  EXPECT_TRUE(log.contains("cannot be read"));
}

TEST_F(BookmarkCommandsTest, AFileWithoutBookmarksSaysSo) {
  fs::path file = folder / "broken.json";
  std::ofstream(file) << "{\"bookmarks\": [ {\"videoid\": \"x\", ";
  importFile(file);
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  EXPECT_EQ(script.shownAlerts()[0].messageText, "bookmarks not found!");
  EXPECT_TRUE(bookmarkRows().empty());

  // Cancelling the panel does nothing at all.
  script.cancelPanel();
  commands->onImportBookmarks();
  settle();
  EXPECT_EQ(script.shownAlerts().size(), 1u);
}

TEST(BookmarkImportMessage, CountsTheBookmarksTaken) {
  EXPECT_EQ(BookmarkCommands::importMessage(1), "1 bookmarks imported :)");
  EXPECT_EQ(BookmarkCommands::importMessage(0), "bookmarks not found!");
}

TEST_F(BookmarkCommandsTest, TheTreeHasFocusOnlyWhenTheSourceListIsTheFirstResponder) {
  auto place = [](const ns::Ref<ak::Window>& w, const ns::Ref<ak::View>& view) {
    w->contentView()->addSubview(view);
    EXPECT_TRUE(w->makeFirstResponder(view));
  };
  EXPECT_FALSE(commands->treeViewHasFocus());
  place(window, ak::make<bookmarks_test::SourceOutline>(ak::MakeRect(0, 0, 100, 100)));
  EXPECT_TRUE(commands->treeViewHasFocus());
  place(window, ak::make<bookmarks_test::SourceOutlineSubclass>(ak::MakeRect(0, 0, 100, 100)));
  EXPECT_FALSE(commands->treeViewHasFocus());
  place(window, ak::make<ak::OutlineView>(ak::MakeRect(0, 0, 100, 100)));
  EXPECT_FALSE(commands->treeViewHasFocus());

  // In the own full screen the full-screen window is the one looked at; in the system's, the main
  // window.
  auto fullScreen = app.window(ak::MakeRect(0, 0, 400, 300));
  place(fullScreen, ak::make<bookmarks_test::SourceOutline>(ak::MakeRect(0, 0, 100, 100)));
  auto answers = controller->answers();
  answers.fullScreen = true;
  answers.fullScreenWindow = fullScreen;
  controller->setAnswers(answers);
  EXPECT_TRUE(commands->treeViewHasFocus());
  answers.fullScreenLion = true;
  controller->setAnswers(answers);
  EXPECT_FALSE(commands->treeViewHasFocus());
}

}  // namespace
