// Showing files in the file manager over a private session bus, and the opener when the bus
// has no file manager or it does not answer.
#include <filesystem>

#include "platform/dispatch/Queue.h"
#include "platform/system/FileViewer.h"
#include "platform/system/SessionBus.h"
#include "platform/system/Workspace.h"
#include "platform/testing/desktop/FakeBusService.h"
#include "platform/testing/desktop/PrivateSessionBus.h"
#include "tests/platform/system/SystemTestSupport.h"

namespace {

namespace fs = std::filesystem;
using system_test::SystemServicesTest;

class FileViewer : public SystemServicesTest {
 protected:
  FileViewer() : bus_(sandbox_) {}

  std::string fileURI(const std::string& path) { return ns::URL::fileURLWithPath(path)->absoluteString(); }

  // Reveals through the lower level and waits for the outcome on the main queue.
  sys::RevealOutcome reveal(const std::string& path) {
    std::optional<sys::RevealOutcome> outcome;
    sys::revealInFileViewer({fileURI(path)}, {fs::path(path).parent_path().string()},
                            [&](sys::RevealOutcome o) { outcome = o; });
    EXPECT_TRUE(pltest::pumpUntil([&] { return outcome.has_value(); }, 30));
    return outcome.value_or(sys::RevealOutcome::Failed);
  }

  pltest::PrivateSessionBus bus_;
};

TEST_F(FileViewer, RevealingAFileCallsTheFileManagersShowItemsWithItsURI) {
  auto fileManager = pltest::FakeBusService::fileManager(bus_.address());
  std::string video = makeFile("Downloads/My Video.mp4");
  EXPECT_TRUE(ak::Workspace::sharedWorkspace()->selectFile_inFileViewerRootedAtPath(video, ""));
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 1; }, 30));
  auto call = fileManager->calls()[0];
  EXPECT_EQ(call.interface, "org.freedesktop.FileManager1");
  EXPECT_EQ(call.member, "ShowItems");
  ASSERT_EQ(call.arguments.size(), 2u);
  std::string expected = "file://" + sandbox_.root().string() + "/Downloads/My%20Video.mp4";
  EXPECT_EQ(call.arguments[0], ns::Value(ns::Array{ns::Value(expected)}));
  EXPECT_EQ(call.arguments[1], ns::Value(""));
}

TEST_F(FileViewer, WithNoFileManagerOnTheBusTheOpenerReceivesTheContainingFolder) {
  std::string video = makeFile("Downloads/My Video.mp4");
  EXPECT_TRUE(ak::Workspace::sharedWorkspace()->selectFile_inFileViewerRootedAtPath(video, ""));
  auto runs = waitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0], std::vector<std::string>{(sandbox_.root() / "Downloads").string()});
}

TEST_F(FileViewer, SeveralFilesGoInOneCallAndOtherURLsAreLeftOut) {
  auto fileManager = pltest::FakeBusService::fileManager(bus_.address());
  std::string one = makeFile("Downloads/one.mp4");
  std::string two = makeFile("Downloads/Playlist ╱ A/two.mp4");
  ak::Workspace::sharedWorkspace()->activateFileViewerSelectingURLs(
      {ns::URL::fileURLWithPath(one), ns::URL::URLWithString("https://example.test/x"), nullptr,
       ns::URL::fileURLWithPath(two)});
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 1; }, 30));
  EXPECT_EQ(fileManager->calls()[0].arguments[0],
            ns::Value(ns::Array{ns::Value(fileURI(one)), ns::Value(fileURI(two))}));

  // Without the file manager, the opener gets each folder once.
  fileManager.reset();
  std::string three = makeFile("Downloads/three.mp4");
  ak::Workspace::sharedWorkspace()->activateFileViewerSelectingURLs(
      {ns::URL::fileURLWithPath(one), ns::URL::fileURLWithPath(two), ns::URL::fileURLWithPath(three)});
  auto runs = waitForRuns(2);
  std::vector<std::vector<std::string>> expected = {{(sandbox_.root() / "Downloads").string()},
                                                    {(sandbox_.root() / "Downloads/Playlist ╱ A").string()}};
  EXPECT_EQ(runs, expected);
}

TEST_F(FileViewer, MissingFilesAndFoldersAnswerNoAndAnEmptyPathOpensTheRootFolder) {
  auto workspace = ak::Workspace::sharedWorkspace();
  EXPECT_FALSE(workspace->selectFile_inFileViewerRootedAtPath(sandbox_.path("missing.mp4"), ""));
  EXPECT_FALSE(workspace->selectFile_inFileViewerRootedAtPath("", sandbox_.path("missing-folder")));
  EXPECT_FALSE(workspace->selectFile_inFileViewerRootedAtPath("", ""));
  std::string folder = sandbox_.temporaryFolder("Movies").string();
  EXPECT_TRUE(workspace->selectFile_inFileViewerRootedAtPath("", folder));
  auto runs = waitForRuns(1);
  EXPECT_EQ(runs, std::vector<std::vector<std::string>>{{folder}});
}

TEST_F(FileViewer, OutcomeByWhatTheBusOffers) {
  std::string video = makeFile("Downloads/clip.mp4");
  std::string folder = (sandbox_.root() / "Downloads").string();
  struct Case {
    const char* name;
    bool fileManager;
    bool answering;
    bool busAddress;
    bool opener;
    sys::RevealOutcome outcome;
  };
  const Case cases[] = {
      {"file manager answers", true, true, true, true, sys::RevealOutcome::FileManager},
      {"no file manager", false, true, true, true, sys::RevealOutcome::Opener},
      {"file manager never answers", true, false, true, true, sys::RevealOutcome::Opener},
      {"no session bus", false, true, false, true, sys::RevealOutcome::Opener},
      {"nothing at all", false, true, false, false, sys::RevealOutcome::Failed},
  };
  sys::setSessionBusCallTimeout(0.3);
  std::size_t runs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<pltest::FakeBusService> fileManager;
    if (c.fileManager) {
      fileManager = pltest::FakeBusService::fileManager(bus_.address());
      fileManager->setAnswering(c.answering);
    }
    sandbox_.set("DBUS_SESSION_BUS_ADDRESS",
                 c.busAddress ? std::optional<std::string>(bus_.address()) : std::nullopt);
    sys::setOpenerCommand(c.opener ? std::optional<std::string>()
                                   : std::optional<std::string>("/nonexistent/opener"));
    ns::LogCapture log(true);
    EXPECT_EQ(reveal(video), c.outcome);
    if (fileManager) {
      EXPECT_EQ(fileManager->callCount(), 1u);
    }
    if (c.outcome == sys::RevealOutcome::Opener) ++runs;
    ASSERT_EQ(opener_.invocations().size(), runs);
    if (runs) {
      EXPECT_EQ(opener_.invocations().back(), std::vector<std::string>{folder});
    }
    EXPECT_EQ(log.contains("cannot show files in the file manager"), c.outcome == sys::RevealOutcome::Failed);
  }
}

TEST_F(FileViewer, AFileManagerThatNeverAnswersHoldsOnlyTheBackgroundQueueForTwoSeconds) {
  EXPECT_EQ(sys::sessionBusCallTimeout(), 2.0);
  auto fileManager = pltest::FakeBusService::fileManager(bus_.address());
  fileManager->setAnswering(false);
  std::string video = makeFile("Downloads/clip.mp4");
  EXPECT_TRUE(ak::Workspace::sharedWorkspace()->selectFile_inFileViewerRootedAtPath(video, ""));
  // While the call waits unanswered, the main queue keeps running.
  bool mainQueueRan = false;
  dispatch::async(dispatch::mainQueue(), [&] { mainQueueRan = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 1 && mainQueueRan; }, 30));
  EXPECT_TRUE(opener_.invocations().empty());
  // After the time-out the opener takes over.
  auto runs = waitForRuns(1);
  EXPECT_EQ(runs, std::vector<std::vector<std::string>>{{(sandbox_.root() / "Downloads").string()}});
}

TEST(SessionBusAddress, FromTheEnvironmentOrTheRuntimeFolder) {
  pltest::Sandbox sandbox;
  EXPECT_EQ(sys::sessionBusAddress(), std::nullopt);
  std::string socket = (sandbox.home() / ".runtime/bus").string();
  pltest::writeFile(socket, "");
  EXPECT_EQ(sys::sessionBusAddress(), "unix:path=" + socket);
  sandbox.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  EXPECT_EQ(sys::sessionBusAddress(), "unix:path=/nonexistent/bus");
  ns::Error error;
  EXPECT_FALSE(sys::showItemsInFileManager("unix:path=/nonexistent/bus", {"file:///x"}, 1, &error));
  EXPECT_EQ(error.domain(), ns::NSPOSIXErrorDomain);
  EXPECT_FALSE(sys::showItemsInFileManager("not an address", {"file:///x"}, 1, &error));
}

}  // namespace
