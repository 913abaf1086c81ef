// User data for crash records. Tests that need the initialised context run in a child process
// (the context is set up once per process and installs signal handlers).
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSCrashRecord.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/CrashProgram.h"

namespace {

namespace fs = std::filesystem;

bool passedInChild(const std::string& name) {
  int status = pltest::runChildTest("UserLoggingChild.DISABLED_" + name);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string initialiseContext(const pltest::Sandbox& sandbox) {
  std::string folder = sandbox.path("crash");
  fs::create_directories(folder);
  static std::string record, marker, running, session;
  record = folder + "/s.crsrecord";
  marker = folder + "/marker";
  running = folder + "/session.crslog";
  session = folder + "/s.crslog";
  CRSContextInitData data;
  data.apiKey = "key";
  data.sessionIdentifier = "S";
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  data.runningLogPath = running.c_str();
  data.sessionLogPath = session.c_str();
  CRSContextInitialize(data);
  EXPECT_TRUE(CRSContextIsInitialized());
  return folder;
}

std::vector<std::pair<std::string, std::string>> attributes() {
  std::vector<std::pair<std::string, std::string>> entries;
  CRSUserData& user = CRSWritableContextGet()->user;
  CRSCustomAttribute* table = user.attributes.load();
  for (std::uint32_t i = 0; i < user.attributeCount.load(); ++i) {
    entries.emplace_back(table[i].key.load(), table[i].value.load());
  }
  return entries;
}

TEST(UserLoggingChild, DISABLED_CustomKeysReplaceTheOldestSlotsInTurn) {
  pltest::Sandbox sandbox;
  initialiseContext(sandbox);
  for (int i = 0; i < 64; ++i)
    CRSCustomAttributeSet(("v" + std::to_string(i)).c_str(), ("k" + std::to_string(i)).c_str());
  ASSERT_EQ(attributes().size(), 64u);
  CRSCustomAttributeSet("v64", "k64");
  EXPECT_EQ(attributes()[0], std::make_pair(std::string("k64"), std::string("v64")));
  CRSCustomAttributeSet("v65", "k65");
  EXPECT_EQ(attributes()[1], std::make_pair(std::string("k65"), std::string("v65")));
  // Setting a key that exists replaces its value in place and advances nothing.
  CRSCustomAttributeSet("again", "k10");
  EXPECT_EQ(attributes()[10].second, "again");
  CRSCustomAttributeSet("v66", "k66");
  EXPECT_EQ(attributes()[2].first, "k66");
  EXPECT_EQ(attributes().size(), 64u);
  // Missing pieces are ignored.
  CRSCustomAttributeSet(nullptr, "k1");
  CRSCustomAttributeSet("v", nullptr);
  EXPECT_EQ(attributes()[1].second, "v65");

  // Long values keep at most 1024 bytes and end at a whole escape; keys are kept whole.
  std::string escaped;
  while (escaped.size() < 2000) escaped += "%41";
  CRSCustomAttributeSet(escaped.c_str(), "quote\"key");
  auto stored = attributes();
  auto it = std::find_if(stored.begin(), stored.end(), [](const auto& e) { return e.first == "quote\"key"; });
  ASSERT_NE(it, stored.end());
  EXPECT_LE(it->second.size(), 1024u);
  EXPECT_EQ(it->second.size() % 3, 0u);
  EXPECT_EQ(it->second, escaped.substr(0, it->second.size()));

  // Settings without custom keys turn them off.
  CRSUserLoggingApplySettings(0, 64000);
  CRSCustomAttributeSet("new", "k-new");
  for (const auto& e : attributes()) EXPECT_NE(e.first, "k-new");
}

TEST(UserLoggingChild, DISABLED_TheSessionLogIsARingOfTheSettingsSize) {
  pltest::Sandbox sandbox;
  std::string folder = initialiseContext(sandbox);
  std::string running = folder + "/session.crslog";
  CRSUserData& user = CRSWritableContextGet()->user;
  for (int i = 0; i < 10; ++i) CRSSessionLog("before %d", i);
  EXPECT_EQ(crstest::readFile(running).size(), user.writeOffset.load());
  // The smaller size keeps the newest bytes once, then the ring goes on from there.
  CRSUserLoggingApplySettings(64, 100);
  for (int i = 0; i < 30; ++i) {
    CRSSessionLog("entry %02d", i);
    std::string contents = crstest::readFile(running);
    ASSERT_LE(contents.size(), 100u) << i;
    std::string ordered = CRSSessionLogReorder(contents, user.writeOffset.load());
    ASSERT_NE(ordered.find(ns::format(" $ entry %02d\n", i)), std::string::npos) << ordered;
    EXPECT_EQ(ordered.substr(ordered.size() - 9), ns::format("entry %02d\n", i));
  }
  std::string ordered = CRSSessionLogReorder(crstest::readFile(running), user.writeOffset.load());
  EXPECT_EQ(ordered.find("before"), std::string::npos);
  EXPECT_NE(ordered.find("entry 27\n"), std::string::npos);
  // A line longer than the ring keeps its last bytes.
  std::string longLine(150, 'x');
  longLine += "tail";
  CRSSessionLog("%s", longLine);
  ordered = CRSSessionLogReorder(crstest::readFile(running), user.writeOffset.load());
  EXPECT_EQ(ordered.size(), 100u);
  EXPECT_EQ(ordered.substr(ordered.size() - 5), "tail\n");
}

TEST(UserLoggingChild, DISABLED_StringsHeldByACrashTimeReaderOutliveTheirReplacement) {
  pltest::Sandbox sandbox;
  initialiseContext(sandbox);
  CRSWritableContext* writable = CRSWritableContextGet();
  CRSUserData& user = writable->user;
  CRSContextStringSet(&user.userName, std::string("first name"), true);
  CRSContextStringSet(&writable->batteryLevel, std::string("0.5"), false);
  CRSCustomAttributeSet("first value", "key");
  CRSRecordCustomException("FirstException", "first reason", {});
  ASSERT_EQ(CRSContextRetiredCountForTesting(), 0u);

  // A simulated crash-time writer counts itself, then loads the slots, as the real one does.
  writable->crashReaders.fetch_add(1);
  const char* name = user.userName.load();
  const char* battery = writable->batteryLevel.load();
  const char* value = user.attributes.load()[0].value.load();
  const char* exceptionName = writable->exception.current.load()->name;
  const char* exceptionReason = writable->exception.current.load()->reason;
  CRSContextStringSet(&user.userName, std::string("second name"), true);
  CRSContextStringSet(&writable->batteryLevel, std::string("1.0"), false);
  CRSCustomAttributeSet("second value", "key");
  CRSRecordCustomException("SecondException", "second reason", {});
  // A freed string would be a use after free here, which AddressSanitizer stops at.
  EXPECT_STREQ(name, "first%20name");
  EXPECT_STREQ(battery, "0.5");
  EXPECT_STREQ(value, "first value");
  EXPECT_STREQ(exceptionName, "FirstException");
  EXPECT_STREQ(exceptionReason, "first%20reason");
  EXPECT_STREQ(user.userName.load(), "second%20name");
  EXPECT_STREQ(user.attributes.load()[0].value.load(), "second value");
  EXPECT_STREQ(writable->exception.current.load()->name, "SecondException");
  // Three strings, and the exception's block.
  EXPECT_EQ(CRSContextRetiredCountForTesting(), 4u);
  writable->crashReaders.fetch_sub(1);

  // The first set after the reader ended frees them all with the string it replaces.
  CRSContextStringSet(&user.userName, std::nullopt, true);
  EXPECT_EQ(CRSContextRetiredCountForTesting(), 0u);
  EXPECT_STREQ(user.userName.load(), "(null)");
}

std::vector<CRSStackFrame> framesFrom(std::uint64_t first, int count) {
  std::vector<CRSStackFrame> frames;
  for (int i = 0; i < count; ++i) {
    frames.push_back(CRSStackFrame::stackFrameWithAddress(first + static_cast<std::uint64_t>(i)));
    frames.back().symbol = "f" + std::to_string(i);
  }
  return frames;
}

// Another thread records a shorter exception after the writer loaded the exception, before it
// writes the frames.
void recordShortException() {
  CRSRecordCustomException("ShortException", "three frames", framesFrom(0x3000, 3));
}

TEST(UserLoggingChild, DISABLED_AnExceptionReplacedWhileTheRecordIsWrittenIsWrittenWhole) {
  pltest::Sandbox sandbox;
  std::string folder = initialiseContext(sandbox);
  CRSRecordCustomException("LongException", "forty frames", framesFrom(0x1000, 40));
  CRSCrashRecordSetExceptionHookForTesting(recordShortException);
  // Reading forty frames from the three-frame block (or a freed block) is a heap overflow that
  // AddressSanitizer stops at.
  ASSERT_TRUE(CRSCrashRecordWrite(0, nullptr, nullptr));
  CRSCrashRecordSetExceptionHookForTesting(nullptr);
  EXPECT_STREQ(CRSWritableContextGet()->exception.current.load()->name, "ShortException");

  ns::Value exception;
  std::istringstream record(crstest::readFile(folder + "/s.crsrecord"));
  for (std::string line; std::getline(record, line);) {
    ns::Value parsed = ns::JSONSerialization::JSONObjectWithString(line);
    if (parsed.isDictionary() && parsed["exception"].isDictionary()) exception = parsed["exception"];
  }
  ASSERT_TRUE(exception.isDictionary());
  // The one exception that was loaded, whole: its name, reason and all its frames.
  EXPECT_EQ(exception["name"].stringValue(), "LongException");
  EXPECT_EQ(exception["reason"].stringValue(), "forty%20frames");
  ASSERT_EQ(exception["backtrace"].count(), 40u);
  for (std::uint64_t i = 0; i < 40; ++i)
    EXPECT_EQ(exception["backtrace"][i]["address"].unsignedLongLongValue(), 0x1000 + i) << i;
}

TEST(UserLogging, AnExceptionReplacedWhileTheRecordIsWrittenIsWrittenWhole) {
  if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  pltest::Sandbox sandbox;
  EXPECT_TRUE(passedInChild("AnExceptionReplacedWhileTheRecordIsWrittenIsWrittenWhole"));
}

TEST(UserLogging, ContextDependentBehaviourInAChild) {
  pltest::Sandbox sandbox;
  EXPECT_TRUE(passedInChild("CustomKeysReplaceTheOldestSlotsInTurn"));
  EXPECT_TRUE(passedInChild("TheSessionLogIsARingOfTheSettingsSize"));
  EXPECT_TRUE(passedInChild("StringsHeldByACrashTimeReaderOutliveTheirReplacement"));
}

TEST(UserLogging, CallsBeforeInitialisationAreDropped) {
  // This process never initialises the context.
  CRSCustomAttributeSet("v", "k");
  CRSSessionLog("nothing %d", 1);
  EXPECT_FALSE(CRSUserIdentityIsSet());
  EXPECT_FALSE(CRSContextIsInitialized());
}

TEST(UserLogging, ValueCutsKeepWholeEscapesAndCharacters) {
  struct Case {
    std::string value;
    std::size_t limit;
    std::size_t expected;
  } cases[] = {
      {"abc", 1024, 3},
      {std::string(2000, 'a'), 1024, 1024},
      {"ab%41", 3, 2},              // cut right after '%'
      {"ab%41", 4, 2},              // cut inside the escape
      {"ab%41c", 5, 5},             // the escape is whole
      {"a\xc3\xa9\xc3\xa9", 2, 1},  // cut inside a two-byte character
      {"a\xe2\x82\xac"
       "b",
       3, 1},  // inside a three-byte character
      {"a\xe2\x82\xac"
       "b",
       4, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CRSCustomValueCutLength(c.value, c.limit), c.expected);
  }
}

TEST(UserLogging, StringsAreSwappedInWholeAndEscapedOnRequest) {
  std::atomic<char*> slot{nullptr};
  CRSContextStringSet(&slot, std::nullopt, true);
  EXPECT_STREQ(slot.load(), "(null)");
  CRSContextStringSet(&slot, std::string("a \"b\""), true);
  EXPECT_STREQ(slot.load(), "a%20%22b%22");
  CRSContextStringSet(&slot, std::string("a b"), false);
  EXPECT_STREQ(slot.load(), "a b");
  std::free(slot.load());
}

TEST(UserLogging, TheLogReadsBackInOrderAtTheOffset) {
  EXPECT_EQ(CRSSessionLogReorder("3\n1\n2\n", 2), "1\n2\n3\n");
  EXPECT_EQ(CRSSessionLogReorder("1\n2\n", 4), "1\n2\n");
  EXPECT_EQ(CRSSessionLogReorder("", 0), "");
  EXPECT_EQ(CRSSessionLogReorder("ab", 9), "ab");
}

}  // namespace
