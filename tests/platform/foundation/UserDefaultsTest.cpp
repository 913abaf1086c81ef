// User defaults on a real property-list file in a sandboxed home.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/FileRights.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;

std::string storePath(const Sandbox& box) {
  return box.home().string() + "/.config/com.ordel42.zeravozezi.plist";
}

TEST(UserDefaultsTest, ConvertsAsThePlatformDoes) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_EQ(d->storePath(), storePath(box));

  d->setObject_forKey("7", "count");
  d->setObject_forKey("YES", "flagYes");
  d->setObject_forKey("Y", "flagY");
  d->setObject_forKey("N", "flagN");
  d->setObject_forKey("2.5", "ratio");
  d->setInteger_forKey(42, "number");
  d->setBool_forKey(true, "bool");
  EXPECT_EQ(d->integerForKey("count"), 7);
  EXPECT_TRUE(d->boolForKey("flagYes"));
  EXPECT_TRUE(d->boolForKey("flagY"));
  EXPECT_FALSE(d->boolForKey("flagN"));
  EXPECT_DOUBLE_EQ(d->doubleForKey("ratio"), 2.5);
  EXPECT_FLOAT_EQ(d->floatForKey("ratio"), 2.5f);
  EXPECT_EQ(d->stringForKey("number"), "42");
  EXPECT_EQ(d->integerForKey("bool"), 1);
  EXPECT_TRUE(d->objectForKey("bool").isBool());

  // Absent keys read as zero, NO and nil; a kind that does not fit reads as nil.
  EXPECT_EQ(d->integerForKey("absent"), 0);
  EXPECT_FALSE(d->boolForKey("absent"));
  EXPECT_EQ(d->doubleForKey("absent"), 0.0);
  EXPECT_FALSE(d->stringForKey("absent"));
  EXPECT_TRUE(d->objectForKey("absent").isNil());
  EXPECT_TRUE(d->arrayForKey("count").isNil());
  EXPECT_TRUE(d->dictionaryForKey("count").isNil());

  d->setObject_forKey(ns::Array{ns::Value("a"), ns::Value("b")}, "list");
  d->setObject_forKey(ns::Array{ns::Value("a"), ns::Value(1)}, "mixed");
  EXPECT_EQ(d->arrayForKey("list").count(), 2u);
  EXPECT_FALSE(d->stringArrayForKey("list").isNil());
  EXPECT_TRUE(d->stringArrayForKey("mixed").isNil());

  d->removeObjectForKey("count");
  EXPECT_TRUE(d->objectForKey("count").isNil());

  // Values that are no property list are refused.
  EXPECT_THROW(d->setObject_forKey(ns::Value::null(), "null"), ns::Exception);
  EXPECT_THROW(d->setObject_forKey(ns::Set{ns::Value(1)}, "set"), ns::Exception);
}

TEST(UserDefaultsTest, RegisteredDefaultsAndDomains) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  ns::Dictionary registered;
  registered.set("cachePolicy", 2);
  registered.set("feedRegion", "US");
  d->registerDefaults(registered);
  EXPECT_EQ(d->integerForKey("cachePolicy"), 2);
  d->setInteger_forKey(0, "cachePolicy");
  EXPECT_EQ(d->integerForKey("cachePolicy"), 0);
  d->removeObjectForKey("cachePolicy");
  EXPECT_EQ(d->integerForKey("cachePolicy"), 2);

  // Registered values are never written to the store.
  auto stored =
      ns::PropertyListSerialization::propertyListWithData(*ns::dataWithContentsOfFile(storePath(box)));
  EXPECT_FALSE(stored.dictionary().contains("feedRegion"));

  EXPECT_TRUE(d->persistentDomainForName(ns::NSGlobalDomain).isDictionary());
  EXPECT_EQ(d->persistentDomainForName(ns::NSGlobalDomain).count(), 0u);
  EXPECT_EQ(d->persistentDomainForName(ns::NSRegistrationDomain)["feedRegion"].string(), "US");
  d->setObject_forKey("x", "own");
  EXPECT_EQ(d->persistentDomainForName("com.ordel42.zeravozezi")["own"].string(), "x");
  EXPECT_TRUE(d->persistentDomainForName("org.other").isNil());
  EXPECT_EQ(d->dictionaryRepresentation()["feedRegion"].string(), "US");

  d->removePersistentDomainForName("com.ordel42.zeravozezi");
  EXPECT_TRUE(d->objectForKey("own").isNil());
  EXPECT_EQ(d->stringForKey("feedRegion"), "US");
}

TEST(UserDefaultsTest, ChangesArePostedAndStoredAsAnXmlPropertyList) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  int posts = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      ns::NSUserDefaultsDidChangeNotification, d, nullptr, [&](const ns::Ref<ns::Notification>& note) {
        ++posts;
        EXPECT_EQ(note->object(), d);
      });
  d->setObject_forKey(-5, "negative");
  d->setObject_forKey(ns::Date::dateWithTimeIntervalSince1970(1400000000), "when");
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  EXPECT_EQ(posts, 2);

  auto text = ns::stringWithContentsOfFile(storePath(box));
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("<?xml"), std::string::npos);
  EXPECT_NE(text->find("<integer>-5</integer>"), std::string::npos);
}

TEST(UserDefaultsTest, TwoThreadsWritingDifferentKeysLoseNothing) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < 60; ++i) d->setInteger_forKey(i, prefix + std::to_string(i));
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  // A fresh instance reads the file itself.
  ns::UserDefaults fresh(storePath(box));
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(fresh.objectForKey("a" + std::to_string(i)).integerValue(), i);
    EXPECT_EQ(fresh.objectForKey("b" + std::to_string(i)).integerValue(), i);
  }
}

TEST(UserDefaultsTest, SynchronizeTakesInAnotherWritersChanges) {
  Sandbox box;
  auto mine = ns::UserDefaults::standardUserDefaults();
  ns::UserDefaults other(storePath(box));
  mine->setObject_forKey("mine", "a");
  other.setObject_forKey("theirs", "b");
  EXPECT_TRUE(mine->objectForKey("b").isNil());
  EXPECT_TRUE(mine->synchronize());
  EXPECT_EQ(mine->stringForKey("b"), "theirs");
  // The other writer did not wipe our key when it wrote.
  EXPECT_EQ(other.stringForKey("a"), "mine");
}

std::size_t linesWith(const ns::LogCapture& log, std::string_view text) {
  auto messages = log.messages();
  return static_cast<std::size_t>(std::count_if(
      messages.begin(), messages.end(), [&](const std::string& m) { return m.find(text) != m.npos; }));
}

TEST(UserDefaultsTest, AnUnreadableStoreIsKeptAside) {
  Sandbox box;
  ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      box.home().string() + "/.config", true, {}, nullptr);
  ASSERT_TRUE(ns::writeStringToFile("<plist><dict><key>broken", storePath(box), false));
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_TRUE(d->objectForKey("anything").isNil());
  d->setObject_forKey("new", "key");
  d->setObject_forKey("newer", "key");
  EXPECT_EQ(*ns::stringWithContentsOfFile(storePath(box) + ".corrupt"), "<plist><dict><key>broken");
  EXPECT_EQ(ns::UserDefaults(storePath(box)).stringForKey("key"), "newer");
  EXPECT_EQ(linesWith(log, "is kept as " + storePath(box) + ".corrupt"), 1u)
      << ::testing::PrintToString(log.messages());
}

// The store as the user left it, with settings a launch must not lose.
const std::string kUsersStore =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>cacheSize</key><integer>20</integer><key>RepeatType</key><string>1</string>"
    "<key>preferredVideoQuality</key><string>1080</string></dict></plist>\n";

TEST(UserDefaultsTest, AStoreThatCannotBeReadIsNotWrittenOverAndSaysWhyOnce) {
  Sandbox box;
  std::filesystem::create_directories(box.configHome());
  // A link to a file every read of which fails (the process's own memory at address 0): a store
  // that is there but cannot be read, even by root.
  const std::string path = storePath(box);
  ASSERT_EQ(::symlink("/proc/self/mem", path.c_str()), 0);
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_TRUE(d->objectForKey("cacheSize").isNil());
  d->setInteger_forKey(7, "cacheSize");
  d->setObject_forKey("2", "RepeatType");
  // Kept for the run, written nowhere.
  EXPECT_EQ(d->integerForKey("cacheSize"), 7);
  EXPECT_EQ(d->stringForKey("RepeatType"), "2");
  EXPECT_FALSE(d->synchronize());
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(std::filesystem::read_symlink(path), "/proc/self/mem");
  EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
  EXPECT_EQ(linesWith(log, "cannot be read"), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(linesWith(log, path + " cannot be read (Input/output error)"), 1u);

  // Readable again (the user mended it): the next save takes in what it holds and adds the run's
  // changes.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  ASSERT_TRUE(ns::writeStringToFile(kUsersStore, path, false));
  d->setBool_forKey(true, "later");
  ns::UserDefaults reread(path);
  EXPECT_EQ(reread.integerForKey("cacheSize"), 7);
  EXPECT_EQ(reread.stringForKey("RepeatType"), "2");
  EXPECT_EQ(reread.stringForKey("preferredVideoQuality"), "1080");
  EXPECT_TRUE(reread.boolForKey("later"));
}

TEST(UserDefaultsTest, APipeInTheStoresPlaceIsNeitherReadNorReplaced) {
  Sandbox box;
  ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      box.home().string() + "/.config", true, {}, nullptr);
  const std::string path = storePath(box);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  // A writer that would hand a reader a whole store: whatever opens the pipe to read gets it.
  std::thread writer([path] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const std::string store = "<plist><dict><key>fromPipe</key><string>read</string></dict></plist>";
    [[maybe_unused]] auto written = ::write(fd, store.data(), store.size());
    ::close(fd);
  });
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_TRUE(d->objectForKey("fromPipe").isNil());
  // The writer waits for a reader: this one lets it go.
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  writer.join();
  if (reader >= 0) ::close(reader);
  d->setObject_forKey("new", "key");
  EXPECT_FALSE(d->synchronize());
  EXPECT_EQ(d->stringForKey("key"), "new");
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A link to a device, and a file the user may only read (the test drops root's right to pass over
// modes): named once each, with why, and left as they are while the run keeps its changes.
TEST(UserDefaultsTest, ALinkToADeviceOrAStoreThatCannotBeWrittenIsNamedOnceAndLeftAsItIs) {
  Sandbox box;
  std::filesystem::create_directories(box.configHome());
  const std::string path = storePath(box);
  ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  for (int i = 0; i < 3; ++i) d->setInteger_forKey(i, "cacheSize");
  EXPECT_FALSE(d->synchronize());
  EXPECT_EQ(d->integerForKey("cacheSize"), 2);
  EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/zero");
  EXPECT_EQ(linesWith(log, "UserDefaults: "), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(linesWith(log, "UserDefaults: " + path +
                               " is no regular file; it is left as it is and changes are kept in memory for "
                               "this run"),
            1u);

  ASSERT_EQ(::unlink(path.c_str()), 0);
  ASSERT_TRUE(ns::writeStringToFile(kUsersStore, path, false));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  log.clear();
  std::thread user([&] {
    ASSERT_TRUE(pltest::dropFileOverridesOnThisThread());
    ns::UserDefaults readOnly(path);
    EXPECT_EQ(readOnly.integerForKey("cacheSize"), 20);
    for (int i = 0; i < 3; ++i) readOnly.setInteger_forKey(i, "cacheSize");
    EXPECT_FALSE(readOnly.synchronize());
    EXPECT_EQ(readOnly.integerForKey("cacheSize"), 2);
  });
  user.join();
  EXPECT_EQ(*ns::stringWithContentsOfFile(path), kUsersStore);
  EXPECT_EQ(linesWith(log, "UserDefaults: "), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(linesWith(log, "UserDefaults: " + path +
                               " cannot be written (Permission denied); it is left as it is and changes are "
                               "kept in memory for this run"),
            1u);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
}

TEST(UserDefaultsTest, AFolderInTheStoresPlaceIsNamedOnceHoweverOftenItIsSavedAndAgainOnceItBreaksAnew) {
  Sandbox box;
  const std::string path = storePath(box);
  std::filesystem::create_directories(path);
  { std::ofstream(path + "/inside") << "the user's"; }
  const std::string warning =
      "UserDefaults: " + path +
      " is no regular file; it is left as it is and changes are kept in memory for this run";
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_TRUE(d->objectForKey("cacheSize").isNil());
  for (int i = 0; i < 5; ++i) d->setInteger_forKey(i, "cacheSize");
  EXPECT_FALSE(d->synchronize());
  // Another object on the same file in the same process is told nothing new either.
  ns::UserDefaults other(path);
  other.setObject_forKey("x", "y");
  EXPECT_EQ(linesWith(log, "is no regular file"), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(linesWith(log, warning), 1u);
  for (const auto& line : log.lines())
    if (line.message == warning) {
      EXPECT_EQ(line.level, ns::LogLevel::Warning);
    }
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path), std::filesystem::directory_iterator()),
            1);

  // The user moves the folder away: the next save writes the store, and a folder put back later is
  // news again, said once.
  std::filesystem::rename(path, path + ".moved");
  d->setInteger_forKey(9, "cacheSize");
  EXPECT_EQ(ns::UserDefaults(path).integerForKey("cacheSize"), 9);
  std::filesystem::remove(path);
  std::filesystem::create_directories(path);
  d->setInteger_forKey(10, "cacheSize");
  d->setInteger_forKey(11, "cacheSize");
  EXPECT_EQ(linesWith(log, warning), 2u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(d->integerForKey("cacheSize"), 11);
}

TEST(UserDefaultsTest, AStoreDamagedAfterLoadingIsKeptAsideNotOverwritten) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  d->setObject_forKey("one", "a");
  const std::string edited = "<plist><dict><key>a</key><string>edited by hand";
  ASSERT_TRUE(ns::writeStringToFile(edited, storePath(box), false));
  d->setObject_forKey("two", "b");
  EXPECT_EQ(ns::stringWithContentsOfFile(storePath(box) + ".corrupt"), std::optional<std::string>(edited));
  ns::UserDefaults reread(storePath(box));
  EXPECT_EQ(reread.stringForKey("a"), "one");
  EXPECT_EQ(reread.stringForKey("b"), "two");
}

TEST(UserDefaultsTest, AKeyThatIsNotTextIsRefusedAndLaterChangesAreStillStored) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  d->setObject_forKey("one", "a");
  EXPECT_THROW(d->setObject_forKey("bad", std::string("k\0ey", 4)), ns::Exception);
  EXPECT_THROW(d->setObject_forKey("bad", "caf\xe9"), ns::Exception);
  d->setObject_forKey("two", "b");
  EXPECT_TRUE(d->synchronize());
  ns::UserDefaults reread(storePath(box));
  EXPECT_EQ(reread.stringForKey("a"), "one");
  EXPECT_EQ(reread.stringForKey("b"), "two");
}

TEST(UserDefaultsTest, TestHookAndSuites) {
  Sandbox box;
  ns::UserDefaults::setStandardDefaultsFolderForTesting(box.path("prefs"));
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_EQ(d->storePath(), box.path("prefs/com.ordel42.zeravozezi.plist"));
  d->setBool_forKey(true, "hooked");
  EXPECT_TRUE(
      ns::FileManager::defaultManager()->fileExistsAtPath(box.path("prefs/com.ordel42.zeravozezi.plist")));
  ns::UserDefaults::setStandardDefaultsFolderForTesting(std::nullopt);
  EXPECT_EQ(ns::UserDefaults::standardUserDefaults()->storePath(), storePath(box));

  auto suite = ns::UserDefaults::initWithSuiteName("org.example.suite");
  ASSERT_TRUE(suite);
  EXPECT_EQ(suite->storePath(), box.home().string() + "/.config/org.example.suite.plist");
  EXPECT_FALSE(ns::UserDefaults::initWithSuiteName("../escape"));
  EXPECT_FALSE(ns::UserDefaults::initWithSuiteName(""));
}

// Runs in a child process started by the next test: reads what the parent stored.
TEST(UserDefaultsChild, DISABLED_ReadsWhatTheParentWrote) {
  const char* expected = std::getenv("PELORIN_EXPECT_VOLUME");
  ASSERT_NE(expected, nullptr);
  auto d = ns::UserDefaults::standardUserDefaults();
  EXPECT_EQ(d->integerForKey("volume"), std::atoi(expected));
  EXPECT_EQ(d->stringForKey("downloadPath"), "file:///tmp/ü/");
  EXPECT_EQ(d->objectForKey("big").unsignedLongLongValue(), 18446744073709551615ull);
}

// A child process run as root becomes the unprivileged user 65534, whom mode bits stop.
void becomeUnprivileged() {
  if (::geteuid() != 0) return;
  ASSERT_EQ(::setgroups(0, nullptr), 0);
  ASSERT_EQ(::setgid(65534), 0);
  ASSERT_EQ(::setuid(65534), 0);
  // A change of user makes the process undumpable, which would stop the leak check at exit.
  ::prctl(PR_SET_DUMPABLE, 1);
}

// Runs in a child process started by the next test, as an unprivileged user where the tests run
// as root: the store is there at mode 000.
TEST(UserDefaultsChild, DISABLED_LeavesAStoreItMayNotReadAsItIs) {
  ASSERT_NO_FATAL_FAILURE(becomeUnprivileged());
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  ASSERT_NE(::access(d->storePath().c_str(), R_OK), 0) << "the store is readable to this process";
  EXPECT_TRUE(d->objectForKey("cacheSize").isNil());
  d->setInteger_forKey(3, "cacheSize");
  d->setObject_forKey("0", "RepeatType");
  EXPECT_EQ(d->integerForKey("cacheSize"), 3);
  EXPECT_FALSE(d->synchronize());
  ns::UserDefaults::resetStandardUserDefaults();  // as at quit
  EXPECT_EQ(linesWith(log, d->storePath() + " cannot be read (Permission denied)"), 1u)
      << ::testing::PrintToString(log.messages());
}

TEST(UserDefaultsTest, AStoreTheProcessMayNotReadIsUnchangedAfterARun) {
  Sandbox box;
  const std::string path = storePath(box);
  std::filesystem::create_directories(box.configHome());
  ASSERT_TRUE(ns::writeStringToFile(kUsersStore, path, false));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  // The child reaches the folder and could write there: only the store's mode stands in its way.
  for (const auto& folder : {box.root(), box.home()}) ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(box.configHome().c_str(), 0777), 0);

  int status = pltest::runChildTest("UserDefaultsChild.DISABLED_LeavesAStoreItMayNotReadAsItIs");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed";
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0u);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(ns::stringWithContentsOfFile(path), std::optional<std::string>(kUsersStore));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(box.configHome()),
                          std::filesystem::directory_iterator()),
            1)
      << "no copy and no temporary file beside it";
}

// Runs in a child process started by the next test, as the store's owner, unprivileged: the store
// may be written, its folder may not, and the save replaces the store through that folder.
TEST(UserDefaultsChild, DISABLED_SaysOnceThatAStoreInAFolderItMayNotWriteIsNotSaved) {
  ASSERT_NO_FATAL_FAILURE(becomeUnprivileged());
  ns::LogCapture log(true);
  auto d = ns::UserDefaults::standardUserDefaults();
  const std::string folder = d->storePath().substr(0, d->storePath().rfind('/'));
  ASSERT_EQ(::access(d->storePath().c_str(), W_OK), 0) << "the store is not writable to this process";
  ASSERT_NE(::access(folder.c_str(), W_OK), 0) << "the folder is writable to this process";
  EXPECT_EQ(d->integerForKey("cacheSize"), 20);
  for (int i = 0; i < 3; ++i) d->setInteger_forKey(i, "cacheSize");
  EXPECT_FALSE(d->synchronize());
  EXPECT_EQ(d->integerForKey("cacheSize"), 2);
  // A second store in that folder, not there yet, cannot be made either.
  auto suite = ns::UserDefaults::initWithSuiteName("org.example.suite");
  suite->setBool_forKey(true, "kept");
  EXPECT_TRUE(suite->boolForKey("kept"));
  ns::UserDefaults::resetStandardUserDefaults();  // as at quit
  EXPECT_EQ(linesWith(log, "UserDefaults: "), 1u) << ::testing::PrintToString(log.messages());
  EXPECT_EQ(linesWith(log, "UserDefaults: " + folder +
                               " cannot be written (Permission denied); it is left as it is and changes "
                               "are kept in memory for this run"),
            1u);
}

TEST(UserDefaultsTest, AStoreInAFolderTheProcessMayNotWriteIsUnchangedAndSaidOnce) {
  Sandbox box;
  const std::string path = storePath(box);
  std::filesystem::create_directories(box.configHome());
  ASSERT_TRUE(ns::writeStringToFile(kUsersStore, path, false));
  // The user's own store, writable, in their own folder at mode 0555.
  const uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
  const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
  for (const auto& folder : {box.root(), box.home()}) ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(::chown(box.configHome().c_str(), user, group), 0);
  ASSERT_EQ(::chown(path.c_str(), user, group), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(box.configHome().c_str(), 0555), 0);

  int status =
      pltest::runChildTest("UserDefaultsChild.DISABLED_SaysOnceThatAStoreInAFolderItMayNotWriteIsNotSaved");
  ASSERT_EQ(::chmod(box.configHome().c_str(), 0755), 0);
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed";
  EXPECT_EQ(ns::stringWithContentsOfFile(path), std::optional<std::string>(kUsersStore));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(box.configHome()),
                          std::filesystem::directory_iterator()),
            1)
      << "no copy and no temporary file beside it";
}

TEST(UserDefaultsTest, ValuesSurviveAProcessRestart) {
  Sandbox box;
  auto d = ns::UserDefaults::standardUserDefaults();
  d->setInteger_forKey(73, "volume");
  d->setObject_forKey("file:///tmp/ü/", "downloadPath");
  d->setObject_forKey(18446744073709551615ull, "big");
  box.set("PELORIN_EXPECT_VOLUME", "73");

  int status = pltest::runChildTest("UserDefaultsChild.DISABLED_ReadsWhatTheParentWrote");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child did not read the stored values";
}

}  // namespace
