#include "platform/foundation/Stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/foundation/FileIO.h"
#include "platform/runloop/RunLoop.h"

namespace ns {

// ---- Stream ----

Stream::~Stream() = default;

void Stream::open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_ != StreamStatusNotOpen) return;
    status_ = StreamStatusOpening;
  }
  Error error(NSPOSIXErrorDomain, 0);
  if (!openResource(&error)) {
    failWith(error);
    return;
  }
  setStatus(StreamStatusOpen);
  postEvent(StreamEventOpenCompleted);
  StreamEvent ready = readinessEvent();
  if (ready != StreamEventNone) postEvent(ready);
}

void Stream::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_ == StreamStatusClosed || status_ == StreamStatusNotOpen) {
      status_ = StreamStatusClosed;
      return;
    }
    status_ = StreamStatusClosed;
  }
  closeResource();
}

Ref<StreamDelegate> Stream::delegate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hasDelegate_) {
      if (auto d = delegate_.lock()) return d;
    }
  }
  auto self = weak_from_this().lock();
  return self ? Ref<StreamDelegate>(std::static_pointer_cast<Stream>(self)) : nullptr;
}

void Stream::setDelegate(const Weak<StreamDelegate>& delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = delegate;
  hasDelegate_ = !delegate.expired();
}

Value Stream::propertyForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = properties_.find(key);
  return it == properties_.end() ? Value() : it->second;
}

bool Stream::setProperty_forKey(const Value& value, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (value.isNil()) {
    properties_.erase(key);
  } else {
    properties_[key] = value;
  }
  return true;
}

void Stream::scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  if (!runLoop) return;
  StreamStatus status;
  std::vector<StreamEvent> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(scheduled_.begin(), scheduled_.end(),
                           [&](const Scheduling& s) { return s.runLoop.lock() == runLoop; });
    if (it == scheduled_.end()) {
      scheduled_.push_back(Scheduling{runLoop, {mode}});
    } else if (std::find(it->modes.begin(), it->modes.end(), mode) == it->modes.end()) {
      it->modes.push_back(mode);
    }
    status = status_;
    held.swap(unscheduledEvents_);
  }
  for (StreamEvent event : held) postEvent(event);
  // A stream scheduled once it is already open reports where it stands.
  if (status == StreamStatusOpen || status == StreamStatusAtEnd) {
    StreamEvent ready = readinessEvent();
    if (ready != StreamEventNone) postEvent(ready);
  }
}

void Stream::removeFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = scheduled_.begin(); it != scheduled_.end(); ++it) {
    if (it->runLoop.lock() != runLoop) continue;
    std::erase(it->modes, mode);
    if (it->modes.empty()) scheduled_.erase(it);
    return;
  }
}

StreamStatus Stream::streamStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::optional<Error> Stream::streamError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void Stream::setStatus(StreamStatus status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_ != StreamStatusClosed) status_ = status;
}

void Stream::failWith(Error error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = StreamStatusError;
    error_ = std::move(error);
  }
  postEvent(StreamEventErrorOccurred);
}

void Stream::postEvent(StreamEvent event) {
  std::vector<Scheduling> targets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    targets = scheduled_;
    if (event == StreamEventHasBytesAvailable || event == StreamEventHasSpaceAvailable) {
      // One readiness event at a time; the next follows the transfer it invites.
      if (eventPending_) return;
      if (!targets.empty()) eventPending_ = true;
    } else if (targets.empty() && (event == StreamEventOpenCompleted || event == StreamEventErrorOccurred)) {
      // Readiness and the end are asked for again when scheduled; these would be lost.
      unscheduledEvents_.push_back(event);
      return;
    }
  }
  Weak<Object> weak = weak_from_this();
  for (const auto& target : targets) {
    auto loop = target.runLoop.lock();
    if (!loop) continue;
    loop->performInModes_block(target.modes, [weak, event] {
      if (auto self = std::static_pointer_cast<Stream>(weak.lock())) self->deliver(event);
    });
  }
}

void Stream::deliver(StreamEvent event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (event == StreamEventHasBytesAvailable || event == StreamEventHasSpaceAvailable) eventPending_ = false;
    if (status_ == StreamStatusClosed) return;
  }
  if (auto d = delegate()) d->stream_handleEvent(*this, event);
}

void Stream::didTransfer() {
  StreamEvent ready = readinessEvent();
  if (ready != StreamEventNone) postEvent(ready);
}

namespace {

class DataInputStream : public InputStream {
 public:
  explicit DataInputStream(Data data) : data_(std::move(data)) {}

  long read_maxLength(std::uint8_t* buffer, std::size_t maxLength) override {
    StreamStatus s = streamStatus();
    if (s != StreamStatusOpen && s != StreamStatusAtEnd) return -1;
    std::size_t n;
    bool end;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      n = std::min(maxLength, data_.length() - position_);
      if (n) std::memcpy(buffer, data_.bytes() + position_, n);
      position_ += n;
      end = position_ >= data_.length();
    }
    if (end) setStatus(StreamStatusAtEnd);
    if (n) didTransfer();
    return static_cast<long>(n);
  }
  bool getBuffer_length(std::uint8_t** buffer, std::size_t* length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffer) *buffer = const_cast<std::uint8_t*>(data_.bytes() + position_);
    if (length) *length = data_.length() - position_;
    return true;
  }
  bool hasBytesAvailable() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return position_ < data_.length();
  }

 protected:
  StreamEvent readinessEvent() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return position_ < data_.length() ? StreamEventHasBytesAvailable : StreamEventEndEncountered;
  }

 private:
  Data data_;
  std::size_t position_ = 0;
};

class FileInputStream : public InputStream {
 public:
  explicit FileInputStream(std::string path) : path_(std::move(path)) {}
  ~FileInputStream() override { closeResource(); }

  long read_maxLength(std::uint8_t* buffer, std::size_t maxLength) override {
    StreamStatus s = streamStatus();
    if (s != StreamStatusOpen && s != StreamStatusAtEnd) return -1;
    ssize_t n;
    do {
      n = ::read(fd_, buffer, maxLength);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      failWith(fileError(errno, path_, false));
      return -1;
    }
    if (n == 0 && maxLength > 0) {
      atEnd_ = true;
      setStatus(StreamStatusAtEnd);
      postEvent(StreamEventEndEncountered);
      return 0;
    }
    didTransfer();
    return static_cast<long>(n);
  }
  bool hasBytesAvailable() override { return streamStatus() == StreamStatusOpen && !atEnd_; }
  Value propertyForKey(const std::string& key) override {
    if (key == NSStreamFileCurrentOffsetKey && fd_ >= 0) {
      off_t at = ::lseek(fd_, 0, SEEK_CUR);
      return at < 0 ? Value() : Value(static_cast<unsigned long long>(at));
    }
    return InputStream::propertyForKey(key);
  }
  bool setProperty_forKey(const Value& value, const std::string& key) override {
    if (key == NSStreamFileCurrentOffsetKey) {
      if (fd_ < 0 || !value.isNumber()) return false;
      atEnd_ = false;
      return ::lseek(fd_, static_cast<off_t>(value.unsignedLongLongValue()), SEEK_SET) >= 0;
    }
    return InputStream::setProperty_forKey(value, key);
  }

 protected:
  bool openResource(Error* error) override {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      *error = fileError(errno, path_, false);
      return false;
    }
    return true;
  }
  void closeResource() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  StreamEvent readinessEvent() const override {
    return atEnd_ ? StreamEventEndEncountered : StreamEventHasBytesAvailable;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool atEnd_ = false;
};

class MemoryOutputStream : public OutputStream {
 public:
  long write_maxLength(const std::uint8_t* buffer, std::size_t length) override {
    StreamStatus s = streamStatus();
    if (s != StreamStatusOpen) return -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bytes_.appendBytes_length(buffer, length);
    }
    didTransfer();
    return static_cast<long>(length);
  }
  bool hasSpaceAvailable() override { return streamStatus() == StreamStatusOpen; }
  Value propertyForKey(const std::string& key) override {
    if (key == NSStreamDataWrittenToMemoryStreamKey) {
      std::lock_guard<std::mutex> lock(mutex_);
      return Value(bytes_.copy());
    }
    return OutputStream::propertyForKey(key);
  }

 protected:
  StreamEvent readinessEvent() const override { return StreamEventHasSpaceAvailable; }

 private:
  MutableData bytes_;
};

class BufferOutputStream : public OutputStream {
 public:
  BufferOutputStream(std::uint8_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  long write_maxLength(const std::uint8_t* buffer, std::size_t length) override {
    StreamStatus s = streamStatus();
    if (s != StreamStatusOpen) return s == StreamStatusAtEnd ? 0 : -1;
    std::size_t n = std::min(length, capacity_ - used_);
    if (n) std::memcpy(buffer_ + used_, buffer, n);
    used_ += n;
    if (used_ == capacity_) {
      setStatus(StreamStatusAtEnd);
      postEvent(StreamEventEndEncountered);
    } else {
      didTransfer();
    }
    return static_cast<long>(n);
  }
  bool hasSpaceAvailable() override { return used_ < capacity_ && streamStatus() == StreamStatusOpen; }

 protected:
  StreamEvent readinessEvent() const override {
    return used_ < capacity_ ? StreamEventHasSpaceAvailable : StreamEventEndEncountered;
  }

 private:
  std::uint8_t* buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

class FileOutputStream : public OutputStream {
 public:
  FileOutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}
  ~FileOutputStream() override { closeResource(); }

  long write_maxLength(const std::uint8_t* buffer, std::size_t length) override {
    if (streamStatus() != StreamStatusOpen) return -1;
    ssize_t n;
    do {
      n = ::write(fd_, buffer, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      failWith(fileError(errno, path_, true));
      return -1;
    }
    didTransfer();
    return static_cast<long>(n);
  }
  bool hasSpaceAvailable() override { return streamStatus() == StreamStatusOpen; }
  Value propertyForKey(const std::string& key) override {
    if (key == NSStreamFileCurrentOffsetKey && fd_ >= 0) {
      off_t at = ::lseek(fd_, 0, SEEK_CUR);
      return at < 0 ? Value() : Value(static_cast<unsigned long long>(at));
    }
    return OutputStream::propertyForKey(key);
  }

 protected:
  bool openResource(Error* error) override {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC), 0666);
    if (fd_ < 0) {
      *error = fileError(errno, path_, true);
      return false;
    }
    return true;
  }
  void closeResource() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  StreamEvent readinessEvent() const override { return StreamEventHasSpaceAvailable; }

 private:
  std::string path_;
  bool append_;
  int fd_ = -1;
};

}  // namespace

// ---- InputStream / OutputStream ----

Ref<InputStream> InputStream::inputStreamWithData(const Data& data) {
  return make<DataInputStream>(data);
}

Ref<InputStream> InputStream::inputStreamWithFileAtPath(const std::string& path) {
  return make<FileInputStream>(path);
}

long InputStream::read_maxLength(std::uint8_t*, std::size_t) {
  return -1;
}
bool InputStream::hasBytesAvailable() {
  return false;
}

Ref<OutputStream> OutputStream::outputStreamToMemory() {
  return make<MemoryOutputStream>();
}

Ref<OutputStream> OutputStream::outputStreamToBuffer_capacity(std::uint8_t* buffer, std::size_t capacity) {
  return make<BufferOutputStream>(buffer, capacity);
}

Ref<OutputStream> OutputStream::outputStreamToFileAtPath_append(const std::string& path, bool append) {
  return make<FileOutputStream>(path, append);
}

long OutputStream::write_maxLength(const std::uint8_t*, std::size_t) {
  return -1;
}
bool OutputStream::hasSpaceAvailable() {
  return false;
}

}  // namespace ns
