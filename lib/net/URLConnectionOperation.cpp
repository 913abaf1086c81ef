#include "lib/net/URLConnectionOperation.h"

#include <cassert>
#include <cerrno>
#include <cstdlib>

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runloop/RunLoop.h"

namespace {

// How much of a refused reply's body is kept for its error.
constexpr std::size_t kRefusedBodyLimit = 64 * 1024;

ns::Ref<ns::Thread>& networkThreadHolder() {
  static ns::NoDestructor<ns::Ref<ns::Thread>> holder;
  return *holder;
}

void stopNetworkThread() {
  auto& thread = networkThreadHolder();
  if (!thread) return;
  thread->cancel();
  // Until the thread has ended: as it exits it releases the crypto library's per-thread state,
  // which must not overlap that library's own exit handler (it runs after this one).
  thread->waitUntilEnded(10);
}

void runOnNetworkThread(std::function<void()> block, bool wait) {
  ns::Thread::performOnThread(URLConnectionOperation::networkRequestThread(),
                              ns::PerformRequest{nullptr, "", nullptr, std::move(block)}, wait);
}

// Writes all of `data`; false when the stream refuses part of it.
[[maybe_unused]] bool onNetworkThread() {
  return ns::Thread::currentThread() == URLConnectionOperation::networkRequestThread();
}

bool writeAll(const ns::Ref<ns::OutputStream>& stream, const ns::Data& data) {
  std::size_t done = 0;
  while (done < data.length()) {
    long n = stream->write_maxLength(data.bytes() + done, data.length() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<ns::Data> memoryContents(const ns::Ref<ns::OutputStream>& stream) {
  if (!stream) return std::nullopt;
  ns::Value value = stream->propertyForKey(ns::NSStreamDataWrittenToMemoryStreamKey);
  if (!value.isData()) return std::nullopt;
  return value.data();
}

}  // namespace

// Stands between one connection and the operation, so that callbacks of a connection the
// operation has let go of (paused, cancelled, failed writing) are dropped even when they were
// already on their way.
class URLConnectionOperation::Forwarder : public ns::URLConnectionDelegate {
 public:
  Forwarder(ns::Ref<URLConnectionOperation> operation, std::uint64_t generation)
      : operation_(std::move(operation)), generation_(generation) {}

  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(
      const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLRequest>& request,
      const ns::Ref<ns::URLResponse>& redirectResponse) override {
    if (!current()) return nullptr;
    return operation_->connection_willSendRequest_redirectResponse(connection, request, redirectResponse);
  }
  void connection_willSendRequestForAuthenticationChallenge(
      const ns::Ref<ns::URLConnection>& connection,
      const ns::Ref<ns::URLAuthenticationChallenge>& challenge) override {
    if (current()) operation_->connection_willSendRequestForAuthenticationChallenge(connection, challenge);
  }
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override {
    if (current()) operation_->connection_didReceiveResponse(connection, response);
  }
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                 const ns::Data& data) override {
    if (current()) operation_->connection_didReceiveData(connection, data);
  }
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override {
    if (current()) operation_->connectionDidFinishLoading(connection);
  }
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override {
    if (current()) operation_->connection_didFailWithError(connection, error);
  }

 private:
  bool current() const { return operation_->isCurrentConnection(generation_); }

  ns::Ref<URLConnectionOperation> operation_;
  std::uint64_t generation_;
};

URLConnectionOperation::URLConnectionOperation(ns::Ref<ns::URLRequest> request)
    : request_(std::move(request)), outputStream_(ns::OutputStream::outputStreamToMemory()) {}

URLConnectionOperation::~URLConnectionOperation() {
  if (connection_) connection_->cancel();
  if (outputStream_) outputStream_->close();
}

ns::Ref<URLConnectionOperation> URLConnectionOperation::initWithRequest(
    const ns::Ref<ns::URLRequest>& request) {
  return ns::make<URLConnectionOperation>(request);
}

ns::Ref<ns::Thread> URLConnectionOperation::networkRequestThread() {
  static std::once_flag once;
  std::call_once(once, [] {
    networkThreadHolder() = ns::Thread::detachNewThreadWithRunLoop("Networking");
    std::atexit(stopNetworkThread);
  });
  return networkThreadHolder();
}

// ---- state ----

bool URLConnectionOperation::transitionAllowed(State from, State to) {
  switch (from) {
    case State::Ready:
      return to == State::Executing || to == State::Paused;
    case State::Executing:
      return to == State::Paused || to == State::Finished;
    case State::Paused:
      // A paused operation that is cancelled has no connection left to end: it finishes at once.
      return to == State::Ready || to == State::Finished;
    case State::Finished:
      return false;
  }
  return false;
}

bool URLConnectionOperation::setState(State state) {
  State old;
  {
    std::lock_guard guard(lock_);
    if (!transitionAllowed(state_, state)) return false;
    old = state_;
    state_ = state;
  }
  if (old == State::Ready || state == State::Ready) didChangeValueForKey("isReady");
  if (old == State::Executing || state == State::Executing) didChangeValueForKey("isExecuting");
  if (state == State::Finished) didChangeValueForKey("isFinished");
  return true;
}

bool URLConnectionOperation::isReady() const {
  {
    std::lock_guard guard(lock_);
    if (state_ != State::Ready) return false;
  }
  return Operation::isReady();
}

bool URLConnectionOperation::isExecuting() const {
  std::lock_guard guard(lock_);
  return state_ == State::Executing;
}

bool URLConnectionOperation::isFinished() const {
  std::lock_guard guard(lock_);
  return state_ == State::Finished;
}

bool URLConnectionOperation::isPaused() const {
  std::lock_guard guard(lock_);
  return state_ == State::Paused;
}

bool URLConnectionOperation::isCurrentConnection(std::uint64_t generation) const {
  std::lock_guard guard(lock_);
  return generation == generation_;
}

// ---- control ----

void URLConnectionOperation::start() {
  if (!isReady()) return;
  if (!setState(State::Executing)) return;
  auto self = this->self<URLConnectionOperation>();
  runOnNetworkThread([self] { self->operationDidStart(); }, false);
}

void URLConnectionOperation::operationDidStart() {
  assert(onNetworkThread());
  if (isCancelled()) {
    cancelConnection();
    return;
  }
  ns::Ref<ns::URLRequest> request;
  std::uint64_t generation;
  {
    std::lock_guard guard(lock_);
    if (state_ != State::Executing || connection_) return;
    request = request_;
    generation = generation_;
  }
  auto forwarder = std::make_shared<Forwarder>(self<URLConnectionOperation>(), generation);
  auto connection = ns::URLConnection::initWithRequest_delegate_startImmediately(request, forwarder, false);
  if (!connection) {
    {
      std::lock_guard guard(lock_);
      error_ = ns::makeURLError(ns::URLErrorBadURL, request ? request->URL() : nullptr);
    }
    finish();
    return;
  }
  if (deliversOnLoadingThread())
    connection->setDelegateQueue([](std::function<void()> block) { block(); });
  else
    connection->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
  {
    std::lock_guard guard(lock_);
    connection_ = connection;
  }
  connection->start();
}

void URLConnectionOperation::cancel() {
  if (isFinished() || isCancelled()) return;
  Operation::cancel();
  State state;
  {
    std::lock_guard guard(lock_);
    state = state_;
  }
  if (state == State::Executing) {
    auto self = this->self<URLConnectionOperation>();
    runOnNetworkThread([self] { self->cancelConnection(); }, false);
  } else if (state == State::Paused) {
    setState(State::Finished);
  }
}

void URLConnectionOperation::cancelConnection() {
  assert(onNetworkThread());
  ns::Ref<ns::URLConnection> connection;
  ns::Ref<ns::URLRequest> request;
  {
    std::lock_guard guard(lock_);
    if (state_ == State::Finished) return;
    connection = std::move(connection_);
    connection_ = nullptr;
    request = request_;
    ++generation_;
  }
  if (!connection) {
    finish();
    return;
  }
  connection->cancel();
  // Through the delegate method, so that subclasses see the end of the load.
  connection_didFailWithError(connection,
                              ns::makeURLError(ns::URLErrorCancelled, request ? request->URL() : nullptr));
}

void URLConnectionOperation::pause() {
  State state;
  {
    std::lock_guard guard(lock_);
    state = state_;
  }
  if (state == State::Paused || state == State::Finished || isCancelled()) return;
  if (state == State::Executing) {
    auto self = this->self<URLConnectionOperation>();
    runOnNetworkThread([self] { self->pauseConnection(); }, true);
  } else {
    setState(State::Paused);
  }
}

void URLConnectionOperation::pauseConnection() {
  assert(onNetworkThread());
  ns::Ref<ns::URLConnection> connection;
  {
    std::lock_guard guard(lock_);
    if (state_ != State::Executing) return;
    connection = std::move(connection_);
    connection_ = nullptr;
    ++generation_;
    if (outputStream_) outputStream_->close();
    if (refusedBody_) refusedBody_->close();
  }
  if (connection) connection->cancel();
  setState(State::Paused);
}

void URLConnectionOperation::resume() {
  if (!isPaused()) return;
  if (!setState(State::Ready)) return;
  start();
}

void URLConnectionOperation::finish() {
  setState(State::Finished);
}

// ---- properties ----

ns::Ref<ns::URLRequest> URLConnectionOperation::request() const {
  std::lock_guard guard(lock_);
  return request_;
}

void URLConnectionOperation::setRequest(const ns::Ref<ns::URLRequest>& request) {
  std::lock_guard guard(lock_);
  request_ = request;
}

ns::Ref<ns::URLResponse> URLConnectionOperation::response() const {
  std::lock_guard guard(lock_);
  return response_;
}

std::optional<ns::Error> URLConnectionOperation::error() const {
  std::lock_guard guard(lock_);
  return error_;
}

std::optional<ns::Data> URLConnectionOperation::responseData() const {
  std::lock_guard guard(lock_);
  return responseData_;
}

std::optional<ns::Data> URLConnectionOperation::refusedResponseData() const {
  std::lock_guard guard(lock_);
  return memoryContents(refusedBody_);
}

ns::Ref<ns::OutputStream> URLConnectionOperation::outputStream() const {
  std::lock_guard guard(lock_);
  return outputStream_;
}

void URLConnectionOperation::setOutputStream(const ns::Ref<ns::OutputStream>& stream) {
  std::lock_guard guard(lock_);
  if (stream == outputStream_) return;
  if (outputStream_) outputStream_->close();
  outputStream_ = stream;
  ownsOutputStream_ = false;
}

void URLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
  std::lock_guard guard(lock_);
  progressBlock_ = std::move(block);
}

// ---- connection callbacks (network thread) ----

void URLConnectionOperation::connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                                           const ns::Ref<ns::URLResponse>& response) {
  std::lock_guard guard(lock_);
  if (!isCurrentConnection(connection)) return;
  response_ = response;
  totalBytesRead_ = 0;
  writesToOutputStream_ = acceptsResponseBody(response);
  if (writesToOutputStream_) {
    // The operation's own memory stream closed by a pause starts afresh with the new response.
    if (!outputStream_ || (ownsOutputStream_ && outputStream_->streamStatus() == ns::StreamStatusClosed)) {
      outputStream_ = ns::OutputStream::outputStreamToMemory();
      ownsOutputStream_ = true;
    }
    outputStream_->open();
  } else {
    refusedBody_ = ns::OutputStream::outputStreamToMemory();
    refusedBody_->open();
    refusedBodyLength_ = 0;
  }
}

void URLConnectionOperation::connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection,
                                                       const ns::Data& data) {
  ProgressBlock block;
  long long total = 0;
  long long expected = 0;
  std::optional<ns::Error> failure;
  {
    // Held through the write, so that a pause or a cancel on another thread waits for a write
    // under way and nothing reaches the stream after it.
    std::unique_lock guard(lock_);
    if (!isCurrentConnection(connection)) return;
    bool toOutputStream = writesToOutputStream_;
    ns::Ref<ns::OutputStream> target = toOutputStream ? outputStream_ : refusedBody_;
    ns::Data piece = data;
    if (!toOutputStream) {
      // A refused body only illustrates the error: the start of it is kept, never a whole
      // download a server sent with the wrong status.
      std::size_t room = kRefusedBodyLimit - std::min(refusedBodyLength_, kRefusedBodyLimit);
      if (piece.length() > room) piece = piece.subdata(0, room);
      refusedBodyLength_ += piece.length();
    }
    if (!target || (piece.length() > 0 && !writeAll(target, piece))) {
      std::optional<ns::Error> streamError = target ? target->streamError() : std::nullopt;
      failure = streamError ? *streamError : ns::Error::posix(EBADF);
      connection_ = nullptr;
      ++generation_;
    } else if (!toOutputStream) {
      // A refused body is no part of the download: it is kept for the error only.
      return;
    } else {
      totalBytesRead_ += static_cast<long long>(data.length());
      total = totalBytesRead_;
      expected = response_ ? response_->expectedContentLength() : ns::URLResponseUnknownLength;
      block = progressBlock_;
    }
  }
  if (failure) {
    connection->cancel();
    connection_didFailWithError(connection, *failure);
    return;
  }
  if (block) {
    long bytes = static_cast<long>(data.length());
    dispatch::async(dispatch::mainQueue(),
                    [block, bytes, total, expected] { block(bytes, total, expected); });
  }
}

void URLConnectionOperation::connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) {
  {
    std::lock_guard guard(lock_);
    // Let go of by a pause while its end was on the way (callbacks on the loading thread).
    if (!isCurrentConnection(connection)) return;
    if (writesToOutputStream_) responseData_ = memoryContents(outputStream_);
    if (outputStream_) outputStream_->close();
    if (refusedBody_) refusedBody_->close();
    connection_ = nullptr;
  }
  finish();
}

void URLConnectionOperation::connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                                         const ns::Error& error) {
  {
    std::lock_guard guard(lock_);
    // A paused operation's connection was let go of: its failure on the way is no failure.
    if (state_ == State::Paused) return;
    error_ = error;
    if (outputStream_) outputStream_->close();
    if (refusedBody_) refusedBody_->close();
    connection_ = nullptr;
  }
  finish();
}
