#pragma once
// Streams of bytes with the platform's status, error and event model. Input streams read from
// data or a file, output streams write to memory, a caller's buffer or a file; subclasses may
// stand on their own (every operation is virtual).
//
// A stream scheduled in a run loop reports events to its delegate (the stream itself unless
// another is set; held weakly) on that loop's thread, in the modes it was scheduled in:
// OpenCompleted after open(), then HasBytesAvailable (again after each read that leaves bytes)
// and EndEncountered for input, HasSpaceAvailable (again after each write) for output, and
// ErrorOccurred on failure. Unscheduled streams are used synchronously and report nothing.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class RunLoop;
class Stream;

enum StreamStatus : unsigned long {
  StreamStatusNotOpen = 0,
  StreamStatusOpening = 1,
  StreamStatusOpen = 2,
  StreamStatusReading = 3,
  StreamStatusWriting = 4,
  StreamStatusAtEnd = 5,
  StreamStatusClosed = 6,
  StreamStatusError = 7,
};

enum StreamEvent : unsigned long {
  StreamEventNone = 0,
  StreamEventOpenCompleted = 1,
  StreamEventHasBytesAvailable = 2,
  StreamEventHasSpaceAvailable = 4,
  StreamEventErrorOccurred = 8,
  StreamEventEndEncountered = 16,
};

inline constexpr char NSStreamDataWrittenToMemoryStreamKey[] = "NSStreamDataWrittenToMemoryStreamKey";
inline constexpr char NSStreamFileCurrentOffsetKey[] = "NSStreamFileCurrentOffsetKey";

class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  virtual void stream_handleEvent(Stream& stream, StreamEvent event) {}
};

class Stream : public Object, public StreamDelegate {
 public:
  ~Stream() override;

  virtual void open();
  virtual void close();
  virtual Ref<StreamDelegate> delegate();
  // nullptr makes the stream its own delegate again.
  virtual void setDelegate(const Weak<StreamDelegate>& delegate);
  virtual Value propertyForKey(const std::string& key);
  virtual bool setProperty_forKey(const Value& value, const std::string& key);
  virtual void scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);
  virtual void removeFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);
  virtual StreamStatus streamStatus() const;
  virtual std::optional<Error> streamError() const;

 protected:
  Stream() = default;

  // For subclasses: the work of open(), answering false with an error on failure.
  virtual bool openResource(Error* error) { return true; }
  virtual void closeResource() {}
  // The event that the current state calls for once open (bytes, space or end).
  virtual StreamEvent readinessEvent() const { return StreamEventNone; }

  void setStatus(StreamStatus status);
  void failWith(Error error);
  // Queues `event` for the delegate on every run loop the stream is scheduled in.
  void postEvent(StreamEvent event);
  // Called after a read or write: queues the next readiness event when one is due.
  void didTransfer();

  mutable std::mutex mutex_;
  std::map<std::string, Value> properties_;

 private:
  struct Scheduling {
    Weak<RunLoop> runLoop;
    std::vector<std::string> modes;
  };
  StreamStatus status_ = StreamStatusNotOpen;
  std::optional<Error> error_;
  Weak<StreamDelegate> delegate_;
  bool hasDelegate_ = false;
  std::vector<Scheduling> scheduled_;
  bool eventPending_ = false;
  // Opened or failed while scheduled nowhere: told once the stream is scheduled.
  std::vector<StreamEvent> unscheduledEvents_;

  void deliver(StreamEvent event);
};

class InputStream : public Stream {
 public:
  static Ref<InputStream> inputStreamWithData(const Data& data);
  // Opening fails (status Error) when the file cannot be read.
  static Ref<InputStream> inputStreamWithFileAtPath(const std::string& path);

  // Bytes read (0 at the end, -1 on error or when not open).
  virtual long read_maxLength(std::uint8_t* buffer, std::size_t maxLength);
  virtual bool getBuffer_length(std::uint8_t** buffer, std::size_t* length) { return false; }
  virtual bool hasBytesAvailable();

 protected:
  InputStream() = default;
};

class OutputStream : public Stream {
 public:
  // The bytes written are the NSStreamDataWrittenToMemoryStreamKey property.
  static Ref<OutputStream> outputStreamToMemory();
  // Writes into the caller's buffer until it is full.
  static Ref<OutputStream> outputStreamToBuffer_capacity(std::uint8_t* buffer, std::size_t capacity);
  static Ref<OutputStream> outputStreamToFileAtPath_append(const std::string& path, bool append);

  // Bytes written (0 when full, -1 on error or when not open).
  virtual long write_maxLength(const std::uint8_t* buffer, std::size_t length);
  virtual bool hasSpaceAvailable();

 protected:
  OutputStream() = default;
};

}  // namespace ns
