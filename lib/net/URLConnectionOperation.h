#pragma once
// The base of the request operations: one URL request loaded by ns::URLConnection on the
// process's one "Networking" thread, the reply's body written to an output stream (memory unless
// another is set). It is a concurrent operation: it keeps its own ready, executing, paused and
// finished state and announces each change, so operation queues can run it.
//
// The connection callbacks (response, data, finish, failure) run on the network thread (or on the
// URL loading thread, see deliversOnLoadingThread); progress blocks run on the main queue; the completion
// block runs once, off the main thread, when the operation finishes (also when it was cancelled before it
// started).
//
//   auto op = ns::make<HTTPRequestOperation>(request);
//   op->setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append(path, false));
//   op->setDownloadProgressBlock([](long bytes, long long read, long long expected) { ... });
//   op->start();
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/Stream.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/runloop/Thread.h"

class URLConnectionOperation : public ns::Operation, public ns::URLConnectionDelegate {
 public:
  // (bytes in this chunk, bytes read since the current response began, that response's expected
  // length or -1 when unknown)
  using ProgressBlock =
      std::function<void(long bytes, long long totalBytesRead, long long totalBytesExpected)>;

  explicit URLConnectionOperation(ns::Ref<ns::URLRequest> request);
  ~URLConnectionOperation() override;
  static ns::Ref<URLConnectionOperation> initWithRequest(const ns::Ref<ns::URLRequest>& request);

  // The thread every operation's connection runs on, made on first use and stopped and joined at
  // exit.
  static ns::Ref<ns::Thread> networkRequestThread();

  // ns::Operation, as a concurrent operation.
  void start() override;
  void cancel() override;
  bool isReady() const override;
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isConcurrent() const override { return true; }
  bool isPaused() const;

  // Cancels the running connection and closes the output stream; returns once the network thread
  // has done so, so nothing more is written to the stream after it returns. Does nothing to a
  // paused, finished or cancelled operation.
  void pause();
  // Starts a paused operation again with its (possibly changed) request; does nothing otherwise.
  void resume();

  ns::Ref<ns::URLRequest> request() const;
  void setRequest(const ns::Ref<ns::URLRequest>& request);
  ns::Ref<ns::URLResponse> response() const;
  // The transfer error (a failed or cancelled load, or a failed write to the output stream).
  virtual std::optional<ns::Error> error() const;
  // The body received, when it went to memory (nothing with a file output stream).
  std::optional<ns::Data> responseData() const;

  ns::Ref<ns::OutputStream> outputStream() const;
  // Replaces the stream (closing the old one); the new one is opened when a response arrives, or
  // by the caller when it replaces the stream during the response callback.
  void setOutputStream(const ns::Ref<ns::OutputStream>& stream);
  void setDownloadProgressBlock(ProgressBlock block);

  // ns::URLConnectionDelegate, on the network thread. Subclasses call these first.
  // Stores the response and opens the output stream.
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override;
  // Writes the chunk (a failed write cancels the connection with the stream's error), then
  // queues the byte count and the progress block on the main queue.
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection, const ns::Data& data) override;
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override;
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override;

  std::string className() const override { return "URLConnectionOperation"; }

 protected:
  // The operation's own lock, guarding its state; held around the callbacks' work.
  std::recursive_mutex& lock() const { return lock_; }
  // Whether the body of this response may go to the output stream; a body that may not is kept in
  // memory (for the error) and the output stream is left untouched.
  virtual bool acceptsResponseBody(const ns::Ref<ns::URLResponse>& response) const { return true; }
  // The bytes kept in memory for a response whose body did not go to the output stream.
  std::optional<ns::Data> refusedResponseData() const;
  // Whether the connection's callbacks run on the URL loading thread, right where each piece of
  // the body arrived, instead of on the network thread. A body written to a file is then written
  // from memory that is still in this core's cache, and no piece waits for another thread to be
  // scheduled: over a fast link the hand-over cost more than the download. The callbacks must
  // then be quick (a buffered file write is).
  virtual bool deliversOnLoadingThread() const { return false; }
  // Whether `connection` is still the operation's own (not let go of by a pause, a cancel or a
  // failed write). Call with lock() held.
  bool isCurrentConnection(const ns::Ref<ns::URLConnection>& connection) const {
    return connection_ == connection;
  }

 private:
  enum class State { Paused, Ready, Executing, Finished };
  class Forwarder;
  friend class Forwarder;

  // Network thread only.
  void operationDidStart();
  void cancelConnection();
  void finish();
  bool isCurrentConnection(std::uint64_t generation) const;

  void pauseConnection();
  // Sets the state and announces the keys that changed (outside the lock); false when the
  // change is not allowed from the current state.
  bool setState(State state);
  static bool transitionAllowed(State from, State to);

  mutable std::recursive_mutex lock_;
  State state_ = State::Ready;
  ns::Ref<ns::URLRequest> request_;
  ns::Ref<ns::URLResponse> response_;
  std::optional<ns::Error> error_;
  std::optional<ns::Data> responseData_;
  ns::Ref<ns::OutputStream> outputStream_;
  // Where the current response's body goes: the output stream, or memory for a refused response.
  ns::Ref<ns::OutputStream> refusedBody_;
  // Bytes of the refused body kept so far; the rest of a large error page is dropped.
  std::size_t refusedBodyLength_ = 0;
  bool writesToOutputStream_ = true;
  // The output stream is the operation's own memory stream (not the caller's).
  bool ownsOutputStream_ = true;
  ProgressBlock progressBlock_;
  long long totalBytesRead_ = 0;
  ns::Ref<ns::URLConnection> connection_;
  // Bumped on the network thread whenever a connection is let go of: callbacks still on their way
  // from it carry an older number and are dropped.
  std::uint64_t generation_ = 0;
};
