// Crashes of the crash test program, each in its own child process, and the records they leave.
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CrashReporter/CRSUserLogging.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/CrashProgram.h"

namespace {

namespace fs = std::filesystem;

class CrashCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
  }
  crstest::CrashRun crash(const std::string& mode) {
    fs::path folder = sandbox_.temporaryFolder("crash-" + mode);
    fs::create_directories(folder);
    return crstest::runCrashProgram(mode, folder);
  }
  pltest::Sandbox sandbox_;
};

bool diedBy(int status, int signal) {
  return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

// The checks every crash record must pass.
void expectCompleteRecord(const crstest::CrashRun& run) {
  ASSERT_EQ(run.rawLines.size(), 21u) << run.stderrText;
  for (std::size_t i = 0; i < run.lines.size(); ++i) {
    ASSERT_TRUE(run.lines[i].isDictionary()) << "line " << i + 1 << ": " << run.rawLines[i];
    // The threads line alone carries its counts beside the array.
    if (!run.lines[i].dictionary().contains("threads")) {
      EXPECT_EQ(run.lines[i].dictionary().count(), 1u) << run.rawLines[i];
    }
  }
  EXPECT_EQ(run.rawLines[0], R"({"schema":{"version":1,"expected_lines":21}})");
  EXPECT_EQ(run.rawLines[1], R"({"mach_exception":{}})");
  EXPECT_TRUE(fs::exists(run.folder / "marker"));
}

struct SignalCase {
  const char* mode;
  int signal;
  const char* name;
  const char* codeName;
};

class CrashSignals : public CrashCapture, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CrashSignals, EachSignalWritesACompleteRecordAndDiesByTheSameSignal) {
  const SignalCase& c = GetParam();
  auto run = crash(c.mode);
  EXPECT_TRUE(diedBy(run.status, c.signal)) << "status " << run.status << "\n" << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& signal = run.line("signal");
  EXPECT_EQ(signal["number"].intValue(), c.signal);
  EXPECT_EQ(signal["name"].stringValue(), c.name);
  EXPECT_EQ(signal["code_name"].stringValue(), c.codeName);
  EXPECT_FALSE(signal["preexisting_handlers"].boolValue());
  if (std::string(c.mode) == "segv") {
    EXPECT_EQ(signal["address"].unsignedLongLongValue(), 0u);
  }
  // The record's other lines carry the context's values.
  EXPECT_EQ(run.line("identity")["generator"].stringValue(), "CrashReporter Mac SDK/2.2.5");
  EXPECT_EQ(run.line("identity")["identifier"].stringValue(), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
  EXPECT_EQ(run.line("build")["config"].stringValue(), "Debug");
  EXPECT_EQ(run.line("runtime")["objc_selector"].stringValue(), "");
  EXPECT_TRUE(run.line("storage").dictionary().contains("total"));
  EXPECT_TRUE(run.line("process_stats").dictionary().contains("resident"));
  EXPECT_TRUE(run.line("thread_state").dictionary().contains("rip"));
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashSignals,
                         ::testing::Values(SignalCase{"segv", SIGSEGV, "SIGSEGV", "SEGV_MAPERR"},
                                           SignalCase{"bus", SIGBUS, "SIGBUS", "BUS_ADRERR"},
                                           SignalCase{"ill", SIGILL, "SIGILL", "ILL_ILLOPN"},
                                           SignalCase{"fpe", SIGFPE, "SIGFPE", "UNKNOWN"},
                                           SignalCase{"trap", SIGTRAP, "SIGTRAP", "UNKNOWN"},
                                           SignalCase{"abort", SIGABRT, "SIGABRT", "ABORT"},
                                           SignalCase{"sys", SIGSYS, "SIGSYS", "UNKNOWN"}),
                         [](const auto& info) { return std::string(info.param.mode); });

TEST_F(CrashCapture, AWorkerCrashNamesItsThreadAndCountsEveryThread) {
  auto run = crash("worker");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& threads = run.lineObject("threads");
  std::size_t crashed = threads["crashed_thread"].unsignedLongLongValue();
  EXPECT_EQ(std::to_string(threads["thread_count"].unsignedLongLongValue()), run.facts["threads"]);
  ASSERT_LT(crashed, run.line("thread_names").count());
  EXPECT_EQ(run.line("thread_names")[crashed].stringValue(), "crash-worker");
  // Every other thread answered and was walked.
  for (std::size_t i = 0; i < threads["threads"].count(); ++i) {
    EXPECT_GT(threads["threads"][i].count(), 0u) << "thread " << i;
  }
}

TEST_F(CrashCapture, AThreadParkedInAQueueBlockShowsTheQueueLabel) {
  auto run = crash("parked");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& labels = run.line("dispatch_queue_names");
  bool found = false;
  for (std::size_t i = 0; i < labels.count(); ++i) found = found || labels[i].stringValue() == "q.parked";
  EXPECT_TRUE(found) << crstest::readFile(run.recordPath());
}

TEST_F(CrashCapture, TheCrashedThreadsFirstFrameLiesInTheCrashingFunction) {
  auto run = crash("segv");
  expectCompleteRecord(run);
  unsigned long long start = 0, end = 0;
  ASSERT_EQ(std::sscanf(run.facts["function"].c_str(), "%llu %llu", &start, &end), 2);
  const ns::Value& threads = run.lineObject("threads");
  std::size_t crashed = threads["crashed_thread"].unsignedLongLongValue();
  ASSERT_LT(crashed, threads["threads"].count());
  const ns::Value& frames = threads["threads"][crashed];
  ASSERT_GT(frames.count(), 1u);
  unsigned long long pc = frames[0]["address"].unsignedLongLongValue();
  EXPECT_GE(pc, start);
  EXPECT_LT(pc, end);
  EXPECT_EQ(run.line("thread_state")["rip"].unsignedLongLongValue(), pc);
}

// The crashed thread's frames of a record.
const ns::Value& crashedFrames(const crstest::CrashRun& run) {
  const ns::Value& threads = run.lineObject("threads");
  return threads["threads"][threads["crashed_thread"].unsignedLongLongValue()];
}

TEST_F(CrashCapture, AFaultInOptimisedCodeListsEachCallerInOrder) {
  auto run = crash("deep");
  expectCompleteRecord(run);
  const ns::Value& frames = crashedFrames(run);
  // The faulting function, the two that called it, their caller, and the callers above it.
  ASSERT_GT(frames.count(), 4u) << crstest::readFile(run.recordPath());
  const char* functions[] = {"deep_third", "deep_second", "deep_first", "deep_caller"};
  for (std::size_t i = 0; i < 4; ++i) {
    unsigned long long start = 0, end = 0;
    ASSERT_EQ(std::sscanf(run.facts[functions[i]].c_str(), "%llu %llu", &start, &end), 2) << functions[i];
    unsigned long long address = frames[i]["address"].unsignedLongLongValue();
    if (i == 0) {
      // The faulting instruction (the leaf may keep no frame and fault at its first one).
      EXPECT_GE(address, start);
      EXPECT_LT(address, end);
    } else {
      // A return address lies after its call: inside the calling function, or just at its end.
      EXPECT_GT(address, start) << functions[i];
      EXPECT_LE(address, end) << functions[i];
    }
  }
}

// The function of the crash test program a frame lies in, by the ranges the program printed, or
// "" for none. The first frame is the instruction that ran: within [start, end); the others are
// return addresses, after their calls: within (start, end].
std::string functionOf(const crstest::CrashRun& run, unsigned long long address, bool first) {
  for (const auto& [key, value] : run.facts) {
    unsigned long long start = 0, end = 0;
    if (std::sscanf(value.c_str(), "%llu %llu", &start, &end) != 2) continue;
    if (first ? address >= start && address < end : address > start && address <= end) return key;
  }
  return "";
}

// Whether `address` lies in the program's own image, as the record lists it.
bool inProgram(const crstest::CrashRun& run, unsigned long long address) {
  const ns::Value& images = run.line("binary_images");
  for (std::size_t i = 0; i < images.count(); ++i) {
    if (fs::path(images[i]["path"].stringValue()).filename() != fs::path(CRASH_TEST_PROGRAM).filename())
      continue;
    unsigned long long start = images[i]["address"].unsignedLongLongValue();
    return address >= start && address - start < images[i]["size"].unsignedLongLongValue();
  }
  return false;
}

// Checks that `frames` hold, from `from` on, frames outside the program (at least `outside` of
// them: the C library's), then the functions `chain` in that order, then more callers (with main
// among them, for the main thread).
void expectChainPastTheLibrary(const crstest::CrashRun& run, const ns::Value& frames, std::size_t from,
                               std::size_t outside, const std::vector<std::string>& chain,
                               bool toMain = true) {
  std::string text = crstest::readFile(run.recordPath());
  std::size_t at = from;
  while (at < frames.count() && !inProgram(run, frames[at]["address"].unsignedLongLongValue())) ++at;
  ASSERT_GE(at - from, outside) << text;
  ASSERT_GT(frames.count(), at + chain.size()) << text;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    EXPECT_EQ(functionOf(run, frames[at + i]["address"].unsignedLongLongValue(), false), chain[i])
        << "frame " << at + i << "\n"
        << text;
  }
  bool main = false;
  for (std::size_t i = at + chain.size(); i < frames.count(); ++i)
    main = main || functionOf(run, frames[i]["address"].unsignedLongLongValue(), false) == "main";
  EXPECT_EQ(main, toMain) << text;
}

TEST_F(CrashCapture, AnAbortThreeCallsDeepListsTheThreeFunctionsPastTheCLibrary) {
  auto run = crash("abort-deep");
  EXPECT_TRUE(diedBy(run.status, SIGABRT)) << run.stderrText;
  expectCompleteRecord(run);
  // pthread_kill, raise and abort first (the C library keeps no frame pointers), then the program.
  expectChainPastTheLibrary(run, crashedFrames(run), 0, 2,
                            {"crs_abort_third", "crs_abort_second", "crs_abort_first", "crs_abort_outer"});
}

TEST_F(CrashCapture, AFaultUnderPthreadOnceListsTheCallersPastIt) {
  auto run = crash("once-fault");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& frames = crashedFrames(run);
  ASSERT_GT(frames.count(), 1u);
  EXPECT_EQ(functionOf(run, frames[0]["address"].unsignedLongLongValue(), true), "crs_once_init");
  // The return address into the C library's pthread_once comes next, though that code keeps
  // something else than a frame pointer in rbp.
  expectChainPastTheLibrary(run, frames, 1, 1, {"crs_once_caller", "crs_once_outer"});
}

TEST_F(CrashCapture, AThreadParkedInEpollWaitListsTheFunctionThatCalledIt) {
  auto run = crash("epoll-parked");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& names = run.line("thread_names");
  const ns::Value& threads = run.lineObject("threads")["threads"];
  std::size_t parked = names.count();
  for (std::size_t i = 0; i < names.count(); ++i) {
    if (names[i].stringValue() == "epoll-parked") parked = i;
  }
  ASSERT_LT(parked, threads.count()) << crstest::readFile(run.recordPath());
  // epoll_wait's pc, then its caller and that one's caller, then the thread's start.
  expectChainPastTheLibrary(run, threads[parked], 0, 1, {"crs_epoll_park", "crs_epoll_caller"}, false);
}

TEST_F(CrashCapture, AFaultInASignalHandlerListsTheCodeTheSignalInterrupted) {
  auto run = crash("handler-fault");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& frames = crashedFrames(run);
  ASSERT_GT(frames.count(), 1u);
  EXPECT_EQ(functionOf(run, frames[0]["address"].unsignedLongLongValue(), true), "crs_usr1_handler");
  // The signal trampoline, the interrupted raise in the C library, then raise's callers.
  expectChainPastTheLibrary(run, frames, 1, 2, {"crs_raise_caller", "crs_raise_outer"});
}

TEST_F(CrashCapture, AnUncaughtExceptionsAbortListsTheProgramPastTheRuntime) {
  auto run = crash("exception");
  EXPECT_TRUE(diedBy(run.status, SIGABRT)) << run.stderrText;
  expectCompleteRecord(run);
  // The C library's abort, the C++ runtime's terminate and throw, then the program down to main.
  expectChainPastTheLibrary(run, crashedFrames(run), 0, 3, {});
}

TEST_F(CrashCapture, AFramePointerRegisterThatHoldsNoFrameIsNotFollowed) {
  auto run = crash("bad-frame-pointer");
  expectCompleteRecord(run);
  const ns::Value& frames = crashedFrames(run);
  ASSERT_GT(frames.count(), 1u) << crstest::readFile(run.recordPath());
  EXPECT_EQ(frames[0]["address"].unsignedLongLongValue(),
            run.line("thread_state")["rip"].unsignedLongLongValue());
  // What rbp points at lies outside the stack, so its "return address" (the bytes of a text) is
  // not taken for a frame. The faulting function keeps no frame (it is written in assembly): its
  // unwind table gives its caller in the program. (That caller's frame pointer is lost: the
  // function overwrote rbp.)
  std::uint64_t text = 0;
  std::memcpy(&text, "mission", 8);
  for (std::size_t i = 0; i < frames.count(); ++i)
    EXPECT_NE(frames[i]["address"].unsignedLongLongValue(), text);
  EXPECT_TRUE(inProgram(run, frames[1]["address"].unsignedLongLongValue()));
}

TEST_F(CrashCapture, AFaultInALibraryRoutineWithoutUnwindRowsListsItsCallersToMain) {
  // The routine has saved registers, filled a work area and keeps a pointer into it in rbp: its
  // caller is found above the work area, and the frame pointer it saved leads on to main.
  auto run = crash("no-rows");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& frames = crashedFrames(run);
  std::string text = crstest::readFile(run.recordPath());
  ASSERT_GT(frames.count(), 4u) << text;
  EXPECT_EQ(functionOf(run, frames[0]["address"].unsignedLongLongValue(), true), "crs_no_rows_fault") << text;
  // Its caller next (no frame outside the program in between), then on to main.
  EXPECT_TRUE(inProgram(run, frames[1]["address"].unsignedLongLongValue())) << text;
  expectChainPastTheLibrary(run, frames, 1, 0,
                            {"crs_no_rows_third", "crs_no_rows_second", "crs_no_rows_first"});
}

TEST_F(CrashCapture, ALibraryUnloadedBeforeTheCrashIsNotTakenForWhatLiesAtItsPlace) {
  fs::path folder = sandbox_.temporaryFolder("crash-unloaded");
  fs::create_directories(folder);
  auto run = crstest::runCrashProgram("unloaded-library", folder,
                                      {std::string("CRS_TEST_UNLOADED_LIBRARY=") + CRS_TEST_LIBRARY});
  ASSERT_EQ(run.facts["unloaded"], "yes") << run.stderrText;
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  std::string text = crstest::readFile(run.recordPath());
  // The fault in the code mapped where the library's was, called from the program.
  const ns::Value& frames = crashedFrames(run);
  ASSERT_GT(frames.count(), 1u) << text;
  EXPECT_EQ(functionOf(run, frames[0]["address"].unsignedLongLongValue(), true), "remapped_code") << text;
  EXPECT_EQ(functionOf(run, frames[1]["address"].unsignedLongLongValue(), false), "crs_call_remapped")
      << text;
  const ns::Value& images = run.line("binary_images");
  ASSERT_GT(images.count(), 1u) << text;
  for (std::size_t i = 0; i < images.count(); ++i) {
    EXPECT_NE(fs::path(images[i]["path"].stringValue()).filename(), fs::path(CRS_TEST_LIBRARY).filename())
        << text;
  }
}

TEST_F(CrashCapture, APreviousHandlerStillRunsAfterTheRecord) {
  auto run = crash("previous-handler");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  EXPECT_TRUE(fs::exists(run.folder / "previous-handler"));
  EXPECT_TRUE(run.line("signal")["preexisting_handlers"].boolValue());
}

TEST_F(CrashCapture, UninstallingLeavesTheDefaultActionsAndTheEarlierStack) {
  // With an earlier SIGSEGV handler and an alternate stack of the program's own, then without
  // any alternate stack.
  for (const auto& [mode, stack] :
       {std::pair{"uninstall", "previous"}, std::pair{"uninstall-bare", "none"}}) {
    SCOPED_TRACE(mode);
    auto run = crash(mode);
    EXPECT_EQ(run.facts["ours_before"], "7");
    EXPECT_EQ(run.facts["default_after"], "7");
    EXPECT_EQ(run.facts["stack_after"], stack);
    EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
    EXPECT_TRUE(run.rawLines.empty());
    EXPECT_FALSE(fs::exists(run.recordPath()));
    EXPECT_FALSE(fs::exists(run.folder / "previous-handler"));
  }
}

TEST_F(CrashCapture, AnUncaughtExceptionIsInTheRecordOfTheAbortThatFollows) {
  auto run = crash("exception");
  EXPECT_TRUE(diedBy(run.status, SIGABRT)) << run.stderrText;
  expectCompleteRecord(run);
  const ns::Value& exception = run.line("exception");
  EXPECT_EQ(exception["name"].stringValue(), "ns::Exception");
  EXPECT_EQ(exception["reason"].stringValue(), "a%20%22b%22");
  EXPECT_GT(exception["backtrace"].count(), 0u);
  EXPECT_GT(exception["backtrace"][0]["address"].unsignedLongLongValue(), 4096u);
  EXPECT_EQ(run.line("signal")["name"].stringValue(), "SIGABRT");
}

TEST_F(CrashCapture, InfiniteRecursionStillWritesARecord) {
  for (const char* mode : {"recursion", "worker-recursion"}) {
    SCOPED_TRACE(mode);
    auto run = crash(mode);
    EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
    expectCompleteRecord(run);
    EXPECT_EQ(run.line("signal")["name"].stringValue(), "SIGSEGV");
  }
}

TEST_F(CrashCapture, TheContextIsReadOnlyAfterInitialisation) {
  auto run = crash("protected-write");
  EXPECT_EQ(run.facts["initialized"], "yes");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  EXPECT_EQ(run.facts.count("writable"), 0u);
  expectCompleteRecord(run);
  EXPECT_EQ(run.line("signal")["code_name"].stringValue(), "SEGV_ACCERR");
}

TEST_F(CrashCapture, AnInitialisationHeldPastItsTimeLimitLeavesTheContextWritable) {
  auto run = crash("held");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << run.stderrText;
  EXPECT_EQ(run.facts["initialized"], "yes");
  EXPECT_EQ(run.facts["writable"], "yes");
  EXPECT_FALSE(fs::exists(run.recordPath()));
}

TEST_F(CrashCapture, UserDataGoesIntoTheRecordAndTheLogMovesToTheSessionName) {
  fs::path folder = sandbox_.temporaryFolder("crash-user");
  fs::create_directories(folder);
  // A running log left by an earlier run is emptied at start.
  { std::ofstream(folder / "session.crslog") << "stale line\n"; }
  auto run = crstest::runCrashProgram("user-data", folder);
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  EXPECT_EQ(run.line("user")["name"].stringValue(), "Jo%20%22Q%22");
  EXPECT_EQ(run.line("user")["id"].stringValue(), "(null)");
  EXPECT_EQ(run.line("custom_attributes")["key \"quoted\""].stringValue(), "value \"one\"");
  EXPECT_FALSE(fs::exists(folder / "session.crslog"));
  std::string log = crstest::readFile(folder / (std::string(crstest::kNormalisedSession) + ".crslog"));
  EXPECT_EQ(log.find("stale"), std::string::npos);
  EXPECT_NE(log.find(" $ line 0\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" $ line 2\n"), std::string::npos) << log;
  EXPECT_EQ(run.line("log")["last_offset"].unsignedLongLongValue(), log.size());
}

TEST_F(CrashCapture, TheSessionLogRingKeepsItsLimitAndTheLastLinesInOrder) {
  auto run = crash("log-ring");
  EXPECT_TRUE(diedBy(run.status, SIGSEGV)) << run.stderrText;
  expectCompleteRecord(run);
  std::string log = crstest::readFile(run.folder / (std::string(crstest::kNormalisedSession) + ".crslog"));
  EXPECT_LE(log.size(), 100u);
  std::string ordered = CRSSessionLogReorder(log, run.line("log")["last_offset"].unsignedLongLongValue());
  // Whole lines after the first (possibly cut) one follow each other and end with the last.
  std::vector<int> entries;
  std::istringstream lines(ordered.substr(ordered.find('\n') + 1));
  for (std::string line; std::getline(lines, line);) {
    auto at = line.find(" $ entry ");
    ASSERT_NE(at, std::string::npos) << ordered;
    entries.push_back(std::stoi(line.substr(at + 9)));
  }
  ASSERT_GE(entries.size(), 3u) << ordered;
  EXPECT_EQ(entries.back(), 29);
  for (std::size_t i = 1; i < entries.size(); ++i) EXPECT_EQ(entries[i], entries[i - 1] + 1) << ordered;
  EXPECT_EQ(ordered.back(), '\n');
}

}  // namespace
