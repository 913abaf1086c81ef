// The real `pelorin --headless` started on stores it cannot read: the library store, the settings
// file and the cache folder. Each is named once on standard error, with the reason, and left
// exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/database/SqlDatabase.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/app/shell/ExecutableTestSupport.h"

namespace {

namespace fs = std::filesystem;
using executable_test::kWait;
using executable_test::launched;
using executable_test::PassableFoldersAbove;
using executable_test::Pelorin;

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of `text` that hold `fragment`.
int linesWith(const std::string& text, const std::string& fragment) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(fragment) != std::string::npos;
  return n;
}

struct LaunchOutput {
  std::string output;  // standard output and error
  int status = -1;
};

// Starts `pelorin --headless` in the sandbox (through `launcher` when given), waits until it has
// made its folders (or only its library store, with `onlyTheStore`) and its output holds
// `expected`, then ends it with SIGTERM, as a quit does.
LaunchOutput runUntilItSays(pltest::Sandbox& sandbox, const std::string& expected,
                            std::vector<std::string> launcher = {}, bool onlyTheStore = false) {
  auto started = [&] {
    return onlyTheStore ? fs::exists(sandbox.dataHome() / "Pelorin/pelorin_web.db") : launched(sandbox);
  };
  const std::string output = sandbox.path("pelorin.log");
  Pelorin pelorin({"--headless"}, output, std::move(launcher));
  EXPECT_GT(pelorin.pid(), 0);
  const bool said = pltest::pumpUntil(
      [&] { return pelorin.ended() || (started() && fileText(output).find(expected) != std::string::npos); },
      kWait);
  EXPECT_TRUE(said && !pelorin.ended()) << fileText(output);
  pelorin.signal(SIGTERM);
  LaunchOutput run;
  if (auto status = pelorin.waitForExit()) run.status = *status;
  run.output = fileText(output);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << "\n" << run.output;
  return run;
}

std::string randomBytes(std::size_t size) {
  std::mt19937 generator(11);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator());
  return bytes;
}

std::string storeWarning(const std::string& path, const std::string& reason) {
  return "DBAccess: " + path + " cannot be read (" + reason +
         "); it is left as it is and the library is not kept this time";
}

TEST(PelorinDamagedStores, ALibraryStoreThatCannotBeReadIsNamedOnceWithWhyAndLeftAsItIs) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string reason;
  };
  const std::string bytes = randomBytes(40000);
  const std::vector<Case> cases{
      {"random bytes", [&](const std::string& path) { std::ofstream(path, std::ios::binary) << bytes; },
       "file is not a database"},
      {"a folder",
       [](const std::string& path) {
         fs::create_directories(path);
         std::ofstream(path + "/kept") << "kept";
       },
       "is a directory"},
      {"a pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "is no regular file"},
      {"a link to /dev/zero",
       [](const std::string& path) { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); },
       "is no regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pltest::FakeServer sink;
    pltest::Sandbox sandbox;
    executable_test::quietEndpoints(sandbox, sink);
    sandbox.set("PELORIN_VERBOSE", std::nullopt);
    fs::create_directories(sandbox.dataHome() / "Pelorin");
    const std::string store = (sandbox.dataHome() / "Pelorin/pelorin_web.db").string();
    c.make(store);
    struct stat before {};
    ASSERT_EQ(::lstat(store.c_str(), &before), 0);

    const std::string warning = storeWarning(store, c.reason);
    const LaunchOutput run = runUntilItSays(sandbox, warning);
    EXPECT_EQ(linesWith(run.output, "cannot be read"), 1) << run.output;
    EXPECT_EQ(linesWith(run.output, "] " + warning), 1) << run.output;
    // The wrapper's failed statements go to the system log alone; what is no file is not opened.
    EXPECT_EQ(linesWith(run.output, "DB Error"), 0) << run.output;
    EXPECT_EQ(linesWith(run.output, "error opening!: "), 0) << run.output;

    struct stat after {};
    ASSERT_EQ(::lstat(store.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    if (S_ISREG(after.st_mode)) {
      EXPECT_EQ(fileText(store), bytes);
    }
    if (S_ISDIR(after.st_mode)) {
      EXPECT_EQ(fileText(store + "/kept"), "kept");
    }
    if (S_ISLNK(after.st_mode)) {
      EXPECT_EQ(fs::read_symlink(store), "/dev/zero");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(store).parent_path()), fs::directory_iterator()),
              1)
        << "nothing was made beside it";
  }
}

// The version a library store reads at, or nil when it does not read.
std::optional<int> versionOf(const std::string& path) {
  auto db = SqlDatabase::databaseWithPath(path);
  if (!db->open()) return std::nullopt;
  auto version = db->stringForQuery("SELECT version FROM schema;");
  db->close();
  if (!version) return std::nullopt;
  return std::stoi(*version);
}

// No library store yet, and an older library that does not read: it is named and left as it is,
// and the store the first run makes is the one the next run reads, without a word.
TEST(PelorinDamagedStores, AnOlderLibraryThatDoesNotReadIsNamedOnceAndTheNewStoreIsKept) {
  // A library of a hundred rows, to be cut short.
  std::string whole;
  {
    pltest::Sandbox scratch;
    auto db = SqlDatabase::databaseWithPath(scratch.path("whole.db"));
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeStatements(
        "CREATE TABLE schema ( version INTEGER PRIMARY KEY ); INSERT INTO schema VALUES (7);"
        "CREATE TABLE strcache ( name STRING PRIMARY KEY, strdata STRING );"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
        "INSERT INTO strcache SELECT i, zeroblob(300) FROM n;"));
    db->close();
    whole = fileText(scratch.path("whole.db"));
  }
  const std::vector<std::pair<std::string, std::string>> cases{
      {randomBytes(40000), "file is not a database"},
      {whole.substr(0, whole.size() / 2), "database disk image is malformed"},
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    pltest::FakeServer sink;
    pltest::Sandbox sandbox;
    executable_test::quietEndpoints(sandbox, sink);
    sandbox.set("PELORIN_VERBOSE", std::nullopt);
    const std::string older = executable_test::cacheBase(sandbox) + "/pelorin.db";
    const std::string store = (sandbox.dataHome() / "Pelorin/pelorin_web.db").string();
    fs::create_directories(executable_test::cacheBase(sandbox));
    std::ofstream(older, std::ios::binary) << bytes;

    const std::string warning = "DBAccess: " + older + " cannot be read (" + reason +
                                "); it is left as it is and the library starts without it";
    const LaunchOutput first = runUntilItSays(sandbox, warning);
    EXPECT_EQ(linesWith(first.output, "DBAccess: "), 1) << first.output;
    EXPECT_EQ(linesWith(first.output, "] " + warning), 1) << first.output;
    EXPECT_EQ(fileText(older), bytes);
    EXPECT_EQ(versionOf(store), 7);

    // Every line on standard error, to hear what the next run reads.
    sandbox.set("PELORIN_VERBOSE", "1");
    const LaunchOutput second = runUntilItSays(sandbox, "SCHEMA VERSION = ");
    EXPECT_EQ(linesWith(second.output, "SCHEMA VERSION = 7"), 1) << second.output;
    EXPECT_EQ(linesWith(second.output, "DBAccess: "), 0) << second.output;
    EXPECT_EQ(versionOf(store), 7);
    EXPECT_EQ(fileText(older), bytes);
  }
}

TEST(PelorinDamagedStores, ASettingsFileThatIsAFolderIsNamedOnceHoweverOftenTheRunSaves) {
  pltest::FakeServer sink;
  pltest::Sandbox sandbox;
  executable_test::quietEndpoints(sandbox, sink);
  sandbox.set("PELORIN_VERBOSE", std::nullopt);
  const std::string store = (sandbox.configHome() / "com.ordel42.zeravozezi.plist").string();
  fs::create_directories(store);
  std::ofstream(store + "/kept") << "kept";

  const std::string warning =
      "UserDefaults: " + store +
      " is no regular file; it is left as it is and changes are kept in memory for this run";
  // The launch reads the settings and saves some; the quit saves again.
  const LaunchOutput run = runUntilItSays(sandbox, warning);
  EXPECT_EQ(linesWith(run.output, "is no regular file"), 1) << run.output;
  EXPECT_EQ(linesWith(run.output, "] " + warning), 1) << run.output;
  EXPECT_TRUE(fs::is_directory(store));
  EXPECT_EQ(std::distance(fs::directory_iterator(store), fs::directory_iterator()), 1);
  EXPECT_EQ(fileText(store + "/kept"), "kept");
}

// The command line that runs the executable as an ordinary user (the tests run as root, whom no
// mode stops), with the sandbox given to that user; empty for a test that runs as one already.
std::vector<std::string> asAnOrdinaryUser(pltest::Sandbox& sandbox) {
  if (::geteuid() != 0) return {};
  const uid_t user = 65534;
  for (const auto& entry : fs::recursive_directory_iterator(sandbox.root()))
    EXPECT_EQ(::lchown(entry.path().c_str(), user, user), 0) << entry.path();
  EXPECT_EQ(::chown(sandbox.root().c_str(), user, user), 0);
  EXPECT_EQ(::chmod(sandbox.root().c_str(), 0755), 0);
  return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}

// As an ordinary user: a library store and a cache folder at mode 000.
TEST(PelorinDamagedStores, AStoreAndACacheFolderItMayNotReadAreEachNamedOnceAndLeftAsTheyAre) {
  pltest::FakeServer sink;
  pltest::Sandbox sandbox;
  executable_test::quietEndpoints(sandbox, sink);
  sandbox.set("PELORIN_VERBOSE", std::nullopt);
  const std::string store = (sandbox.dataHome() / "Pelorin/pelorin_web.db").string();
  const std::string cache = executable_test::cacheBase(sandbox) + "/Cache";
  fs::create_directories(sandbox.dataHome() / "Pelorin");
  fs::create_directories(cache);
  std::ofstream(store, std::ios::binary) << "the user's library";
  std::ofstream(cache + "/a.mp4", std::ios::binary) << "a clip";

  PassableFoldersAbove reachable(sandbox.root());
  const std::vector<std::string> launcher = asAnOrdinaryUser(sandbox);
  ASSERT_EQ(::chmod(store.c_str(), 0), 0);
  ASSERT_EQ(::chmod(cache.c_str(), 0), 0);

  const std::string storeSays = storeWarning(store, "Permission denied");
  const std::string cacheSays = "CacheState: the cache folder " + cache +
                                " cannot be read (Permission denied); the videos in it are left as they are";
  LaunchOutput run = runUntilItSays(sandbox, cacheSays, launcher);
  EXPECT_EQ(linesWith(run.output, "cannot be read"), 2) << run.output;
  EXPECT_EQ(linesWith(run.output, "] " + storeSays), 1) << run.output;
  EXPECT_EQ(linesWith(run.output, "] " + cacheSays), 1) << run.output;

  struct stat info {};
  ASSERT_EQ(::stat(store.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0u);
  ASSERT_EQ(::stat(cache.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0u);
  ASSERT_EQ(::chmod(store.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(cache.c_str(), 0700), 0);
  EXPECT_EQ(fileText(store), "the user's library");
  EXPECT_EQ(fileText(cache + "/a.mp4"), "a clip");
  EXPECT_EQ(std::distance(fs::directory_iterator(cache), fs::directory_iterator()), 1);
}

// As an ordinary user: a library store the user may only read, and settings that are a link to a
// device. The run reads both, writes neither, and names each once.
TEST(PelorinDamagedStores, AStoreThatCannotBeWrittenAndALinkToADeviceAreEachNamedOnceAndLeftAsTheyAre) {
  pltest::FakeServer sink;
  pltest::Sandbox sandbox;
  executable_test::quietEndpoints(sandbox, sink);
  sandbox.set("PELORIN_VERBOSE", std::nullopt);
  const std::string store = (sandbox.dataHome() / "Pelorin/pelorin_web.db").string();
  const std::string settings = (sandbox.configHome() / "com.ordel42.zeravozezi.plist").string();
  fs::create_directories(sandbox.dataHome() / "Pelorin");
  fs::create_directories(sandbox.configHome());
  {
    // A library a run of this build made, then made read-only by its user.
    Pelorin first({"--headless"}, sandbox.path("first.log"));
    ASSERT_TRUE(pltest::pumpUntil([&] { return first.ended() || launched(sandbox); }, kWait));
    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForExit());
  }
  fs::remove(settings);
  ASSERT_EQ(::symlink("/dev/zero", settings.c_str()), 0);
  PassableFoldersAbove reachable(sandbox.root());
  const std::vector<std::string> launcher = asAnOrdinaryUser(sandbox);
  ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
  const std::string library = fileText(store);
  ASSERT_FALSE(library.empty());

  const std::string storeSays =
      "DBAccess: " + store +
      " cannot be written (Permission denied); it is left as it is and changes to the "
      "library are not kept this time";
  const std::string settingsSays =
      "UserDefaults: " + settings +
      " is no regular file; it is left as it is and changes are kept in memory for "
      "this run";
  const LaunchOutput run = runUntilItSays(sandbox, storeSays, launcher);
  EXPECT_EQ(linesWith(run.output, "DBAccess: "), 1) << run.output;
  EXPECT_EQ(linesWith(run.output, "UserDefaults: "), 1) << run.output;
  EXPECT_EQ(linesWith(run.output, "] " + storeSays), 1) << run.output;
  EXPECT_EQ(linesWith(run.output, "] " + settingsSays), 1) << run.output;
  EXPECT_EQ(fileText(store), library);
  EXPECT_EQ(fs::read_symlink(settings), "/dev/zero");
  ASSERT_EQ(::chmod(store.c_str(), 0644), 0);
}

// As an ordinary user: a cache base the user may not read, or a file where it should be. One line
// says why its three folders cannot be made; the cache folder's own check says nothing more.
TEST(PelorinDamagedStores, ACacheBaseThatTakesNoFoldersIsNamedInOneLine) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string reason;
  };
  const std::vector<Case> cases{
      {"unreadable", [](const std::string& base) { fs::create_directories(base); }, "Permission denied"},
      {"a file", [](const std::string& base) { std::ofstream(base) << "kept"; }, "Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pltest::FakeServer sink;
    pltest::Sandbox sandbox;
    executable_test::quietEndpoints(sandbox, sink);
    sandbox.set("PELORIN_VERBOSE", std::nullopt);
    const std::string base = executable_test::cacheBase(sandbox);
    fs::create_directories(sandbox.cacheHome());
    c.make(base);
    PassableFoldersAbove reachable(sandbox.root());
    const std::vector<std::string> launcher = asAnOrdinaryUser(sandbox);
    ASSERT_EQ(::chmod(base.c_str(), 0), 0);

    const std::string says =
        "CacheState: cannot create the cache folders Cache, .tmp and .info in " + base + ": " + c.reason;
    const LaunchOutput run = runUntilItSays(sandbox, says, launcher, true);
    EXPECT_EQ(linesWith(run.output, "] " + says), 1) << run.output;
    EXPECT_EQ(linesWith(run.output, "cannot create"), 1) << run.output;
    EXPECT_EQ(linesWith(run.output, "cannot be read"), 0) << run.output;
    struct stat info {};
    ASSERT_EQ(::stat(base.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0u);
    ASSERT_EQ(::chmod(base.c_str(), 0700), 0);
    if (fs::is_directory(base)) {
      EXPECT_TRUE(fs::is_empty(base));
    } else {
      EXPECT_EQ(fileText(base), "kept");
    }
  }
}

}  // namespace
