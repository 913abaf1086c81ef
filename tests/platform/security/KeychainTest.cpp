#include "platform/security/Keychain.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/testing/Files.h"
#include "platform/testing/Sandbox.h"

namespace {

using namespace sec;
namespace fs = std::filesystem;

class KeychainTest : public ::testing::Test {
 protected:
  void TearDown() override { Keychain::setDefaultPath(std::nullopt); }
  static unsigned mode(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 0777;
  }
  pltest::Sandbox sandbox_;
  fs::path dir_ = sandbox_.temporaryFolder("keychain");
  fs::path file_ = dir_ / "Pelorin" / "keychain";
};

TEST_F(KeychainTest, RoundTripsItemsWithPlatformStatuses) {
  Keychain kc(file_);
  std::string secret;
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecItemNotFound);
  EXPECT_FALSE(fs::exists(dir_ / "Pelorin"));  // a lookup creates nothing

  const std::string token("refresh_token=1%2Fabc&email=a%40b.c\0\xff", 38);
  EXPECT_EQ(kc.addGenericPassword("Pelorin", "OAuth", token), errSecSuccess);
  EXPECT_EQ(mode(file_), 0600u);
  EXPECT_EQ(kc.addGenericPassword("Pelorin", "OAuth", "other"), errSecDuplicateItem);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecSuccess);
  EXPECT_EQ(secret, token);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", static_cast<std::string*>(nullptr)), errSecSuccess);
  ns::Data asData;
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &asData), errSecSuccess);
  EXPECT_EQ(asData, ns::Data(token));
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "oauth", &secret), errSecItemNotFound);
  EXPECT_EQ(kc.findGenericPassword("Other", "OAuth", &secret), errSecItemNotFound);

  // Items with the same service and different accounts, an empty account and an empty secret.
  EXPECT_EQ(kc.addGenericPassword("Pelorin", "", ""), errSecSuccess);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "", &secret), errSecSuccess);
  EXPECT_EQ(secret, "");

  EXPECT_EQ(kc.updateGenericPassword("Pelorin", "OAuth", "new"), errSecSuccess);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecSuccess);
  EXPECT_EQ(secret, "new");
  EXPECT_EQ(kc.updateGenericPassword("Pelorin", "missing", "x"), errSecItemNotFound);

  EXPECT_EQ(kc.deleteGenericPassword("Pelorin", "OAuth"), errSecSuccess);
  EXPECT_EQ(kc.deleteGenericPassword("Pelorin", "OAuth"), errSecItemNotFound);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecItemNotFound);
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "", &secret), errSecSuccess);

  EXPECT_EQ(kc.addGenericPassword("", "OAuth", "x"), errSecParam);
  EXPECT_EQ(kc.findGenericPassword("", "OAuth", &secret), errSecParam);
  EXPECT_EQ(mode(file_), 0600u);
  // No temporary files are left beside the store.
  EXPECT_EQ(pltest::folderTree(file_.parent_path()).size(), 2u);  // the store and its lock file
}

TEST_F(KeychainTest, SurvivesARestartOfTheProcess) {
  Keychain::setDefaultPath(file_);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OSStatus s = SecKeychainAddGenericPassword("Pelorin", "OAuth", "saved by another process");
    ::_exit(s == errSecSuccess ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string secret;
  EXPECT_EQ(SecKeychainFindGenericPassword("Pelorin", "OAuth", &secret), errSecSuccess);
  EXPECT_EQ(secret, "saved by another process");
  EXPECT_EQ(SecKeychainDeleteGenericPassword("Pelorin", "OAuth"), errSecSuccess);
  EXPECT_EQ(SecKeychainFindGenericPassword("Pelorin", "OAuth", &secret), errSecItemNotFound);
}

TEST_F(KeychainTest, DefaultStoreIsInTheApplicationDataFolder) {
  sandbox_.set("XDG_DATA_HOME", dir_.string());
  EXPECT_EQ(Keychain::defaultPath(), dir_ / "Pelorin" / "keychain");
  Keychain::setDefaultPath(dir_ / "elsewhere");
  EXPECT_EQ(Keychain::defaultKeychain().path(), dir_ / "elsewhere");
}

TEST_F(KeychainTest, CorruptStoreIsReportedAndNeverOverwritten) {
  pltest::writeFile(file_, "PelorinKeychain 1\nzz-not-hex 00 00\n");
  ::chmod(file_.c_str(), 0644);
  Keychain kc(file_);
  std::string secret;
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecDecode);
  EXPECT_EQ(kc.addGenericPassword("Pelorin", "OAuth", "x"), errSecDecode);
  EXPECT_EQ(kc.deleteGenericPassword("Pelorin", "OAuth"), errSecDecode);
  EXPECT_EQ(pltest::readFile(file_), "PelorinKeychain 1\nzz-not-hex 00 00\n");
  EXPECT_EQ(mode(file_), 0600u);  // tightened on first read

  pltest::writeFile(file_, "something else entirely\n");
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecDecode);
}

TEST_F(KeychainTest, APipeInTheStoresPlaceIsAnErrorAndNeverWaitedOn) {
  fs::create_directories(file_.parent_path());
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  // A writer that would hand a reader a whole store holding the item.
  std::thread writer([path = file_] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const std::string store = "PelorinKeychain 1\n50656c6f72696e 4f41757468 78\n";
    [[maybe_unused]] auto written = ::write(fd, store.data(), store.size());
    ::close(fd);
  });
  Keychain kc(file_);
  std::string secret;
  EXPECT_EQ(kc.findGenericPassword("Pelorin", "OAuth", &secret), errSecIO);
  EXPECT_EQ(secret, "");
  // The writer waits for a reader: this one lets it go.
  const int reader = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  writer.join();
  if (reader >= 0) ::close(reader);
  EXPECT_EQ(kc.addGenericPassword("Pelorin", "OAuth", "y"), errSecIO);
  struct stat st {};
  ASSERT_EQ(::lstat(file_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(KeychainTest, ConcurrentWritersLoseNothing) {
  Keychain kc(file_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i)
        EXPECT_EQ(kc.addGenericPassword("svc", std::to_string(t) + "/" + std::to_string(i), "p"),
                  errSecSuccess);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(kc.findGenericPassword("svc", std::to_string(t) + "/" + std::to_string(i),
                                       static_cast<ns::Data*>(nullptr)),
                errSecSuccess);
}

}  // namespace
