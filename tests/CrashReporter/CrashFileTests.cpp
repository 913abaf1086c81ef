// Reading records back and converting them into the report, from records of real crashes of the
// crash test program and from damaged copies of them.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "CrashReporter/CRSCrashFile.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CrashReporter.pb-c.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/CrashProgram.h"

namespace {

namespace fs = std::filesystem;

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& line : lines) out << line << "\n";
}

// A report file unpacked with the generated code; freed when it goes.
struct Report {
  explicit Report(const fs::path& path) {
    std::string bytes = crstest::readFile(path);
    session = crash_reporter__session__unpack(nullptr, bytes.size(),
                                              reinterpret_cast<const std::uint8_t*>(bytes.data()));
  }
  ~Report() {
    if (session) crash_reporter__session__free_unpacked(session, nullptr);
  }
  CrashReporter__Session* session = nullptr;
};

class CrashFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  }
  fs::path folder(const std::string& name) {
    fs::path path = sandbox_.temporaryFolder(name);
    fs::create_directories(path);
    return path;
  }
  // A real record of a SIGSEGV, as its lines.
  std::vector<std::string> realRecord() {
    auto run = crstest::runCrashProgram("segv", folder("record-source"));
    EXPECT_EQ(run.rawLines.size(), 21u);
    return run.rawLines;
  }
  fs::path recordFile(const std::vector<std::string>& lines, const std::string& name = "r.crsrecord") {
    fs::path path = folder("records") / name;
    writeLines(path, lines);
    return path;
  }
  pltest::Sandbox sandbox_;
};

TEST_F(CrashFile, TheLineCountDecidesValidityWhateverTheOrder) {
  auto lines = realRecord();
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_TRUE(CRSCrashFile(recordFile(lines)).isValid());

  auto shuffled = lines;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  CRSCrashFile reordered(recordFile(shuffled, "shuffled.crsrecord"));
  EXPECT_TRUE(reordered.isValid());
  EXPECT_EQ(reordered.identifier(), crstest::kNormalisedSession);

  struct Damage {
    const char* name;
    std::function<void(std::vector<std::string>&)> apply;
  } damages[] = {
      {"20 lines", [](auto& l) { l.erase(l.begin() + 13); }},
      {"22 lines", [](auto& l) { l.push_back(R"({"extra":{}})"); }},
      {"30 lines", [](auto& l) { l.insert(l.end(), 9, R"({"extra":{}})"); }},
      {"truncated", [](auto& l) { l[20] = l[20].substr(0, l[20].size() / 2); }},
      {"a quote inside a string", [](auto& l) { l[20] = R"({"custom_attributes":{"k":"a"b"}})"; }},
      {"number beyond 64 bits", [](auto& l) { l[19] = R"({"log":{"last_offset":18446744073709551616}})"; }},
      {"negative number", [](auto& l) { l[19] = R"({"log":{"last_offset":-1}})"; }},
      {"deep nesting", [](auto& l) { l[6] = R"({"external_process_info":)" + std::string(5000, '[') + "}"; }},
      {"over-long string",
       [](auto& l) { l[20] = R"({"custom_attributes":{"k":")" + std::string(10240, 'x') + "\"}}"; }},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    auto copy = lines;
    damage.apply(copy);
    CRSCrashFile file(recordFile(copy, "damaged.crsrecord"));
    EXPECT_FALSE(file.isValid());
    EXPECT_FALSE(file.writeCRSFileToPath((folder("out") / "damaged.crs").string()));
  }
  EXPECT_FALSE(CRSCrashFile((folder("none") / "missing.crsrecord").string()).isValid());
}

TEST_F(CrashFile, ValuesReadBackExactly) {
  struct Case {
    std::string line;
    const char* key;
    ns::Value expected;
  } cases[] = {
      {R"({"log":{"last_offset":18446744073709551615}})", "last_offset", ns::Value(18446744073709551615ull)},
      {R"({"custom_attributes":{"key \"q\"":"v\\w"}})", "key \"q\"", ns::Value("v\\w")},
      {"{\"custom_attributes\":{\"k\":\"bad \xc3\x28 text\"}}", "k", ns::Value("(invalid UTF8)")},
      {R"({"custom_attributes":{"k":"tab\u0009end"}})", "k", ns::Value("tab\tend")},
      {"{\"custom_attributes\":{\"k\":\"" + std::string(10239, 'y') + "\"}}", "k",
       ns::Value(std::string(10239, 'y'))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 60));
    fs::path path = recordFile({c.line}, "one.crsrecord");
    ns::Dictionary data = CRSCrashFile::parse(path.string());
    EXPECT_EQ(data["file_lines"].intValue(), 1);
    bool found = false;
    for (const auto& entry : data.entries()) {
      if (!entry.second.isDictionary()) continue;
      if (const ns::Value* v = entry.second.dictionary().find(c.key)) {
        found = true;
        EXPECT_TRUE(v->isEqual(c.expected)) << v->description();
      }
    }
    EXPECT_TRUE(found);
  }
  // A string one byte longer fails its line.
  fs::path path =
      recordFile({"{\"custom_attributes\":{\"k\":\"" + std::string(10240, 'y') + "\"}}"}, "long.crsrecord");
  EXPECT_EQ(CRSCrashFile::parse(path.string())["file_lines"].intValue(), 0);
}

TEST(CrashFileImages, RangesAreHalfOpenAndEqualAddressesGoAfter) {
  std::vector<CRSImageRange> images = {{0x1000, 0x1000, "a"}, {0x2000, 0x1000, "b"}};
  EXPECT_EQ(CRSImageIndexForAddress(images, 0x1000), 0u);
  EXPECT_EQ(CRSImageIndexForAddress(images, 0x1fff), 0u);
  EXPECT_EQ(CRSImageIndexForAddress(images, 0x2000), 1u);  // the end of a, the start of b
  EXPECT_EQ(CRSImageIndexForAddress(images, 0x3000), std::nullopt);
  EXPECT_EQ(CRSImageIndexForAddress(images, 0xfff), std::nullopt);

  std::vector<CRSBinaryImage> list;
  CRSBinaryImageInsert(list, {"b", nullptr, 0x2000, 1});
  CRSBinaryImageInsert(list, {"a", nullptr, 0x1000, 1});
  CRSBinaryImageInsert(list, {"b2", nullptr, 0x2000, 1});
  CRSBinaryImageInsert(list, {"c", nullptr, 0x3000, 1});
  ASSERT_EQ(list.size(), 4u);
  EXPECT_STREQ(list[0].path, "a");
  EXPECT_STREQ(list[1].path, "b");
  EXPECT_STREQ(list[2].path, "b2");
  EXPECT_STREQ(list[3].path, "c");
}

TEST(CrashFileText, TextFunctionsAndSignalMasks) {
  EXPECT_EQ(CRSNormalizedUUIDString("0A1B-2C3D"), "0a1b2c3d");
  EXPECT_EQ(CRSHexEncode("\x01\xab", 2), "01ab");
  EXPECT_EQ(CRSHexEncode(nullptr, 3), "");
  EXPECT_EQ(CRSSHA1HexStringFromString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(CRSGenerateUUIDString().size(), 36u);
  struct Case {
    int signal;
    std::uint32_t mask;
  } cases[] = {{SIGILL, 0x4},  {SIGTRAP, 0x40}, {SIGABRT, 0x400}, {SIGFPE, 0x8}, {SIGBUS, 0x2},
               {SIGSEGV, 0x2}, {SIGSYS, 0x400}, {SIGKILL, 0},     {SIGUSR1, 0},  {SIGSTKFLT, 0}};
  for (const auto& c : cases) EXPECT_EQ(CRSMachExceptionMaskForSignal(c.signal), c.mask) << c.signal;
}

TEST_F(CrashFile, ASegmentationFaultBecomesAReport) {
  fs::path crashFolder = folder("report");
  auto run = crstest::runCrashProgram("user-data", crashFolder);
  ASSERT_EQ(run.rawLines.size(), 21u) << run.stderrText;
  auto convert = crstest::runCrashProgram("convert", folder("convert"),
                                          {"CRS_TEST_RECORD=" + run.recordPath().string()});
  ASSERT_TRUE(WIFEXITED(convert.status) && WEXITSTATUS(convert.status) == 0) << convert.stderrText;
  EXPECT_EQ(convert.facts["valid"], "yes");
  EXPECT_EQ(convert.facts["executables_match"], "yes");
  ASSERT_EQ(convert.facts["written"], "yes");

  Report report(crashFolder / (std::string(crstest::kNormalisedSession) + ".crs"));
  CrashReporter__Session* s = report.session;
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->crashed);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(s->identifier.data), s->identifier.len),
            crstest::kNormalisedSession);
  EXPECT_STREQ(s->generator, "CrashReporter Mac SDK/2.2.5");
  EXPECT_EQ(s->generator_type, CRASH_REPORTER__GENERATOR_TYPE__MACOS_SDK);
  ASSERT_NE(s->os, nullptr);
  EXPECT_EQ(s->os->platform, CRASH_REPORTER__PLATFORM__LINUX);
  ASSERT_NE(s->user, nullptr);
  EXPECT_STREQ(s->user->name, "Jo \"Q\"");
  ASSERT_EQ(s->n_events, 1u);
  CrashReporter__Session__Event* event = s->events[0];
  EXPECT_STREQ(event->type, "crash");
  auto* execution = event->app->execution;
  EXPECT_STREQ(execution->signal->name, "SIGSEGV");
  EXPECT_STREQ(execution->signal->code, "SEGV_MAPERR");
  EXPECT_EQ(execution->signal->address, 0u);

  ASSERT_EQ(event->app->n_custom_attributes, 1u);
  EXPECT_STREQ(event->app->custom_attributes[0]->key, "key \"quoted\"");
  EXPECT_STREQ(event->app->custom_attributes[0]->value, "value \"one\"");
  ASSERT_NE(event->log, nullptr);
  std::string log = event->log->content;
  auto first = log.find("line 0"), second = log.find("line 1"), third = log.find("line 2");
  EXPECT_TRUE(first < second && second < third && third != std::string::npos) << log;

  // The crashed thread and its first frame, named through the running program's symbols.
  std::size_t crashed = run.lineObject("threads")["crashed_thread"].unsignedLongLongValue();
  ASSERT_LT(crashed, execution->n_threads);
  auto* thread = execution->threads[crashed];
  EXPECT_EQ(thread->importance, 4u);
  ASSERT_GT(thread->n_frames, 0u);
  EXPECT_STREQ(thread->frames[0]->symbol, "crs_null_write");
  unsigned long long start = 0, end = 0;
  ASSERT_EQ(std::sscanf(run.facts["function"].c_str(), "%llu %llu", &start, &end), 2);
  EXPECT_EQ(thread->frames[0]->offset, thread->frames[0]->pc - start);
  EXPECT_EQ(thread->frames[0]->importance, 4u);
  for (std::size_t i = 0; i < execution->n_threads; ++i) {
    if (i != crashed) {
      EXPECT_EQ(execution->threads[i]->importance, 0u);
    }
  }

  ASSERT_GT(execution->n_binaries, 0u);
  std::string exeId = run.line("executable")["uuid"].stringValue();
  bool foundExe = false;
  for (std::size_t i = 0; i < execution->n_binaries; ++i) {
    auto* image = execution->binaries[i];
    EXPECT_EQ(image->arch, CRASH_REPORTER__ARCHITECTURE__X86_64);
    std::string uuid(reinterpret_cast<char*>(image->uuid.data), image->uuid.len);
    if (uuid == exeId) foundExe = true;
  }
  EXPECT_TRUE(foundExe);
  EXPECT_EQ(exeId.size(), 40u);
}

TEST_F(CrashFile, TheSignalFallsBackToTheExceptionLineAndThenToUnknown) {
  auto lines = realRecord();
  ASSERT_EQ(lines.size(), 21u);
  struct Case {
    const char* name;
    std::string signalLine;
    std::string machLine;
    const char* expectedName;
    const char* expectedCode;
    std::uint64_t expectedAddress;
  } cases[] = {
      {"from the exception line", R"({"signal":{"preexisting_handlers":false,"errno":0}})",
       R"({"mach_exception":{"exception":1,"code":1,"subcode":64,"name":"EXC_BAD_ACCESS","code_name":"KERN_INVALID_ADDRESS","original_ports":0}})",
       "EXC_BAD_ACCESS", "KERN_INVALID_ADDRESS", 64},
      {"code as a number", R"({"signal":{"preexisting_handlers":false,"errno":0}})",
       R"({"mach_exception":{"exception":1,"code":7,"name":"EXC_BAD_ACCESS"}})", "EXC_BAD_ACCESS", "7", 0},
      {"neither", R"({"signal":{"preexisting_handlers":false,"errno":0}})", R"({"mach_exception":{}})",
       "UNKNOWN", "UNKNOWN", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto copy = lines;
    copy[1] = c.machLine;
    copy[2] = c.signalLine;
    fs::path record = recordFile(copy, "fallback.crsrecord");
    CRSCrashFile file(record.string());
    ASSERT_TRUE(file.isValid());
    file.symbolicateWithUUIDMap({});
    fs::path out = folder("fallback") / "fallback.crs";
    ASSERT_TRUE(file.writeCRSFileToPath(out.string()));
    Report report(out);
    ASSERT_NE(report.session, nullptr);
    auto* signal = report.session->events[0]->app->execution->signal;
    EXPECT_STREQ(signal->name, c.expectedName);
    EXPECT_STREQ(signal->code, c.expectedCode);
    EXPECT_EQ(signal->address, c.expectedAddress);
  }
}

TEST_F(CrashFile, ALogCutInsideACharacterStillDecodes) {
  auto lines = realRecord();
  ASSERT_EQ(lines.size(), 21u);
  fs::path record = recordFile(lines, "log.crsrecord");
  lines[19] = R"({"log":{"last_offset":3}})";
  writeLines(record, lines);
  // The ring was cut in the middle of "é": the bytes after the offset start with its second half.
  {
    std::ofstream(folder("records") / "log.crslog", std::ios::binary) << "ab\xc3"
                                                                         "\xa9z\n";
  }
  CRSCrashFile file(record.string());
  auto content = file.logContent();
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(*content, "\xEF\xBF\xBDz\nab\xEF\xBF\xBD");
}

}  // namespace
