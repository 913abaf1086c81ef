#pragma once
// Asynchronous URL loading over libcurl. One engine thread serves every connection of the
// process; delegate callbacks come on the run loop and modes a connection is scheduled in, or on
// its delegate queue, one at a time and in order:
//
//   will-send-request (first for the request itself, then for each redirect), authentication
//   challenges, response, data... (as it arrives), sent-body progress, and then exactly one of
//   finish or fail.
//
// cancel() stops every further callback, also one already on its way. A connection that has not
// been started (or scheduled) never calls back. The connection keeps its delegate until it has
// finished, failed or been cancelled.
//
//   auto conn = ns::URLConnection::connectionWithRequest_delegate(request, delegate); // current run loop
//
//   auto conn = ns::URLConnection::initWithRequest_delegate_startImmediately(request, delegate, false);
//   conn->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
//   conn->start();
//
// Failures are NSURLErrorDomain errors with the platform's codes (URLErrorCodes.h). Time-outs are
// idle time-outs on ns::Clock (the request's timeoutInterval without a byte moving), so tests
// drive them with the virtual clock.
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace dispatch {
class Queue;
}

namespace ns {

class OperationQueue;
class RunLoop;
class URLConnection;
struct URLLoad;

class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  // Called before each request goes out: first with no redirect response, then for each
  // redirect with the proposed request. Answer the request to send (the proposed one, a changed
  // copy) or nullptr to stop: the redirect response then counts as the final response.
  virtual Ref<URLRequest> connection_willSendRequest_redirectResponse(
      const Ref<URLConnection>& connection, const Ref<URLRequest>& request,
      const Ref<URLResponse>& redirectResponse) {
    return request;
  }
  // The default performs the default handling: a server whose certificate cannot be verified
  // fails the load (-1202); basic/digest credentials come from the URL's user and password, at
  // most once, else the 401 response is delivered.
  virtual void connection_willSendRequestForAuthenticationChallenge(
      const Ref<URLConnection>& connection, const Ref<URLAuthenticationChallenge>& challenge);
  virtual void connection_didReceiveResponse(const Ref<URLConnection>& connection,
                                             const Ref<URLResponse>& response) {}
  virtual void connection_didReceiveData(const Ref<URLConnection>& connection, const Data& data) {}
  virtual void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      const Ref<URLConnection>& connection, long bytesWritten, long totalBytesWritten,
      long totalBytesExpectedToWrite) {}
  virtual void connectionDidFinishLoading(const Ref<URLConnection>& connection) {}
  virtual void connection_didFailWithError(const Ref<URLConnection>& connection, const Error& error) {}
};

class URLConnection : public Object, public URLAuthenticationChallengeSender {
 public:
  // Runs a block on the thread or queue of the caller's choice (a delegate queue).
  using Executor = std::function<void(std::function<void()>)>;

  // Started at once, scheduled in the current run loop's default mode; nullptr for a null
  // request or URL.
  static Ref<URLConnection> connectionWithRequest_delegate(const Ref<URLRequest>& request,
                                                           Ref<URLConnectionDelegate> delegate);
  static Ref<URLConnection> initWithRequest_delegate(const Ref<URLRequest>& request,
                                                     Ref<URLConnectionDelegate> delegate) {
    return connectionWithRequest_delegate(request, std::move(delegate));
  }
  static Ref<URLConnection> initWithRequest_delegate_startImmediately(const Ref<URLRequest>& request,
                                                                      Ref<URLConnectionDelegate> delegate,
                                                                      bool startImmediately);

  // Loads the request and blocks until it ends. Redirects are followed; challenges get the default
  // handling. Answers the body, or nothing with *error set.
  static std::optional<Data> sendSynchronousRequest_returningResponse_error(const Ref<URLRequest>& request,
                                                                            Ref<URLResponse>* response,
                                                                            Error* error);
  // Answers on the queue with the response, the body (nothing on failure) and the error.
  using CompletionHandler =
      std::function<void(const Ref<URLResponse>&, const std::optional<Data>&, const std::optional<Error>&)>;
  static void sendAsynchronousRequest_queue_completionHandler(const Ref<URLRequest>& request, Executor queue,
                                                              CompletionHandler handler);

  static bool canHandleRequest(const Ref<URLRequest>& request);

  // Scheduling must happen before start; several modes (and run loops) may be named.
  void scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);
  void unscheduleFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);
  // Delivers callbacks through `executor` instead of a run loop.
  void setDelegateQueue(Executor executor);
  void setDelegateQueue(const Ref<dispatch::Queue>& queue);
  void setDelegateQueue(const Ref<OperationQueue>& queue);

  // Starts loading; without scheduling the connection is scheduled in the current run loop's
  // default mode. A second start does nothing.
  void start();
  void cancel();

  const Ref<URLRequest>& originalRequest() const { return originalRequest_; }
  // The request being loaded (after redirects).
  Ref<URLRequest> currentRequest() const;
  Ref<URLConnectionDelegate> delegate() const;
  // Replaces the delegate of a connection that has not started (later calls do nothing), for
  // wrappers that put their own delegate between the connection and its user.
  void setDelegate(Ref<URLConnectionDelegate> delegate);

  // URLAuthenticationChallengeSender
  void useCredential_forAuthenticationChallenge(const Ref<URLCredential>& credential,
                                                const Ref<URLAuthenticationChallenge>& challenge) override;
  void continueWithoutCredentialForAuthenticationChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) override;
  void cancelAuthenticationChallenge(const Ref<URLAuthenticationChallenge>& challenge) override;
  void performDefaultHandlingForAuthenticationChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) override;
  void rejectProtectionSpaceAndContinueWithChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) override;

  std::string className() const override { return "NSURLConnection"; }

  URLConnection(Ref<URLRequest> request, Ref<URLConnectionDelegate> delegate);
  ~URLConnection() override;

  // Used by the engine: queue a delegate callback; after the final one (finish or fail) the
  // connection lets go of its delegate.
  using Event = std::function<void(const Ref<URLConnection>&, const Ref<URLConnectionDelegate>&)>;
  // `bodyBytes`: the bytes of body the event delivers, counted until it is delivered.
  void post(Event event, bool final = false, std::size_t bodyBytes = 0);
  // Body bytes received and not yet delivered. The engine holds a transfer back while this is
  // at kMaxQueuedBodyBytes, and goes on once delivery brought it below kResumeQueuedBodyBytes, so
  // that a transfer faster than its delegate does not pile up in memory (a local file is read
  // whole: it is not held back).
  std::size_t queuedBodyBytes() const { return queuedBodyBytes_; }
  static constexpr std::size_t kMaxQueuedBodyBytes = 4 << 20;
  static constexpr std::size_t kResumeQueuedBodyBytes = 1 << 20;

 private:
  void drain();
  std::shared_ptr<URLLoad> load() const;

  Ref<URLRequest> originalRequest_;
  mutable std::mutex mutex_;
  Ref<URLConnectionDelegate> delegate_;
  std::vector<std::pair<Ref<RunLoop>, std::string>> schedules_;
  Executor executor_;
  bool started_ = false;
  std::atomic<bool> cancelled_{false};
  struct Queued {
    Event event;
    bool final;
    std::size_t bodyBytes;
  };
  std::deque<Queued> events_;
  std::atomic<std::size_t> queuedBodyBytes_{0};
  bool draining_ = false;
  // A drain is queued and has not begun: events posted meanwhile ride on it.
  bool drainPending_ = false;
  std::shared_ptr<URLLoad> load_;
};

}  // namespace ns
