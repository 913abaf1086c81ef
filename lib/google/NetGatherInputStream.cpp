#include "lib/google/NetGatherInputStream.h"

#include <algorithm>
#include <cstring>

ns::Ref<NetGatherInputStream> NetGatherInputStream::streamWithArray(const std::vector<ns::Data>& dataArray) {
  return ns::make<NetGatherInputStream>(dataArray);
}

NetGatherInputStream::NetGatherInputStream(std::vector<ns::Data> dataArray)
    : dataArray_(std::move(dataArray)), dummyStream_(ns::InputStream::inputStreamWithData(ns::Data("x"))) {}

long NetGatherInputStream::read_maxLength(std::uint8_t* buffer, std::size_t maxLength) {
  std::size_t copied = 0;
  {
    std::lock_guard<std::mutex> lock(gatherMutex_);
    while (copied < maxLength && arrayIndex_ < dataArray_.size()) {
      const ns::Data& block = dataArray_[arrayIndex_];
      std::size_t available = block.length() - std::min<std::size_t>(dataOffset_, block.length());
      std::size_t n = std::min(available, maxLength - copied);
      if (n) std::memcpy(buffer + copied, block.bytes() + dataOffset_, n);
      copied += n;
      dataOffset_ += n;
      if (dataOffset_ >= block.length()) {
        ++arrayIndex_;
        dataOffset_ = 0;
      }
    }
  }
  if (copied > 0) return static_cast<long>(copied);
  // Nothing left: let the inner stream reach its end so that it reports end-of-stream. Its byte
  // goes to scratch space, not to the caller's buffer.
  std::uint8_t scratch = 0;
  dummyStream_->read_maxLength(&scratch, std::min<std::size_t>(maxLength, 1));
  return 0;
}

void NetGatherInputStream::open() {
  dummyStream_->open();
}

void NetGatherInputStream::close() {
  dummyStream_->close();
  std::lock_guard<std::mutex> lock(gatherMutex_);
  dataArray_.clear();
  arrayIndex_ = 0;
  dataOffset_ = 0;
}

ns::Ref<ns::StreamDelegate> NetGatherInputStream::delegate() {
  {
    std::lock_guard<std::mutex> lock(gatherMutex_);
    if (hasDelegate_) {
      if (auto d = delegate_.lock()) return d;
    }
  }
  return std::static_pointer_cast<ns::StreamDelegate>(
      std::static_pointer_cast<NetGatherInputStream>(shared_from_this()));
}

void NetGatherInputStream::setDelegate(const ns::Weak<ns::StreamDelegate>& delegate) {
  auto strong = delegate.lock();
  auto self = std::static_pointer_cast<NetGatherInputStream>(shared_from_this());
  bool own = !strong || strong.get() == static_cast<ns::StreamDelegate*>(self.get());
  {
    std::lock_guard<std::mutex> lock(gatherMutex_);
    hasDelegate_ = !own;
    delegate_ = own ? ns::Weak<ns::StreamDelegate>() : delegate;
  }
  if (own)
    dummyStream_->setDelegate(ns::Weak<ns::StreamDelegate>());
  else
    dummyStream_->setDelegate(
        ns::Weak<ns::StreamDelegate>(std::static_pointer_cast<ns::StreamDelegate>(self)));
}

void NetGatherInputStream::stream_handleEvent(ns::Stream& stream, ns::StreamEvent event) {
  // Events of the inner stream reach the real delegate as events of this stream.
  ns::Ref<ns::StreamDelegate> target;
  {
    std::lock_guard<std::mutex> lock(gatherMutex_);
    if (!hasDelegate_) return;
    target = delegate_.lock();
  }
  if (target) target->stream_handleEvent(*this, event);
}

ns::Value NetGatherInputStream::propertyForKey(const std::string& key) {
  return dummyStream_->propertyForKey(key);
}

bool NetGatherInputStream::setProperty_forKey(const ns::Value& value, const std::string& key) {
  return dummyStream_->setProperty_forKey(value, key);
}

void NetGatherInputStream::scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                     const std::string& mode) {
  dummyStream_->scheduleInRunLoop_forMode(runLoop, mode);
}

void NetGatherInputStream::removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop,
                                                     const std::string& mode) {
  dummyStream_->removeFromRunLoop_forMode(runLoop, mode);
}

ns::StreamStatus NetGatherInputStream::streamStatus() const {
  return dummyStream_->streamStatus();
}

std::optional<ns::Error> NetGatherInputStream::streamError() const {
  return dummyStream_->streamError();
}
