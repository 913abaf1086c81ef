// The muxing tool: linked from PATH when there, else fetched gzipped from a fake of the maker's
// file storage and unpacked with the system's gzip, only when the fetch is whole and sound; the
// join's argument list. Real child processes and files.
#include "app/cache/MuxingTool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/security/Digest.h"
#include "platform/testing/Pump.h"
#include "tests/app/cache/CacheTestKit.h"

namespace {

using cachetest::exists;
using cachetest::readFile;
using cachetest::writeFile;

bool logged(const pltest::LogCapture& log, const std::string& prefix) {
  for (const auto& line : log.lines())
    if (line.message.rfind(prefix, 0) == 0) return true;
  return false;
}

class MuxingToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No ffmpeg anywhere on PATH: the tool must be fetched.
    bin = home.sandbox().temporaryFolder("bin").string();
    home.sandbox().set("PATH", bin);
    home.sandbox().set(kMakerFilesURLEnvironmentKey, origin.baseURL());
    home.sandbox().set(kMakerFFmpegSHA256EnvironmentKey, std::nullopt);
    packedTool = gzipped(tool);
    packedLicense = gzipped(license);
    origin.canned("GET", kFFmpegLicenseResourcePath,
                  pltest::FakeReply::text(200, packedLicense, "application/gzip"));
  }

  std::string gzipped(const std::string& bytes) {
    std::string path = home.sandbox().temporaryFolder("pack").string() + "/file";
    writeFile(path, bytes);
    EXPECT_EQ(runTask("/usr/bin/gzip", {"-f", path}, true), 0);
    return readFile(path + ".gz");
  }
  void serveTool(pltest::FakeReply reply) { origin.canned("GET", kFFmpegResourcePath, std::move(reply)); }
  // Starts the fetch and pumps until it ended.
  void fetch() {
    downloadFFmpegIfNeeded();
    ASSERT_TRUE(pltest::pumpUntil([] { return !isFFmpegDownloading(); }, 30));
  }
  // Nothing but the tool and its licence (when fetched) is left in the base folder.
  void expectNoLeftovers() {
    for (const auto& entry : std::filesystem::directory_iterator(home.base()))
      EXPECT_EQ(entry.path().filename().string().find(".download"), std::string::npos) << entry.path();
  }

  cachetest::CacheSandbox home;
  pltest::FakeServer origin;
  std::string bin;
  std::string tool = "#!/bin/sh\necho \"joined by the fetched tool\"\n";
  std::string license = "The licence text.\n";
  std::string packedTool;
  std::string packedLicense;
};

TEST_F(MuxingToolTest, TheToolIsFetchedUnpackedAndMadeExecutableOnce) {
  cachetest::Gate gate;
  std::string packed = packedTool;
  origin.route("GET", kFFmpegResourcePath, [&gate, packed](const pltest::FakeRequest&) {
    gate.wait();
    return pltest::FakeReply::text(200, packed, "application/gzip");
  });
  {
    pltest::LogCapture log(true);
    downloadFFmpegIfNeeded();
    ASSERT_TRUE(pltest::pumpUntil([&] { return gate.arrived(); }, 30));
    EXPECT_TRUE(isFFmpegDownloading());
    // A second call meanwhile only logs.
    downloadFFmpegIfNeeded();
    EXPECT_TRUE(logged(log, "ffmpeg already downloading! "));
    gate.open();
    ASSERT_TRUE(pltest::pumpUntil([] { return !isFFmpegDownloading(); }, 30));
  }
  EXPECT_EQ(origin.requests().size(), 2u);
  struct stat info {};
  ASSERT_EQ(::lstat(getFFmpegPath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(readFile(getFFmpegPath()), tool);
  ASSERT_TRUE(pltest::pumpUntil([&] { return exists(home.base() + "/FFMPEG_License.txt"); }, 30));
  EXPECT_EQ(readFile(home.base() + "/FFMPEG_License.txt"), license);
  expectNoLeftovers();

  pltest::LogCapture log(true);
  downloadFFmpegIfNeeded();
  EXPECT_TRUE(logged(log, "ffmpeg exists!"));
  EXPECT_EQ(origin.requests().size(), 2u);
}

TEST_F(MuxingToolTest, ADamagedFetchLeavesNoTool) {
  struct DamageCase {
    const char* name;
    std::function<pltest::FakeReply(const std::string& packed)> reply;
    std::optional<std::string> sha256;
    bool toolExpected;
  };
  std::string rightSum = sec::digestHex(sec::DigestAlgorithm::SHA256, tool);
  const DamageCase cases[] = {
      {"not found", [](const std::string&) { return pltest::FakeReply::text(404, "not found"); }, {}, false},
      {"cut short",
       [](const std::string& p) { return pltest::FakeReply::cutShort(p.substr(0, p.size() / 2), p.size()); },
       {},
       false},
      {"not gzip",
       [](const std::string&) { return pltest::FakeReply::text(200, "plain text, not gzip"); },
       {},
       false},
      {"wrong checksum", [](const std::string& p) { return pltest::FakeReply::text(200, p); },
       std::string(64, '0'), false},
      {"right checksum", [](const std::string& p) { return pltest::FakeReply::text(200, p); }, rightSum,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(getFFmpegPath());
    home.sandbox().set(kMakerFFmpegSHA256EnvironmentKey, c.sha256);
    serveTool(c.reply(packedTool));
    pltest::LogCapture log(true);
    fetch();
    EXPECT_EQ(exists(getFFmpegPath()), c.toolExpected);
    if (c.toolExpected) {
      EXPECT_EQ(readFile(getFFmpegPath()), tool);
    }
    expectNoLeftovers();
  }
}

TEST_F(MuxingToolTest, AnFfmpegOnPathIsLinkedWithoutAFetch) {
  std::string found = bin + "/ffmpeg";
  writeFile(found, tool);
  ::chmod(found.c_str(), 0755);
  // Not executable, so not a tool: the search goes on to the next folder.
  std::string other = home.sandbox().temporaryFolder("other").string();
  writeFile(other + "/ffmpeg", "not a program");
  home.sandbox().set("PATH", other + ":" + bin);
  downloadFFmpegIfNeeded();
  EXPECT_FALSE(isFFmpegDownloading());
  EXPECT_EQ(std::filesystem::read_symlink(getFFmpegPath()).string(), found);
  EXPECT_EQ(origin.requestCount(), 0u);
}

TEST_F(MuxingToolTest, TheJoinRunsTheToolWithItsArgumentListAndChecksItsResult) {
  // A tool that records its arguments and writes its last one, or fails on request.
  std::string argsFile = home.sandbox().path("args.txt");
  writeFile(getFFmpegPath(), "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + argsFile +
                                 "'\n[ \"$FAIL\" = 1 ] && exit 1\n"
                                 "for last; do :; done\nprintf 'joined' > \"$last\"\n");
  ::chmod(getFFmpegPath().c_str(), 0644);
  bool missing = true;
  std::string out = home.temp("o.mp4");
  EXPECT_TRUE(mergeDashStreams("v.mp4", "a.mp4", out, &missing));
  EXPECT_FALSE(missing);
  EXPECT_EQ(readFile(argsFile), "-loglevel\npanic\n-y\n-i\nv.mp4\n-i\na.mp4\n-c\ncopy\n" + out + "\n");
  EXPECT_EQ(readFile(out), "joined");

  home.sandbox().set("FAIL", "1");
  EXPECT_FALSE(mergeDashStreams("v.mp4", "a.mp4", out, &missing));
  EXPECT_FALSE(missing);
  home.sandbox().set("FAIL", std::nullopt);

  // Without a tool nothing runs and the fetch starts.
  std::filesystem::remove(getFFmpegPath());
  serveTool(pltest::FakeReply::text(404, "not found"));
  EXPECT_FALSE(mergeDashStreams("v.mp4", "a.mp4", out, &missing));
  EXPECT_TRUE(missing);
  ASSERT_TRUE(pltest::pumpUntil([] { return !isFFmpegDownloading(); }, 30));
  EXPECT_EQ(cachetest::rangesOf(origin, kFFmpegResourcePath).size(), 1u);
}

}  // namespace
