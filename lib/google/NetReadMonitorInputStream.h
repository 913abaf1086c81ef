#pragma once
// An input stream that passes reads through to another stream and reports every block read to a
// delegate. Reads on the thread that made the monitor report at once over the reader's buffer;
// reads on any other thread report a copy of the bytes on the monitor's thread, without waiting.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/google/CallbackSelector.h"
#include "platform/core/Data.h"
#include "platform/foundation/Stream.h"
#include "platform/runloop/Thread.h"

class NetReadMonitorInputStream : public ns::InputStream {
 public:
  using ReadSelector = CallbackSelector<void(NetReadMonitorInputStream& stream, const std::uint8_t* bytes,
                                             std::int64_t length)>;

  static ns::Ref<NetReadMonitorInputStream> inputStreamWithStream(const ns::Ref<ns::InputStream>& input);
  static ns::Ref<NetReadMonitorInputStream> initWithStream(const ns::Ref<ns::InputStream>& input) {
    return inputStreamWithStream(input);
  }
  // With no stream to read: the monitor's reads fail as a closed stream's do.
  NetReadMonitorInputStream();
  explicit NetReadMonitorInputStream(ns::Ref<ns::InputStream> input);

  long read_maxLength(std::uint8_t* buffer, std::size_t maxLength) override;
  // Calls the read selector on the read delegate with this monitor and the data's bytes.
  void invokeReadSelectorWithBuffer(const ns::Data& data);

  // Held weakly.
  ns::Ref<ns::Object> readDelegate() const;
  void setReadDelegate(const ns::Weak<ns::Object>& delegate);
  ReadSelector readSelector() const;
  void setReadSelector(ReadSelector selector);
  // The modes of the cross-thread delivery; nothing means the default mode.
  std::optional<std::vector<std::string>> runLoopModes() const;
  void setRunLoopModes(std::optional<std::vector<std::string>> modes);

  bool getBuffer_length(std::uint8_t** buffer, std::size_t* length) override;
  bool hasBytesAvailable() override;
  void open() override;
  void close() override;
  ns::Ref<ns::StreamDelegate> delegate() override;
  void setDelegate(const ns::Weak<ns::StreamDelegate>& delegate) override;
  ns::Value propertyForKey(const std::string& key) override;
  bool setProperty_forKey(const ns::Value& value, const std::string& key) override;
  void scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;
  void removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;
  ns::StreamStatus streamStatus() const override;
  std::optional<ns::Error> streamError() const override;

  const ns::Ref<ns::InputStream>& inputStream() const { return inputStream_; }
  std::string className() const override { return "NetReadMonitorInputStream"; }

 private:
  ns::Ref<ns::InputStream> inputStream_;
  ns::Ref<ns::Thread> thread_;
  mutable std::mutex monitorMutex_;
  std::optional<std::vector<std::string>> runLoopModes_;
  ns::Weak<ns::Object> readDelegate_;
  ReadSelector readSelector_;
};
