#pragma once
// An input stream over a list of data blocks, read as one body without joining them. A one-byte
// stream underneath supplies the state, error, properties, run-loop scheduling and the
// end-of-stream event, so the gather stream behaves as a plain data stream to its readers.
#include <cstdint>
#include <vector>

#include "platform/core/Data.h"
#include "platform/foundation/Stream.h"

class NetGatherInputStream : public ns::InputStream {
 public:
  static ns::Ref<NetGatherInputStream> streamWithArray(const std::vector<ns::Data>& dataArray);
  static ns::Ref<NetGatherInputStream> initWithArray(const std::vector<ns::Data>& dataArray) {
    return streamWithArray(dataArray);
  }

  long read_maxLength(std::uint8_t* buffer, std::size_t maxLength) override;
  bool getBuffer_length(std::uint8_t** buffer, std::size_t* length) override { return false; }
  bool hasBytesAvailable() override { return true; }

  void open() override;
  void close() override;
  ns::Ref<ns::StreamDelegate> delegate() override;
  // nullptr makes the stream its own delegate and detaches the inner stream's events.
  void setDelegate(const ns::Weak<ns::StreamDelegate>& delegate) override;
  void stream_handleEvent(ns::Stream& stream, ns::StreamEvent event) override;
  ns::Value propertyForKey(const std::string& key) override;
  bool setProperty_forKey(const ns::Value& value, const std::string& key) override;
  void scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;
  void removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;
  ns::StreamStatus streamStatus() const override;
  std::optional<ns::Error> streamError() const override;

  std::string className() const override { return "NetGatherInputStream"; }

  explicit NetGatherInputStream(std::vector<ns::Data> dataArray);

 private:
  std::mutex gatherMutex_;
  std::vector<ns::Data> dataArray_;
  std::uint64_t arrayIndex_ = 0;
  std::uint64_t dataOffset_ = 0;
  ns::Weak<ns::StreamDelegate> delegate_;
  bool hasDelegate_ = false;
  ns::Ref<ns::InputStream> dummyStream_;
};
