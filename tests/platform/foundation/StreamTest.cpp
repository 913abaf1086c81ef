// Input and output streams, used directly and through run-loop events.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Stream.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;

std::string readAll(ns::InputStream& in) {
  std::string out;
  std::uint8_t buffer[7];
  long n;
  while ((n = in.read_maxLength(buffer, sizeof buffer)) > 0) out.append(reinterpret_cast<char*>(buffer), n);
  EXPECT_EQ(n, 0);
  return out;
}

TEST(StreamTest, DataAndFileInputStreams) {
  auto in = ns::InputStream::inputStreamWithData(ns::Data("stream of bytes"));
  std::uint8_t b[4];
  EXPECT_EQ(in->read_maxLength(b, 4), -1) << "reading before open fails";
  EXPECT_EQ(in->streamStatus(), ns::StreamStatusNotOpen);
  in->open();
  EXPECT_EQ(in->streamStatus(), ns::StreamStatusOpen);
  EXPECT_TRUE(in->hasBytesAvailable());
  EXPECT_EQ(readAll(*in), "stream of bytes");
  EXPECT_EQ(in->streamStatus(), ns::StreamStatusAtEnd);
  EXPECT_FALSE(in->hasBytesAvailable());
  in->close();
  EXPECT_EQ(in->streamStatus(), ns::StreamStatusClosed);

  Sandbox box;
  ASSERT_TRUE(ns::writeStringToFile("0123456789", box.path("f"), false));
  auto file = ns::InputStream::inputStreamWithFileAtPath(box.path("f"));
  file->open();
  ASSERT_TRUE(file->setProperty_forKey(ns::Value(4), ns::NSStreamFileCurrentOffsetKey));
  EXPECT_EQ(readAll(*file), "456789");
  EXPECT_EQ(file->propertyForKey(ns::NSStreamFileCurrentOffsetKey).integerValue(), 10);

  auto missing = ns::InputStream::inputStreamWithFileAtPath(box.path("missing"));
  missing->open();
  EXPECT_EQ(missing->streamStatus(), ns::StreamStatusError);
  ASSERT_TRUE(missing->streamError());
  EXPECT_EQ(missing->streamError()->code(), ns::NSFileReadNoSuchFileError);
}

TEST(StreamTest, OutputToMemoryBufferAndFile) {
  auto memory = ns::OutputStream::outputStreamToMemory();
  memory->open();
  EXPECT_EQ(memory->write_maxLength(reinterpret_cast<const std::uint8_t*>("abc"), 3), 3);
  EXPECT_EQ(memory->write_maxLength(reinterpret_cast<const std::uint8_t*>("de"), 2), 2);
  EXPECT_EQ(memory->propertyForKey(ns::NSStreamDataWrittenToMemoryStreamKey).data().toString(), "abcde");

  std::uint8_t buffer[4] = {};
  auto fixed = ns::OutputStream::outputStreamToBuffer_capacity(buffer, sizeof buffer);
  fixed->open();
  EXPECT_EQ(fixed->write_maxLength(reinterpret_cast<const std::uint8_t*>("123456"), 6), 4);
  EXPECT_FALSE(fixed->hasSpaceAvailable());
  EXPECT_EQ(fixed->write_maxLength(reinterpret_cast<const std::uint8_t*>("7"), 1), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "1234");

  Sandbox box;
  auto file = ns::OutputStream::outputStreamToFileAtPath_append(box.path("out"), false);
  file->open();
  file->write_maxLength(reinterpret_cast<const std::uint8_t*>("one"), 3);
  file->close();
  auto again = ns::OutputStream::outputStreamToFileAtPath_append(box.path("out"), true);
  again->open();
  again->write_maxLength(reinterpret_cast<const std::uint8_t*>("two"), 3);
  again->close();
  EXPECT_EQ(*ns::stringWithContentsOfFile(box.path("out")), "onetwo");
  auto blocked = ns::OutputStream::outputStreamToFileAtPath_append(box.path("no/such/folder/out"), false);
  blocked->open();
  EXPECT_EQ(blocked->streamStatus(), ns::StreamStatusError);
}

struct Reader : ns::Object, ns::StreamDelegate {
  std::vector<ns::StreamEvent> events;
  std::string received;
  void stream_handleEvent(ns::Stream& stream, ns::StreamEvent event) override {
    events.push_back(event);
    if (event == ns::StreamEventHasBytesAvailable) {
      std::uint8_t b[5];
      long n = static_cast<ns::InputStream&>(stream).read_maxLength(b, sizeof b);
      if (n > 0) received.append(reinterpret_cast<char*>(b), n);
    }
  }
};

TEST(StreamTest, ScheduledStreamsReportEventsOnTheRunLoop) {
  auto loop = ns::RunLoop::currentRunLoop();
  auto in = ns::InputStream::inputStreamWithData(ns::Data("twelve bytes"));
  auto reader = ns::make<Reader>();
  in->setDelegate(reader);
  in->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  in->open();
  EXPECT_TRUE(reader->events.empty()) << "events arrive on a later pass, never inside open()";
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return !reader->events.empty() && reader->events.back() == ns::StreamEventEndEncountered; }));
  EXPECT_EQ(reader->received, "twelve bytes");
  EXPECT_EQ(reader->events.front(), ns::StreamEventOpenCompleted);
  in->close();
  in->removeFromRunLoop_forMode(loop, ns::DefaultRunLoopMode);

  // Opened, or failed, before it was scheduled: the event is told once it is.
  auto early = ns::InputStream::inputStreamWithData(ns::Data("ab"));
  auto earlyReader = ns::make<Reader>();
  early->setDelegate(earlyReader);
  early->open();
  early->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    return !earlyReader->events.empty() && earlyReader->events.back() == ns::StreamEventEndEncountered;
  }));
  EXPECT_EQ(earlyReader->events.front(), ns::StreamEventOpenCompleted);
  EXPECT_EQ(std::count(earlyReader->events.begin(), earlyReader->events.end(), ns::StreamEventOpenCompleted),
            1);
  EXPECT_EQ(earlyReader->received, "ab");
  Sandbox box;
  auto missing = ns::InputStream::inputStreamWithFileAtPath(box.path("missing"));
  auto missingReader = ns::make<Reader>();
  missing->setDelegate(missingReader);
  missing->open();
  missing->scheduleInRunLoop_forMode(loop, ns::DefaultRunLoopMode);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !missingReader->events.empty(); }));
  EXPECT_EQ(missingReader->events, std::vector<ns::StreamEvent>{ns::StreamEventErrorOccurred});

  // Without a delegate of its own, a stream is its own delegate.
  auto other = ns::InputStream::inputStreamWithData(ns::Data("x"));
  EXPECT_EQ(other->delegate().get(), static_cast<ns::StreamDelegate*>(other.get()));
}

}  // namespace
