#include "lib/google/NetReadMonitorInputStream.h"

#include "platform/runloop/RunLoop.h"

ns::Ref<NetReadMonitorInputStream> NetReadMonitorInputStream::inputStreamWithStream(
    const ns::Ref<ns::InputStream>& input) {
  return ns::make<NetReadMonitorInputStream>(input);
}

NetReadMonitorInputStream::NetReadMonitorInputStream() : NetReadMonitorInputStream(nullptr) {}

NetReadMonitorInputStream::NetReadMonitorInputStream(ns::Ref<ns::InputStream> input)
    : inputStream_(std::move(input)), thread_(ns::Thread::currentThread()) {}

long NetReadMonitorInputStream::read_maxLength(std::uint8_t* buffer, std::size_t maxLength) {
  if (!inputStream_) return -1;
  long count = inputStream_->read_maxLength(buffer, maxLength);
  if (count <= 0) return count;
  ns::Ref<ns::Object> delegate;
  ReadSelector selector;
  std::optional<std::vector<std::string>> modes;
  {
    std::lock_guard<std::mutex> lock(monitorMutex_);
    delegate = readDelegate_.lock();
    selector = readSelector_;
    modes = runLoopModes_;
  }
  if (!delegate || !selector) return count;
  if (ns::Thread::currentThread() == thread_) {
    selector(*delegate, *this, buffer, count);
    return count;
  }
  // The reader's buffer is reused once this returns: the other thread gets its own copy.
  ns::Data copy(buffer, static_cast<std::size_t>(count));
  auto self = std::static_pointer_cast<NetReadMonitorInputStream>(shared_from_this());
  ns::PerformRequest request{self, "invokeReadSelectorWithBuffer:", nullptr,
                             [self, copy] { self->invokeReadSelectorWithBuffer(copy); }};
  if (modes)
    ns::Thread::performOnThread(thread_, std::move(request), false, *modes);
  else
    ns::Thread::performOnThread(thread_, std::move(request), false);
  return count;
}

void NetReadMonitorInputStream::invokeReadSelectorWithBuffer(const ns::Data& data) {
  ns::Ref<ns::Object> delegate;
  ReadSelector selector;
  {
    std::lock_guard<std::mutex> lock(monitorMutex_);
    delegate = readDelegate_.lock();
    selector = readSelector_;
  }
  if (delegate && selector)
    selector(*delegate, *this, data.bytes(), static_cast<std::int64_t>(data.length()));
}

ns::Ref<ns::Object> NetReadMonitorInputStream::readDelegate() const {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  return readDelegate_.lock();
}

void NetReadMonitorInputStream::setReadDelegate(const ns::Weak<ns::Object>& delegate) {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  readDelegate_ = delegate;
}

NetReadMonitorInputStream::ReadSelector NetReadMonitorInputStream::readSelector() const {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  return readSelector_;
}

void NetReadMonitorInputStream::setReadSelector(ReadSelector selector) {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  readSelector_ = std::move(selector);
}

std::optional<std::vector<std::string>> NetReadMonitorInputStream::runLoopModes() const {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  return runLoopModes_;
}

void NetReadMonitorInputStream::setRunLoopModes(std::optional<std::vector<std::string>> modes) {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  runLoopModes_ = std::move(modes);
}

// Everything else is the wrapped stream's.

bool NetReadMonitorInputStream::getBuffer_length(std::uint8_t** buffer, std::size_t* length) {
  return inputStream_ && inputStream_->getBuffer_length(buffer, length);
}

bool NetReadMonitorInputStream::hasBytesAvailable() {
  return inputStream_ && inputStream_->hasBytesAvailable();
}

void NetReadMonitorInputStream::open() {
  if (inputStream_) inputStream_->open();
}

void NetReadMonitorInputStream::close() {
  if (inputStream_) inputStream_->close();
}

ns::Ref<ns::StreamDelegate> NetReadMonitorInputStream::delegate() {
  return inputStream_ ? inputStream_->delegate() : nullptr;
}

void NetReadMonitorInputStream::setDelegate(const ns::Weak<ns::StreamDelegate>& delegate) {
  if (inputStream_) inputStream_->setDelegate(delegate);
}

ns::Value NetReadMonitorInputStream::propertyForKey(const std::string& key) {
  return inputStream_ ? inputStream_->propertyForKey(key) : ns::Value();
}

bool NetReadMonitorInputStream::setProperty_forKey(const ns::Value& value, const std::string& key) {
  return inputStream_ && inputStream_->setProperty_forKey(value, key);
}

void NetReadMonitorInputStream::scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                          const std::string& mode) {
  if (inputStream_) inputStream_->scheduleInRunLoop_forMode(runLoop, mode);
}

void NetReadMonitorInputStream::removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                          const std::string& mode) {
  if (inputStream_) inputStream_->removeFromRunLoop_forMode(runLoop, mode);
}

ns::StreamStatus NetReadMonitorInputStream::streamStatus() const {
  return inputStream_ ? inputStream_->streamStatus() : ns::StreamStatusNotOpen;
}

std::optional<ns::Error> NetReadMonitorInputStream::streamError() const {
  return inputStream_ ? inputStream_->streamError() : std::nullopt;
}
