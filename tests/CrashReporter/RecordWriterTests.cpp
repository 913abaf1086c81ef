// The record writer's exact bytes, and the name tables of the signal line.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSCrashRecord.h"
#include "CrashReporter/CRSRecordWriter.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/CrashProgram.h"

namespace {

std::string written(const std::function<void(CRSRecordWriter*)>& body) {
  pltest::Sandbox sandbox;
  std::string path = sandbox.path("record");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(fd, 0);
  CRSRecordWriter writer;
  CRSRecordWriterInit(&writer, fd);
  body(&writer);
  ::close(fd);
  return crstest::readFile(path);
}

struct WriterCase {
  const char* name;
  std::function<void(CRSRecordWriter*)> body;
  const char* expected;
};

TEST(RecordWriter, PrimitivesWriteExactBytes) {
  const WriterCase cases[] = {
      {"empty thread list",
       [](CRSRecordWriter* w) {
         CRSRecordBeginSection(w, "threads");
         CRSRecordBeginArray(w);
         CRSRecordEndArray(w);
         CRSRecordWriteUInt64Member(w, "crashed_thread", 1);
         CRSRecordWriteUInt64Member(w, "thread_count", 0);
         CRSRecordEndLine(w);
       },
       "{\"threads\":[],\"crashed_thread\":1,\"thread_count\":0}\n"},
      {"largest number",
       [](CRSRecordWriter* w) { CRSRecordWriteUInt64(w, std::numeric_limits<std::uint64_t>::max()); },
       "18446744073709551615"},
      {"zero", [](CRSRecordWriter* w) { CRSRecordWriteUInt64(w, 0); }, "0"},
      {"null string", [](CRSRecordWriter* w) { CRSRecordWriteString(w, nullptr); }, "\"(null)\""},
      {"escapes",
       [](CRSRecordWriter* w) {
         CRSRecordWriteString(w,
                              "a\"b\\c\x01"
                              "d\n");
       },
       "\"a\\\"b\\\\c\\u0001d\\u000a\""},
      {"UTF-8 passes unchanged", [](CRSRecordWriter* w) { CRSRecordWriteString(w, "caf\xc3\xa9"); },
       "\"caf\xc3\xa9\""},
      {"nested commas",
       [](CRSRecordWriter* w) {
         CRSRecordBeginSection(w, "k");
         CRSRecordBeginObject(w);
         CRSRecordWriteUInt64Member(w, "a", 1);
         CRSRecordWriteKey(w, "b");
         CRSRecordBeginArray(w);
         CRSRecordWriteUInt64Element(w, 1);
         CRSRecordBeginObject(w);
         CRSRecordWriteBoolMember(w, "t", true);
         CRSRecordEndObject(w);
         CRSRecordWriteStringElement(w, "x");
         CRSRecordBeginArray(w);
         CRSRecordEndArray(w);
         CRSRecordEndArray(w);
         CRSRecordWriteBoolMember(w, "c", false);
         CRSRecordEndObject(w);
         CRSRecordEndLine(w);
         CRSRecordBeginSection(w, "next");
         CRSRecordBeginObject(w);
         CRSRecordEndObject(w);
         CRSRecordEndLine(w);
       },
       "{\"k\":{\"a\":1,\"b\":[1,{\"t\":true},\"x\",[]],\"c\":false}}\n{\"next\":{}}\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(written(c.body), c.expected);
  }
}

TEST(RecordWriter, EscapedStringsReadBackAsJSON) {
  std::string text = "quote \" backslash \\ tab \t bell \x07 end";
  std::string line = written([&](CRSRecordWriter* w) {
    CRSRecordBeginSection(w, "custom_attributes");
    CRSRecordBeginObject(w);
    CRSRecordWriteStringMember(w, text.c_str(), text.c_str());
    CRSRecordEndObject(w);
    CRSRecordEndLine(w);
  });
  ns::Value value = ns::JSONSerialization::JSONObjectWithString(line);
  ASSERT_TRUE(value.isDictionary()) << line;
  EXPECT_EQ(value["custom_attributes"][text].stringValue(), text);
}

TEST(RecordWriter, FrameObjectsCarryOnlyTheirSetMembers) {
  CRSFrameRecord bare{4096, nullptr, nullptr, 0, 0, 0};
  CRSFrameRecord full{7, "main", "main.cpp", 12, 2, 3};
  EXPECT_EQ(written([&](CRSRecordWriter* w) { CRSFrameRecordWrite(&bare, w); }), "{\"address\":4096}");
  EXPECT_EQ(written([&](CRSRecordWriter* w) { CRSFrameRecordWrite(&full, w); }),
            "{\"address\":7,\"context\":3,\"type\":2,\"file\":\"main.cpp\",\"line\":12,\"symbol\":\"main\"}");
}

TEST(SignalNames, TablesFollowThisSystemsNumbers) {
  struct Case {
    int signal;
    int code;
    const char* name;
    const char* codeName;
  } cases[] = {
      {SIGSEGV, SEGV_MAPERR, "SIGSEGV", "SEGV_MAPERR"},
      {SIGSEGV, SEGV_ACCERR, "SIGSEGV", "SEGV_ACCERR"},
      {SIGSEGV, 0, "SIGSEGV", "SEGV_NOOP"},
      {SIGSEGV, 99, "SIGSEGV", "UNKNOWN"},
      {SIGBUS, BUS_ADRALN, "SIGBUS", "BUS_ADRALN"},
      {SIGBUS, BUS_ADRERR, "SIGBUS", "BUS_ADRERR"},
      {SIGBUS, BUS_OBJERR, "SIGBUS", "BUS_OBJERR"},
      {SIGILL, ILL_ILLOPC, "SIGILL", "ILL_ILLOPC"},
      {SIGILL, ILL_ILLOPN, "SIGILL", "ILL_ILLOPN"},
      {SIGILL, ILL_ILLTRP, "SIGILL", "ILL_ILLTRP"},
      {SIGILL, ILL_BADSTK, "SIGILL", "ILL_BADSTK"},
      {SIGABRT, 0, "SIGABRT", "ABORT"},
      {SIGABRT, SI_TKILL, "SIGABRT", "ABORT"},
      {SIGABRT, SI_QUEUE, "SIGABRT", "UNKNOWN"},
      {SIGFPE, FPE_INTDIV, "SIGFPE", "UNKNOWN"},
      {SIGTRAP, 0x80, "SIGTRAP", "UNKNOWN"},
      {SIGSYS, SI_TKILL, "SIGSYS", "UNKNOWN"},
      {SIGUSR1, 0, "UNKNOWN", "UNKNOWN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.signal) + "/" + std::to_string(c.code));
    EXPECT_STREQ(CRSSignalName(c.signal), c.name);
    EXPECT_STREQ(CRSSignalCodeName(c.signal, c.code), c.codeName);
  }
}

TEST(ExceptionMask, ExclusionAndTracingRemoveTypes) {
  const std::uint32_t all = CRSExceptionMaskBadAccess | CRSExceptionMaskBadInstruction |
                            CRSExceptionMaskArithmetic | CRSExceptionMaskBreakpoint;
  struct Case {
    std::uint32_t exclusion;
    bool traced;
    std::uint32_t expected;
  } cases[] = {
      {0, false, all},
      {CRSExceptionMaskBadAccess, false, all & ~CRSExceptionMaskBadAccess},
      {0, true, all & ~CRSExceptionMaskBreakpoint},
      {CRSExceptionMaskArithmetic | (1u << 10), true,
       all & ~CRSExceptionMaskArithmetic & ~CRSExceptionMaskBreakpoint},
  };
  for (const auto& c : cases) EXPECT_EQ(CRSMachExceptionMaskForExclusion(c.exclusion, c.traced), c.expected);
}

}  // namespace
