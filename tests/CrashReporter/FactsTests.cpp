// Host, process, executable and image facts of the running process, checked against what the
// tests read themselves from the ELF files, procfs and the loader.
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSStackWalk.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/CrashProgram.h"

namespace {

namespace fs = std::filesystem;

std::string firstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Where the file is mapped from its start, as the kernel lists it.
std::uint64_t mappedStart(const std::string& name) {
  std::string path = fs::canonical(name).string();
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, file;
    fields >> range >> permissions >> offset >> device >> inode >> file;
    if (file == path && std::stoull(offset, nullptr, 16) == 0)
      return std::stoull(range.substr(0, range.find('-')), nullptr, 16);
  }
  return 0;
}

TEST(FactsChild, DISABLED_TheRunningProcessDescribesItself) {
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;
  std::string folder = sandbox.path("crash");
  fs::create_directories(folder);
  std::string record = folder + "/s.crsrecord", marker = folder + "/marker";
  CRSContextInitData data;
  data.sessionIdentifier = "S";
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  CRSContextInitialize(data);
  ASSERT_TRUE(CRSContextIsInitialized());
  const CRSContext* context = CRSContextGet();

  std::string exe = fs::read_symlink("/proc/self/exe").string();
  std::string exeId = crstest::buildIdOfFile(exe);
  ASSERT_EQ(exeId.size(), 40u);
  ASSERT_NE(context->executable.uuid, nullptr);
  EXPECT_EQ(context->executable.uuid, exeId);
  EXPECT_STREQ(context->executable.architecture, "x86_64");
  EXPECT_EQ(context->executable.address, mappedStart(exe));
  EXPECT_STREQ(context->executable.path, exe.c_str());
  EXPECT_EQ(context->process.name, firstLineOf("/proc/self/comm"));
  EXPECT_EQ(context->process.pid, ::getpid());
  EXPECT_STREQ(context->host.platform, "Linux");
  EXPECT_EQ(context->host.platformCode, 5u);

  const CRSBinaryImageList* images = CRSWritableContextGet()->binaryImages.load();
  ASSERT_NE(images, nullptr);
  bool sawLibc = false;
  for (std::uint32_t i = 0; i < images->count; ++i) {
    if (i > 0) {
      EXPECT_LE(images->entries[i - 1].address, images->entries[i].address);
    }
    std::string path = images->entries[i].path;
    if (path.find("/libc.so.6") != std::string::npos) {
      sawLibc = true;
      ASSERT_NE(images->entries[i].uuid, nullptr);
      EXPECT_EQ(images->entries[i].uuid, crstest::buildIdOfFile(path));
      EXPECT_EQ(images->entries[i].address, mappedStart(path));
    }
  }
  EXPECT_TRUE(sawLibc);

  std::string libraryId = crstest::buildIdOfFile(CRS_TEST_LIBRARY);
  ASSERT_EQ(libraryId.size(), 40u);
  EXPECT_EQ(CRSBinaryImagesUUIDMap().count(libraryId), 0u);
  auto listed = [] {
    const CRSBinaryImageList* now = CRSWritableContextGet()->binaryImages.load();
    for (std::uint32_t i = 0; now && i < now->count; ++i)
      if (fs::path(now->entries[i].path) == fs::path(CRS_TEST_LIBRARY)) return true;
    return false;
  };
  void* library = ::dlopen(CRS_TEST_LIBRARY, RTLD_NOW);
  ASSERT_NE(library, nullptr) << ::dlerror();
  // A crash soon after a library is loaded walks its frames by its table: the list takes it
  // within moments, before anything asks for the map.
  EXPECT_FALSE(listed());
  clock.advance(1.5);
  EXPECT_TRUE(pltest::pumpUntil(listed, 30));
  auto map = CRSBinaryImagesUUIDMap();
  ASSERT_EQ(map.count(libraryId), 1u);
  Dl_info info{};
  ASSERT_NE(::dladdr(::dlsym(library, "crs_test_library_value"), &info), 0);
  EXPECT_EQ(map[libraryId], reinterpret_cast<std::uint64_t>(info.dli_fbase));
  EXPECT_EQ(map[exeId], context->executable.address);
}

// Starts the crash context with its record files in the sandbox.
void initialiseContext(pltest::Sandbox& sandbox) {
  std::string folder = sandbox.path("crash");
  fs::create_directories(folder);
  std::string record = folder + "/s.crsrecord", marker = folder + "/marker";
  CRSContextInitData data;
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  CRSContextInitialize(data);
}

// The entry of the image list for the object loaded from `path`, or null.
const CRSBinaryImage* listedImage(const std::string& path) {
  const CRSBinaryImageList* list = CRSWritableContextGet()->binaryImages.load();
  for (std::uint32_t i = 0; list && i < list->count; ++i)
    if (fs::path(list->entries[i].path) == fs::path(path)) return &list->entries[i];
  return nullptr;
}

TEST(FactsChild, DISABLED_AnUnloadedLibraryLeavesTheImageList) {
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;  // no image tick: only asking for the map rescans
  initialiseContext(sandbox);
  ASSERT_TRUE(CRSContextIsInitialized());
  std::atomic<const CRSBinaryImageList*>& published = CRSWritableContextGet()->binaryImages;

  CRSBinaryImagesUUIDMap();
  const CRSBinaryImageList* before = published.load();
  void* library = ::dlopen(CRS_TEST_LIBRARY, RTLD_NOW);
  ASSERT_NE(library, nullptr) << ::dlerror();
  CRSBinaryImagesUUIDMap();
  ASSERT_NE(listedImage(CRS_TEST_LIBRARY), nullptr);
  CRSBinaryImage entry = *listedImage(CRS_TEST_LIBRARY);
  EXPECT_TRUE(CRSBinaryImageIsMapped(entry, nullptr));
  ASSERT_EQ(::dlclose(library), 0);
  // Before the list is built again, a crash tells the entry from what lies at its place now:
  // nothing, then a page of something else.
  EXPECT_FALSE(CRSBinaryImageIsMapped(entry, nullptr));
  void* page = ::mmap(reinterpret_cast<void*>(entry.address), 4096, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(page, reinterpret_cast<void*>(entry.address));
  std::memcpy(page,
              "\x7f"
              "ELF",
              4);
  EXPECT_FALSE(CRSBinaryImageIsMapped(entry, nullptr));
  ::munmap(page, 4096);
  // The next look drops it, and the list is the one published before it was loaded.
  EXPECT_EQ(CRSBinaryImagesUUIDMap().count(entry.uuid), 0u);
  EXPECT_EQ(listedImage(CRS_TEST_LIBRARY), nullptr);
  EXPECT_EQ(published.load(), before);
  // Loaded again, it is listed again.
  library = ::dlopen(CRS_TEST_LIBRARY, RTLD_NOW);
  ASSERT_NE(library, nullptr) << ::dlerror();
  EXPECT_EQ(CRSBinaryImagesUUIDMap().count(entry.uuid), 1u);
  ASSERT_NE(listedImage(CRS_TEST_LIBRARY), nullptr);
  EXPECT_TRUE(CRSBinaryImageIsMapped(*listedImage(CRS_TEST_LIBRARY), nullptr));
}

void otherHandler(int) {}

TEST(FactsChild, DISABLED_HandlersThatAreNoLongerOursAreReported) {
  pltest::Sandbox sandbox;
  initialiseContext(sandbox);
  EXPECT_EQ(CRSCheckExceptionAndSignalHandlers(), 0);
  ::signal(SIGTRAP, otherHandler);
  EXPECT_EQ(CRSCheckExceptionAndSignalHandlers(), 1);
  std::set_terminate([] { std::abort(); });
  EXPECT_EQ(CRSCheckExceptionAndSignalHandlers(), 2);

  CRSStackFrame frame = CRSStackFrame::stackFrameWithAddress(0x1234);
  frame.symbol = "f";
  CRSRecordCustomException("Custom", "a b", {frame});
  const CRSException* exception = CRSWritableContextGet()->exception.current.load();
  ASSERT_NE(exception, nullptr);
  EXPECT_STREQ(exception->name, "Custom");
  EXPECT_STREQ(exception->reason, "a%20b");
  ASSERT_EQ(exception->frameCount, 1u);
  EXPECT_EQ(exception->frames[0].address, 0x1234u);
  EXPECT_STREQ(exception->frames[0].symbol, "f");
}

TEST(Facts, HandlersThatAreNoLongerOursAreReported) {
  pltest::Sandbox sandbox;
  int status = pltest::runChildTest("FactsChild.DISABLED_HandlersThatAreNoLongerOursAreReported");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Facts, AnUnloadedLibraryLeavesTheImageList) {
  if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  pltest::Sandbox sandbox;
  int status = pltest::runChildTest("FactsChild.DISABLED_AnUnloadedLibraryLeavesTheImageList");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Facts, TheRunningProcessDescribesItself) {
  if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  pltest::Sandbox sandbox;
  int status = pltest::runChildTest("FactsChild.DISABLED_TheRunningProcessDescribesItself");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

class FactsOfAProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  }
  fs::path folder(const std::string& name) {
    fs::path path = sandbox_.temporaryFolder(name);
    fs::create_directories(path);
    return path;
  }
  pltest::Sandbox sandbox_;
};

TEST_F(FactsOfAProgram, APreloadedLibraryIsReported) {
  auto plain = crstest::runCrashProgram("facts", folder("plain"));
  EXPECT_EQ(plain.facts["dyld_insert"], "no") << plain.stderrText;
  EXPECT_EQ(std::stoul(plain.facts["device_flags"]) & 32, 0u);
  EXPECT_EQ(plain.facts["process_name"], "crash_test_prog");
  auto preloaded = crstest::runCrashProgram(
      "facts", folder("preloaded"),
      {std::string("LD_PRELOAD=") + CRS_TEST_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"});
  EXPECT_EQ(preloaded.facts["dyld_insert"], "yes") << preloaded.stderrText;
  EXPECT_EQ(std::stoul(preloaded.facts["device_flags"]) & 32, 32u);
}

TEST_F(FactsOfAProgram, TheInstallIdentifierIsStableAndNewOnlyOnce) {
  auto first = crstest::runCrashProgram("facts", folder("first"));
  auto second = crstest::runCrashProgram("facts", folder("second"));
  ASSERT_EQ(first.facts["install_id"].size(), 36u) << first.stderrText;
  EXPECT_EQ(first.facts["install_id"], second.facts["install_id"]);
  EXPECT_EQ(first.facts["new_install"], "yes");
  EXPECT_EQ(second.facts["new_install"], "no");
}

TEST_F(FactsOfAProgram, TheDeviceIdentifierComesFromTheMachineId) {
  fs::path idFile = folder("id") / "machine-id";
  { std::ofstream(idFile) << "0123456789abcdef0123456789abcdef\n"; }
  auto withId =
      crstest::runCrashProgram("segv", folder("with"), {"CRS_TEST_MACHINE_ID_PATH=" + idFile.string()});
  ASSERT_EQ(withId.rawLines.size(), 21u) << withId.stderrText;
  EXPECT_EQ(withId.line("identity")["device_id"].stringValue(), "01234567-89AB-CDEF-0123-456789ABCDEF");
  auto without = crstest::runCrashProgram("segv", folder("without"),
                                          {"CRS_TEST_MACHINE_ID_PATH=/nonexistent/machine-id"});
  ASSERT_EQ(without.rawLines.size(), 21u) << without.stderrText;
  EXPECT_FALSE(without.line("identity").dictionary().contains("device_id"));
  EXPECT_TRUE(without.line("identity").dictionary().contains("install_id"));
}

}  // namespace
