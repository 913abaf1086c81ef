// Multipart documents, the gather stream and the read monitor.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <regex>
#include <thread>

#include "FetcherTestSupport.h"
#include "lib/google/NetGatherInputStream.h"
#include "lib/google/NetMIMEDocument.h"
#include "lib/google/NetReadMonitorInputStream.h"

namespace {

using fetchertest::FetcherTest;
using fetchertest::Outcome;
using pltest::FakeReply;

std::string readAll(ns::InputStream& stream, std::size_t bufferSize = 7) {
  std::string out;
  std::vector<std::uint8_t> buffer(bufferSize);
  for (;;) {
    long n = stream.read_maxLength(buffer.data(), buffer.size());
    if (n <= 0) break;
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
  }
  return out;
}

TEST(MIMEPart, HeadersAreSortedCaseInsensitivelyAndEndWithAnEmptyLine) {
  struct Case {
    std::map<std::string, std::string> headers;
    std::string block;
  } cases[] = {
      {{{"Content-Type", "text/plain"}, {"content-id", "<a>"}},
       "content-id: <a>\r\nContent-Type: text/plain\r\n\r\n"},
      {{{"b", "2"}, {"A", "1"}, {"C", "3"}}, "A: 1\r\nb: 2\r\nC: 3\r\n\r\n"},
      {{}, "\r\n"},
      {{{"X-Name", "café"}}, "X-Name: café\r\n\r\n"},
  };
  for (const auto& c : cases) {
    auto part = NetMIMEPart::partWithHeaders_body(c.headers, ns::Data("body"));
    EXPECT_EQ(part->header().toString(), c.block);
    EXPECT_EQ(part->length(), c.block.size() + 4);
  }
}

TEST(MIMEPart, ContainsBytesSearchesHeadersThenBody) {
  auto part = NetMIMEPart::partWithHeaders_body({{"K", "vvEND"}}, ns::Data("xxEND_OF_PARyyEND_OF_PART"));
  struct Case {
    std::string needle;
    bool found;
  } cases[] = {
      {"END_OF_PART", true},                           // only at the very end of the body, after a near miss
      {"vvEND", true},                                 // in the headers
      {"K: ", true},         {"END_OF_PART_", false},  // would run past the end
      {"\r\nxx", false},                               // headers and body are searched apart
      {"zz", false},         {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(
        part->containsBytes_length(reinterpret_cast<const std::uint8_t*>(c.needle.data()), c.needle.size()),
        c.found)
        << c.needle;
}

TEST(MIMEDocument, BoundariesAvoidThePartsAndFollowTheSeed) {
  auto doc = NetMIMEDocument::MIMEDocument();
  EXPECT_EQ(doc->uniqueBoundary(), "END_OF_PART");  // no parts

  doc->addPartWithHeaders_body({}, ns::Data("plain"));
  EXPECT_EQ(doc->uniqueBoundary(), "END_OF_PART");

  doc->addPartWithHeaders_body({{"X", "y"}}, ns::Data("has END_OF_PART inside"));
  doc->seedRandomWith(1);
  EXPECT_EQ(doc->uniqueBoundary(), "END_OF_PART_00000001");

  // Candidates 1..10 all collide: the fallback takes two further numbers, unchecked.
  std::string body = "END_OF_PART";
  for (int i = 1; i <= 9; ++i) {
    char s[32];
    std::snprintf(s, sizeof s, " END_OF_PART_%08x", i);
    body += s;
  }
  auto crowded = NetMIMEDocument::MIMEDocument();
  crowded->addPartWithHeaders_body({}, ns::Data(body));
  crowded->seedRandomWith(1);
  std::string fallback = crowded->uniqueBoundary();
  EXPECT_TRUE(std::regex_match(fallback, std::regex("0000000a_[a-z]{7}_0000000b"))) << fallback;

  // Without a seed the numbers are random but the form holds.
  auto unseeded = NetMIMEDocument::MIMEDocument();
  unseeded->addPartWithHeaders_body({}, ns::Data("END_OF_PART"));
  EXPECT_TRUE(std::regex_match(unseeded->uniqueBoundary(), std::regex("END_OF_PART_[0-9a-f]{8}")));
}

TEST(MIMEDocument, GeneratedBodyFramesEveryPartAndCountsItsLength) {
  auto doc = NetMIMEDocument::MIMEDocument();
  doc->addPartWithHeaders_body({{"Content-Type", "application/json"}}, ns::Data("{}"));
  doc->addPartWithHeaders_body({{"Content-Type", "image/png"}}, ns::Data(std::string("\x89PNG\0\1", 6)));
  ns::Ref<ns::InputStream> stream;
  std::uint64_t length = 0;
  std::string boundary;
  doc->generateInputStream_length_boundary(&stream, &length, &boundary);
  ASSERT_TRUE(stream);
  EXPECT_EQ(boundary, "END_OF_PART");
  std::string expected =
      "\r\n--END_OF_PART\r\nContent-Type: application/json\r\n\r\n{}"
      "\r\n--END_OF_PART\r\nContent-Type: image/png\r\n\r\n" +
      std::string("\x89PNG\0\1", 6) + "\r\n--END_OF_PART--\r\n";
  stream->open();
  EXPECT_EQ(readAll(*stream), expected);
  EXPECT_EQ(length, expected.size());

  // Every output is optional.
  std::uint64_t onlyLength = 0;
  doc->generateInputStream_length_boundary(nullptr, &onlyLength, nullptr);
  EXPECT_EQ(onlyLength, expected.size());
  // An empty document is just the closing line.
  std::uint64_t emptyLength = 0;
  NetMIMEDocument::MIMEDocument()->generateInputStream_length_boundary(nullptr, &emptyLength, &boundary);
  EXPECT_EQ(emptyLength, std::string("\r\n--END_OF_PART--\r\n").size());
}

class RecordingStreamDelegate : public ns::StreamDelegate {
 public:
  void stream_handleEvent(ns::Stream& stream, ns::StreamEvent event) override {
    events.push_back(event);
    sources.push_back(&stream);
  }
  std::vector<ns::StreamEvent> events;
  std::vector<ns::Stream*> sources;
};

TEST(GatherInputStream, ReadsAcrossBlocksThenReportsTheEnd) {
  pltest::Sandbox sandbox;
  struct Case {
    std::vector<std::string> blocks;
    std::size_t bufferSize;
    std::vector<long> counts;
  } cases[] = {
      {{"abc", "defgh"}, 4, {4, 4, 0}},
      {{"abc", "", "defgh"}, 3, {3, 3, 2, 0}},
      {{"", ""}, 4, {0}},
      {{"abcdefgh"}, 100, {8, 0}},
  };
  for (const auto& c : cases) {
    std::vector<ns::Data> blocks;
    std::string all;
    for (const auto& b : c.blocks) {
      blocks.emplace_back(b);
      all += b;
    }
    auto stream = NetGatherInputStream::streamWithArray(blocks);
    auto delegate = std::make_shared<RecordingStreamDelegate>();
    stream->setDelegate(delegate);
    EXPECT_EQ(stream->delegate(), delegate);
    stream->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    stream->open();
    EXPECT_EQ(stream->streamStatus(), ns::StreamStatusOpen);
    EXPECT_TRUE(stream->hasBytesAvailable());
    EXPECT_FALSE(stream->getBuffer_length(nullptr, nullptr));
    std::string got;
    std::vector<long> counts;
    std::vector<std::uint8_t> buffer(c.bufferSize, '#');
    for (long n = 1; n > 0;) {
      n = stream->read_maxLength(buffer.data(), buffer.size());
      counts.push_back(n);
      if (n > 0) got.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    }
    EXPECT_EQ(counts, c.counts);
    EXPECT_EQ(got, all);
    EXPECT_EQ(stream->streamStatus(), ns::StreamStatusAtEnd);
    ASSERT_TRUE(pltest::pumpUntil([&] {
      return !delegate->events.empty() && delegate->events.back() == ns::StreamEventEndEncountered;
    }));
    EXPECT_EQ(delegate->events.front(), ns::StreamEventOpenCompleted);
    for (auto* source : delegate->sources) EXPECT_EQ(source, stream.get());  // passed on as the gather stream
    stream->removeFromRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    stream->close();
    EXPECT_EQ(stream->streamStatus(), ns::StreamStatusClosed);
  }
}

TEST(GatherInputStream, PropertiesAndOwnDelegateGoToTheInnerStream) {
  auto stream = NetGatherInputStream::streamWithArray({ns::Data("ab")});
  EXPECT_EQ(stream->delegate().get(), static_cast<ns::StreamDelegate*>(stream.get()));
  auto delegate = std::make_shared<RecordingStreamDelegate>();
  stream->setDelegate(delegate);
  stream->setDelegate(ns::Weak<ns::StreamDelegate>());
  EXPECT_EQ(stream->delegate().get(), static_cast<ns::StreamDelegate*>(stream.get()));
  EXPECT_TRUE(stream->setProperty_forKey(ns::Value(std::string("v")), "k"));
  EXPECT_EQ(stream->propertyForKey("k"), ns::Value(std::string("v")));
  EXPECT_EQ(stream->streamStatus(), ns::StreamStatusNotOpen);
  EXPECT_FALSE(stream->streamError());
  stream->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
  stream->open();
  std::uint8_t buffer[4];
  EXPECT_EQ(stream->read_maxLength(buffer, 4), 2);
  EXPECT_EQ(stream->read_maxLength(buffer, 4), 0);
  fetchertest::drainRunLoop();
  EXPECT_TRUE(delegate->events.empty());  // detached: the old delegate hears nothing
  stream->close();
}

class MIMEOverHTTP : public FetcherTest {};

TEST_F(MIMEOverHTTP, AGeneratedTwoPartBodyIsSplitBackIntoTheSameParts) {
  server_.route("POST", "/multipart",
                [](const pltest::FakeRequest& r) { return FakeReply::text(200, "ok"); });
  auto doc = NetMIMEDocument::MIMEDocument();
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>(i * 7));
  doc->addPartWithHeaders_body({{"Content-Type", "application/json; charset=UTF-8"}}, ns::Data("{\"a\":1}"));
  doc->addPartWithHeaders_body({{"Content-Type", "application/octet-stream"}, {"content-id", "<b>"}},
                               ns::Data(binary));
  ns::Ref<ns::InputStream> stream;
  std::uint64_t length = 0;
  std::string boundary;
  doc->generateInputStream_length_boundary(&stream, &length, &boundary);

  auto fetcher = fetcherFor("/multipart");
  fetcher->setPostStream(stream);
  fetcher->mutableRequest()->setValue_forHTTPHeaderField("multipart/related; boundary=" + boundary,
                                                         "Content-Type");
  Outcome outcome;
  ASSERT_TRUE(fetchToEnd(fetcher, outcome));
  ASSERT_FALSE(outcome.error);
  auto requests = requestsTo("/multipart");
  ASSERT_EQ(requests.size(), 1u);
  const std::string& body = requests[0].body;
  EXPECT_EQ(body.size(), length);

  // Split on the boundary lines as a receiver would.
  std::vector<std::string> parts;
  std::string separator = "\r\n--" + boundary;
  std::size_t at = body.find(separator);
  ASSERT_EQ(at, 0u);
  while (true) {
    std::size_t start = at + separator.size();
    if (body.compare(start, 4, "--\r\n") == 0) {
      EXPECT_EQ(start + 4, body.size());
      break;
    }
    ASSERT_EQ(body.compare(start, 2, "\r\n"), 0);
    std::size_t next = body.find(separator, start + 2);
    ASSERT_NE(next, std::string::npos);
    parts.push_back(body.substr(start + 2, next - start - 2));
    at = next;
  }
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], "Content-Type: application/json; charset=UTF-8\r\n\r\n{\"a\":1}");
  EXPECT_EQ(parts[1], "content-id: <b>\r\nContent-Type: application/octet-stream\r\n\r\n" + binary);
}

class ReadRecorder : public ns::Object {
 public:
  void stream_readIntoBuffer_length(NetReadMonitorInputStream& stream, const std::uint8_t* bytes,
                                    std::int64_t length) {
    std::lock_guard lock(mutex);
    chunks.emplace_back(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    onMain.push_back(ns::Thread::isMainThread());
    pointers.push_back(bytes);
  }
  static NetReadMonitorInputStream::ReadSelector selector() {
    return NetReadMonitorInputStream::ReadSelector::of("inputStream:readIntoBuffer:length:",
                                                       &ReadRecorder::stream_readIntoBuffer_length);
  }
  std::mutex mutex;
  std::vector<std::string> chunks;
  std::vector<bool> onMain;
  std::vector<const std::uint8_t*> pointers;
};

TEST(ReadMonitorInputStream, ReadsOnItsOwnThreadReportTheReadersBufferAtOnce) {
  auto monitor = NetReadMonitorInputStream::inputStreamWithStream(
      ns::InputStream::inputStreamWithData(ns::Data("hello")));
  auto recorder = ns::make<ReadRecorder>();
  monitor->setReadDelegate(recorder);
  monitor->setReadSelector(ReadRecorder::selector());
  EXPECT_EQ(monitor->readDelegate(), recorder);
  EXPECT_EQ(monitor->readSelector().name(), "inputStream:readIntoBuffer:length:");
  monitor->open();
  EXPECT_EQ(monitor->streamStatus(), ns::StreamStatusOpen);
  std::uint8_t buffer[3];
  EXPECT_EQ(monitor->read_maxLength(buffer, 3), 3);
  ASSERT_EQ(recorder->chunks.size(), 1u);
  EXPECT_EQ(recorder->chunks[0], "hel");
  EXPECT_EQ(recorder->pointers[0], buffer);  // no copy on the same thread
  EXPECT_EQ(monitor->read_maxLength(buffer, 3), 2);
  EXPECT_EQ(monitor->read_maxLength(buffer, 3), 0);  // the end is not reported
  EXPECT_EQ(recorder->chunks, (std::vector<std::string>{"hel", "lo"}));
  EXPECT_EQ(monitor->streamStatus(), ns::StreamStatusAtEnd);
  monitor->close();
  EXPECT_EQ(monitor->inputStream()->streamStatus(), ns::StreamStatusClosed);

  // No stream, or no delegate: reads pass through or fail, nothing is reported.
  auto empty = ns::make<NetReadMonitorInputStream>();
  EXPECT_EQ(empty->read_maxLength(buffer, 3), -1);
  auto silent =
      NetReadMonitorInputStream::inputStreamWithStream(ns::InputStream::inputStreamWithData(ns::Data("ab")));
  silent->setReadSelector(ReadRecorder::selector());
  silent->open();
  EXPECT_EQ(silent->read_maxLength(buffer, 3), 2);
}

TEST(ReadMonitorInputStream, ReadsOnAWorkerDeliverCopiesOnTheMainThreadInOrder) {
  std::string payload;
  for (int i = 0; i < 5000; ++i) payload.push_back(static_cast<char>('a' + i % 26));
  auto monitor = NetReadMonitorInputStream::inputStreamWithStream(
      ns::InputStream::inputStreamWithData(ns::Data(payload)));
  auto recorder = ns::make<ReadRecorder>();
  monitor->setReadDelegate(recorder);
  monitor->setReadSelector(ReadRecorder::selector());
  monitor->setRunLoopModes(std::vector<std::string>{ns::DefaultRunLoopMode, "PrivateMode"});
  monitor->open();
  std::atomic<bool> done{false};
  std::string readOnWorker;
  std::thread worker([&] {
    std::uint8_t buffer[97];
    for (long n; (n = monitor->read_maxLength(buffer, sizeof buffer)) > 0;) {
      readOnWorker.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
      std::memset(buffer, '#', sizeof buffer);  // the delegate must have had its own copy
    }
    done = true;
  });
  ASSERT_TRUE(pltest::pumpUntil([&] {
    std::lock_guard lock(recorder->mutex);
    std::size_t total = 0;
    for (auto& c : recorder->chunks) total += c.size();
    return done && total == payload.size();
  }));
  worker.join();
  std::lock_guard lock(recorder->mutex);
  std::string joined;
  for (auto& c : recorder->chunks) joined += c;
  EXPECT_EQ(joined, payload);
  EXPECT_EQ(readOnWorker, payload);
  for (bool main : recorder->onMain) EXPECT_TRUE(main);
}

}  // namespace
