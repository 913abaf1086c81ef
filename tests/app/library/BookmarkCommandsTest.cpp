// Bookmark export and import through the commands, on a headless main window with scripted
// panels and alerts and a real library file in a sandbox; and the source list's focus test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/library/BookmarkCommands.h"
#include "app/library/DBAccess.h"
#include "common/AppUtilities.h"
#include "lib/database/SqlDatabase.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/OutlineView.h"
#include "platform/foundation/FileIO.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/support/FakeMainWindowController.h"

namespace bookmarks_test {

// Outline views whose runtime classes are the source list's and a subclass of it.
class SourceOutline : public ak::OutlineView {};
class SourceOutlineSubclass : public SourceOutline {};

}  // namespace bookmarks_test

PL_CLASS_NAMED(bookmarks_test::SourceOutline, "MyOutlineView", ak::OutlineView) {}
PL_CLASS_NAMED(bookmarks_test::SourceOutlineSubclass, "BMTestOutlineSubclass",
               bookmarks_test::SourceOutline) {}

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

  // Every bookmark row as text, in a fixed order.
  static std::vector<std::string> allRows() {
    std::vector<std::string> rows;
    auto rs = DBAccess::getInstance()->db()->executeQuery(
        "SELECT trackid, pos1, pos2, startend, comment FROM bookmark ORDER BY trackid, pos1, pos2;");
    while (rs && rs->next()) {
      rows.push_back(rs->stringForColumnIndex(0).value_or("<null>") + "|" +
                     std::to_string(rs->doubleForColumnIndex(1)) + "|" +
                     std::to_string(rs->doubleForColumnIndex(2)) + "|" +
                     rs->stringForColumnIndex(3).value_or("<null>") + "|" +
                     rs->stringForColumnIndex(4).value_or("<null>"));
    }
    return rows;
  }
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
  auto before = allRows();
  ASSERT_EQ(before.size(), 3u);
  std::string text = exportToFile();
  EXPECT_NE(text.find("\"comment\":\"a \\\"quoted\\\" word\\nand a second line\""), std::string::npos)
      << text;

  // Into its own library: every bookmark is found again, nothing is added.
  fs::path file = folder / kBookmarksFileName;
  importFile(file);
  EXPECT_EQ(allRows(), before);

  emptyLibrary();
  ASSERT_TRUE(allRows().empty());
  importFile(file);
  EXPECT_EQ(allRows(), before);
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
  auto rows = allRows();
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
  EXPECT_TRUE(allRows().empty());

  // Cancelling the panel does nothing at all.
  script.cancelPanel();
  commands->onImportBookmarks();
  settle();
  EXPECT_EQ(script.shownAlerts().size(), 1u);
}

TEST_F(BookmarkCommandsTest, ElementsOfOtherTypesAreLeftOutAndTheRestCounted) {
  struct Case {
    const char* document;
    int count;
  };
  const Case cases[] = {
      {"[1, 2]", 0},
      {R"({"bookmarks": 5})", 0},
      {R"({"bookmarks": []})", 0},
      {R"({"bookmarks": [5, "x", null, [], {"videoid": "a", "pos1": 1}]})", 1},
      {R"({"bookmarks": [{"pos1": 1}, {"videoid": 7}, {"videoid": ""}, {"videoid": "b", "pos1": "2.5"}]})",
       1},
      {R"({"bookmarks": [{"videoid": "c", "pos1": [1]}, {"videoid": "c", "pos1": "soon"},
          {"videoid": "c", "pos1": 1e300}, {"videoid": "c", "comment": 5}, {"videoid": "c", "startend": "x"},
          {"videoid": "c", "pos1": null, "pos2": 3}]})",
       1},
  };
  auto access = DBAccess::getInstance();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    fs::path file = folder / "case.json";
    std::ofstream(file, std::ios::trunc) << c.document;
    EXPECT_EQ(BookmarkCommands::importBookmarksFromFile(file.string(), access), c.count);
  }
  EXPECT_EQ(allRows(), (std::vector<std::string>{"a|1.000000|0.000000||<null>", "b|2.500000|0.000000||<null>",
                                                 "c|0.000000|3.000000||<null>"}));
  EXPECT_EQ(BookmarkCommands::importMessage(1), "1 bookmarks imported :)");
  EXPECT_EQ(BookmarkCommands::importMessage(0), "bookmarks not found!");
}

TEST_F(BookmarkCommandsTest, OnlyARegularFileOfSaneSizeIsRead) {
  // A pipe picked in the panel: reading it would wait for a writer that never comes.
  fs::path pipe = folder / "pipe.json";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  auto access = DBAccess::getInstance();
  auto done = std::async(std::launch::async,
                         [&] { return BookmarkCommands::importBookmarksFromFile(pipe.string(), nullptr); });
  bool returned = pltest::pumpUntil(
      [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30);
  if (!returned) {
    // Lets a blocked reader go so that the test ends.
    int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  EXPECT_TRUE(returned);
  EXPECT_EQ(done.get(), 0);

  // A large file picked by mistake is not read whole, even when it holds a valid document.
  fs::path large = folder / "large.json";
  {
    std::ofstream out(large);
    out << R"({"bookmarks": [{"videoid": "big", "pos1": 1}]})";
    std::string blanks(1 << 20, ' ');
    for (int i = 0; i < 33; ++i) out << blanks;
  }
  EXPECT_EQ(BookmarkCommands::importBookmarksFromFile(large.string(), access), 0);
  EXPECT_TRUE(allRows().empty());
}

TEST_F(BookmarkCommandsTest, AnElementWithoutCommentOrMarkerClearsThem) {
  auto access = DBAccess::getInstance();
  access->addBookmark_startPos_endPos_startEnd("v", 5, 0, "s");
  access->addBookmark_startPos_endPos_comment("v", 5, 0, "old");
  fs::path file = folder / "bare.json";
  std::ofstream(file) << R"({"bookmarks": [{"videoid": "v", "pos1": 5, "pos2": 0}]})";
  EXPECT_EQ(BookmarkCommands::importBookmarksFromFile(file.string(), access), 1);
  EXPECT_EQ(allRows(), std::vector<std::string>{"v|5.000000|0.000000||<null>"});
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
