// Child processes, pipes and file handles, with real processes and files.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/core/Exception.h"
#include "platform/foundation/FileHandle.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Pipe.h"
#include "platform/foundation/Task.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;

ns::Ref<ns::Task> shell(const std::string& script) {
  auto task = ns::make<ns::Task>();
  task->setLaunchPath("/bin/sh");
  task->setArguments({"-c", script});
  return task;
}

TEST(TaskTest, RunsAShellCommandAndReadsItsOutputAndStatus) {
  auto task = shell("echo hi; exit 3");
  auto out = ns::Pipe::pipe();
  task->setStandardOutput(out);
  task->launch();
  ns::Data data = out->fileHandleForReading()->readDataToEndOfFile();
  task->waitUntilExit();
  EXPECT_EQ(data.toString(), "hi\n");
  EXPECT_EQ(task->terminationStatus(), 3);
  EXPECT_EQ(task->terminationReason(), ns::TaskTerminationReasonExit);
  EXPECT_FALSE(task->isRunning());
  EXPECT_GT(task->processIdentifier(), 0);
}

TEST(TaskTest, EnvironmentWorkingFolderAndStandardInput) {
  Sandbox box;
  auto task = shell("cd_now=$(pwd); read line; echo \"$cd_now|$FOO|$line|${HOME:-none}\" >&2");
  task->setEnvironment(std::map<std::string, std::string>{{"FOO", "bar baz"}});
  task->setCurrentDirectoryPath(box.root().string());
  auto in = ns::Pipe::pipe(), err = ns::Pipe::pipe();
  task->setStandardInput(in);
  task->setStandardError(err);
  task->launch();
  in->fileHandleForWriting()->writeData(ns::Data("typed text\n"));
  in->fileHandleForWriting()->closeFile();
  std::string text = err->fileHandleForReading()->readDataToEndOfFile().toString();
  task->waitUntilExit();
  EXPECT_EQ(text, box.root().string() + "|bar baz|typed text|none\n");
  EXPECT_EQ(task->terminationStatus(), 0);
}

TEST(TaskTest, LargeOutputAndOutputIntoAFile) {
  Sandbox box;
  auto task = shell("head -c 3000000 /dev/zero");
  auto out = ns::Pipe::pipe();
  task->setStandardOutput(out);
  task->launch();
  EXPECT_EQ(out->fileHandleForReading()->readDataToEndOfFile().length(), 3000000u);
  task->waitUntilExit();

  ASSERT_TRUE(ns::writeStringToFile("", box.path("log"), false));
  auto file = ns::FileHandle::fileHandleForWritingAtPath(box.path("log"));
  auto toFile = shell("echo one; echo two");
  toFile->setStandardOutput(file);
  toFile->launch();
  toFile->waitUntilExit();
  EXPECT_EQ(*ns::stringWithContentsOfFile(box.path("log")), "one\ntwo\n");
}

TEST(TaskTest, SignalsEndTheChildWithAnUncaughtSignal) {
  auto task = shell("exec sleep 60");
  task->launch();
  EXPECT_TRUE(task->isRunning());
  EXPECT_THROW(task->terminationStatus(), ns::Exception);
  task->terminate();
  task->waitUntilExit();
  EXPECT_FALSE(task->isRunning());
  EXPECT_EQ(task->terminationReason(), ns::TaskTerminationReasonUncaughtSignal);
  EXPECT_EQ(task->terminationStatus(), SIGTERM);
  EXPECT_FALSE(task->suspend()) << "no signal reaches a finished task";
}

TEST(TaskTest, ALaunchPathThatCannotRunIsAnErrorOrAnException) {
  Sandbox box;
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(box.path("no-such-program"));
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(task->launchAndReturnError(&error));
  EXPECT_EQ(error.code(), ns::NSFileNoSuchFileError);
  EXPECT_EQ(error.userInfo()[ns::NSFilePathErrorKey].string(), box.path("no-such-program"));
  EXPECT_FALSE(task->isRunning());
  EXPECT_THROW(task->terminationStatus(), ns::Exception);

  ASSERT_TRUE(ns::writeStringToFile("#!/bin/sh\n", box.path("not-executable"), false));
  auto other = ns::make<ns::Task>();
  other->setLaunchPath(box.path("not-executable"));
  try {
    other->launch();
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "launch path not accessible");
  }

  auto twice = shell("true");
  twice->launch();
  EXPECT_THROW(twice->launch(), ns::Exception);
  twice->waitUntilExit();
}

TEST(FileHandleTest, ReadsWritesSeeksAndTruncates) {
  Sandbox box;
  std::string path = box.path("f");
  EXPECT_FALSE(ns::FileHandle::fileHandleForWritingAtPath(path)) << "writing does not create the file";
  ASSERT_TRUE(ns::writeStringToFile("", path, false));
  auto h = ns::FileHandle::fileHandleForUpdatingAtPath(path);
  ASSERT_TRUE(h);
  h->writeData(ns::Data("hello world"));
  EXPECT_EQ(h->offsetInFile(), 11u);
  h->seekToFileOffset(6);
  EXPECT_EQ(h->readDataOfLength(3).toString(), "wor");
  EXPECT_EQ(h->readDataToEndOfFile().toString(), "ld");
  EXPECT_EQ(h->readDataToEndOfFile().length(), 0u);
  h->truncateFileAtOffset(5);
  EXPECT_EQ(h->seekToEndOfFile(), 5u);
  h->writeData(ns::Data("!"));
  h->synchronizeFile();
  h->seekToFileOffset(0);
  EXPECT_EQ(h->availableData().toString(), "hello!");
  h->closeFile();
  EXPECT_EQ(h->fileDescriptor(), -1);
  EXPECT_THROW(h->writeData(ns::Data("x")), ns::Exception);
  ns::Error error(ns::NSPOSIXErrorDomain, 0);
  EXPECT_FALSE(h->readDataToEndOfFileAndReturnError(&error));
  EXPECT_EQ(error.code(), EBADF);
  EXPECT_TRUE(h->closeAndReturnError(nullptr));

  auto null = ns::FileHandle::fileHandleWithNullDevice();
  null->writeData(ns::Data("discarded"));
  EXPECT_EQ(null->readDataToEndOfFile().length(), 0u);
}

TEST(FileHandleTest, WritingToAPipeWithoutReaderRaisesInsteadOfKillingTheProcess) {
  auto pipe = ns::Pipe::pipe();
  pipe->fileHandleForReading()->closeFile();
  ns::Error error(ns::NSPOSIXErrorDomain, 0);
  EXPECT_FALSE(pipe->fileHandleForWriting()->writeData_error(ns::Data("x"), &error));
  EXPECT_EQ(error.code(), EPIPE);
  try {
    pipe->fileHandleForWriting()->writeData(ns::Data("y"));
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSFileHandleOperationException);
  }
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "no stray signal left behind";
}

TEST(FileHandleTest, AvailableDataOnAPipeReturnsWhatIsThere) {
  auto pipe = ns::Pipe::pipe();
  pipe->fileHandleForWriting()->writeData(ns::Data("part one"));
  EXPECT_EQ(pipe->fileHandleForReading()->availableData().toString(), "part one");
  pipe->fileHandleForWriting()->closeFile();
  EXPECT_EQ(pipe->fileHandleForReading()->availableData().length(), 0u);
}

}  // namespace

namespace {

TEST(TaskTest, TheTerminationHandlerRunsOnceOnABackgroundQueue) {
  pltest::Monitor monitor;
  int calls = 0;
  int status = -1;
  bool notified = false;
  auto task = shell("exit 7");
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      ns::NSTaskDidTerminateNotification, task, nullptr,
      [&](const ns::Ref<ns::Notification>&) { monitor.change([&] { notified = true; }); });
  task->setTerminationHandler(
      [&](const ns::Ref<ns::Task>& t) { monitor.change([&] { ++calls, status = t->terminationStatus(); }); });
  task->launch();
  ASSERT_TRUE(monitor.waitFor([&] { return calls == 1 && notified; }, std::chrono::seconds(30)));
  EXPECT_EQ(status, 7);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  task->waitUntilExit();
  EXPECT_EQ(calls, 1);
}

}  // namespace
