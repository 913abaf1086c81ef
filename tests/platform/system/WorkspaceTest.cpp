// Opening URLs with the opener: what reaches it, exactly how, and when it counts as failed.
#include <sys/stat.h>

#include <filesystem>

#include "platform/foundation/FileHandle.h"
#include "platform/system/Opener.h"
#include "platform/system/Workspace.h"
#include "platform/testing/Files.h"
#include "tests/platform/system/SystemTestSupport.h"

namespace {

namespace fs = std::filesystem;
using system_test::SystemServicesTest;

class WorkspaceOpenURL : public SystemServicesTest {
 protected:
  bool open(const std::string& text, ns::Error* error = nullptr) {
    return ak::Workspace::sharedWorkspace()->openURL(ns::URL::URLWithString(text), error);
  }
};

TEST_F(WorkspaceOpenURL, RunsTheOpenerOnceWithExactlyTheURLAsOneArgument) {
  EXPECT_TRUE(open("https://example.test/watch?v=x#t=75"));
  auto runs = waitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0], std::vector<std::string>{"https://example.test/watch?v=x#t=75"});
}

TEST_F(WorkspaceOpenURL, ShellTextInAURLIsNeverRunAndReachesTheOpenerUnchanged) {
  std::string hacked = sandbox_.path("hacked");
  struct Case {
    std::string url;
    bool opens;  // the text is a URL that parses
  };
  const Case cases[] = {
      {"https://example.test/watch?v=x$(touch hacked)", false},  // a blank: no URL at all
      {"https://example.test/watch?v=x$(touch%20hacked)", true},
      {"https://example.test/watch?v=x$(touch$IFS" + hacked + ")", true},
      {"https://example.test/;touch$IFS" + hacked + ";", true},
      {"http://example.test/a'$(touch$IFS" + hacked + ")'", true},
      {"mailto:someone@example.test?subject=$(touch$IFS" + hacked + ")", true},
  };
  std::size_t expectedRuns = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(open(c.url), c.opens);
    if (!c.opens) continue;
    auto runs = waitForRuns(++expectedRuns);
    ASSERT_EQ(runs.size(), expectedRuns);
    EXPECT_EQ(runs.back(), std::vector<std::string>{c.url});
  }
  EXPECT_EQ(opener_.invocations().size(), expectedRuns);
  EXPECT_FALSE(fs::exists(hacked));
  EXPECT_FALSE(fs::exists("hacked"));
}

TEST_F(WorkspaceOpenURL, OnlyWebMailAndExistingFileURLsReachTheOpener) {
  std::string video = makeFile("Downloads/My Video.mp4");
  std::string videoURL = ns::URL::fileURLWithPath(video)->absoluteString();
  struct Case {
    std::string url;
    bool opens;
  };
  const Case cases[] = {
      {"javascript:alert(1)", false},
      {"JavaScript:alert(1)", false},
      {"data:text/html,<b>x</b>", false},
      {"data:text/html;base64,PGI+eDwvYj4=", false},
      {"vbscript:msgbox(1)", false},
      {"ftp://example.test/file", false},
      {"smb://example.test/share", false},
      {"x-unknown-handler:whatever", false},
      {"http:///no-host", false},
      {"https:no-host", false},
      {"mailto:", false},
      {"file:///no/such/file.mp4", false},
      {"file://elsewhere.example.test" + video, false},
      {"relative/path", false},
      {"", false},
      {"http://example.test/", true},
      {"HTTPS://EXAMPLE.TEST/Watch", true},
      {"mailto:someone@example.test", true},
      {videoURL, true},
      {"file://localhost" + ns::URL::fileURLWithPath(video)->percentEncodedPath(), true},
  };
  std::vector<std::vector<std::string>> expected;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(open(c.url), c.opens);
    if (c.opens) expected.push_back({c.url});
    // Runs only ever grow by the URLs that open, so a refused URL ran nothing.
    EXPECT_EQ(waitForRuns(expected.size()), expected);
  }
  EXPECT_FALSE(ak::Workspace::sharedWorkspace()->openURL(nullptr));
  EXPECT_EQ(opener_.invocations(), expected);
  EXPECT_NE(videoURL.find("My%20Video.mp4"), std::string::npos);
}

TEST_F(WorkspaceOpenURL, AFailingOrMissingOpenerAnswersNoWithAnError) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    long code;
  };
  const Case cases[] = {
      {"exits 3", [&] { opener_.setExitStatus(3); }, sys::kOpenerFailedError},
      {"not on PATH", [] { sys::setOpenerCommand("pelorin-no-such-opener"); }, sys::kOpenerNotFoundError},
      {"no such path", [] { sys::setOpenerCommand("/nonexistent/xdg-open"); }, sys::kOpenerNotFoundError},
      {"not executable",
       [&] {
         std::string plain = makeFile("bin/plain-opener");
         sys::setOpenerCommand(plain);
       },
       sys::kOpenerNotFoundError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sys::resetSystemServiceSettings();
    sys::setOpenerFailureWindow(30);
    opener_.setExitStatus(0);
    c.arrange();
    ns::Error error;
    EXPECT_FALSE(open("https://example.test/", &error));
    EXPECT_EQ(error.domain(), ns::NSOSStatusErrorDomain);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_FALSE(error.localizedDescription().empty());
  }
}

TEST_F(WorkspaceOpenURL, AnOpenerStillRunningAfterTheFailureWindowHasStarted) {
  // This opener records its argument, then waits until the test writes to its FIFO.
  std::string fifo = sandbox_.path("release");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string script = sandbox_.path("waiting-opener");
  std::string seen = sandbox_.path("seen");
  pltest::writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + seen + ".part'\nmv '" + seen + ".part' '" +
                                seen + "'\ncat '" + fifo + "' > /dev/null\nexit 3\n");
  fs::permissions(script, fs::perms::owner_all);
  sys::setOpenerCommand(script);
  sys::setOpenerFailureWindow(0);
  EXPECT_TRUE(open("https://example.test/long"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return fs::exists(seen); }, 30));
  EXPECT_EQ(pltest::readFile(seen), "https://example.test/long");
  // Opening the FIFO for writing waits for the opener's reader; closing it lets the opener end.
  auto release = ns::FileHandle::fileHandleForWritingAtPath(fifo);
  ASSERT_TRUE(release);
  release->closeFile();
}

TEST(OpenerLookup, NamesAreFoundOnThePathAndPathsAreUsedAsGiven) {
  pltest::Sandbox sandbox;
  auto makeProgram = [&](const std::string& relative, bool executable) {
    auto path = sandbox.root() / relative;
    pltest::writeFile(path, "#!/bin/sh\n");
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return path.string();
  };
  std::string first = makeProgram("a/opener", true);
  std::string second = makeProgram("b/opener", true);
  makeProgram("c/plain", false);
  std::string plainLater = makeProgram("d/plain", true);
  fs::create_directories(sandbox.root() / "e/folder-opener");
  std::string root = sandbox.root().string();
  std::string path = root + "/a:" + root + "/b:" + root + "/c:" + root + "/d";
  struct Case {
    std::string command;
    std::optional<std::string> searchPath;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"opener", path, first},
      {"opener", root + "/b:" + root + "/a", second},
      {"plain", path, plainLater},                   // the one that is not executable is passed over
      {"folder-opener", root + "/e", std::nullopt},  // a folder is no program
      {"opener", std::string("::relative:") + root + "/b", second},  // relative entries are skipped
      {"opener", std::string(""), std::nullopt},
      {"opener", std::nullopt, std::nullopt},
      {"missing", path, std::nullopt},
      {second, std::nullopt, second},  // a path is used as given
      {root + "/c/plain", path, std::nullopt},
      {"", path, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command + " in " + c.searchPath.value_or("(no PATH)"));
    EXPECT_EQ(sys::resolveExecutable(c.command, c.searchPath), c.expected);
  }
}

}  // namespace
