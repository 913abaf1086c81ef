#include "platform/net/URLConnection.h"

#include <condition_variable>
#include <map>

#include "platform/net/HTTPText.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingEngine.h"

#include "platform/dispatch/Queue.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runloop/RunLoop.h"

namespace ns {

void URLConnectionDelegate::connection_willSendRequestForAuthenticationChallenge(
    const Ref<URLConnection>& connection, const Ref<URLAuthenticationChallenge>& challenge) {
  if (auto sender = challenge->sender()) sender->performDefaultHandlingForAuthenticationChallenge(challenge);
}

URLConnection::URLConnection(Ref<URLRequest> request, Ref<URLConnectionDelegate> delegate)
    : originalRequest_(std::move(request)), delegate_(std::move(delegate)) {}

URLConnection::~URLConnection() = default;

Ref<URLConnection> URLConnection::initWithRequest_delegate_startImmediately(
    const Ref<URLRequest>& request, Ref<URLConnectionDelegate> delegate, bool startImmediately) {
  if (!request || !request->URL()) return nullptr;
  if (!delegate) delegate = std::make_shared<URLConnectionDelegate>();
  auto connection = make<URLConnection>(request->copy(), std::move(delegate));
  if (startImmediately) connection->start();
  return connection;
}

Ref<URLConnection> URLConnection::connectionWithRequest_delegate(const Ref<URLRequest>& request,
                                                                 Ref<URLConnectionDelegate> delegate) {
  return initWithRequest_delegate_startImmediately(request, std::move(delegate), true);
}

bool URLConnection::canHandleRequest(const Ref<URLRequest>& request) {
  if (!request || !request->URL()) return false;
  std::string scheme = httptext::lower(request->URL()->scheme().value_or(""));
  return scheme == "http" || scheme == "https" || scheme == "file";
}

void URLConnection::scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  if (!runLoop) return;
  std::lock_guard lock(mutex_);
  for (const auto& s : schedules_)
    if (s.first == runLoop && s.second == mode) return;
  schedules_.emplace_back(runLoop, mode);
  // The next event is delivered in the new place too.
  drainPending_ = false;
}

void URLConnection::unscheduleFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  std::lock_guard lock(mutex_);
  std::erase_if(schedules_, [&](const auto& s) { return s.first == runLoop && s.second == mode; });
}

void URLConnection::setDelegateQueue(Executor executor) {
  std::lock_guard lock(mutex_);
  executor_ = std::move(executor);
}

void URLConnection::setDelegateQueue(const Ref<dispatch::Queue>& queue) {
  if (!queue) {
    setDelegateQueue(Executor());
    return;
  }
  setDelegateQueue([queue](std::function<void()> block) { dispatch::async(queue, std::move(block)); });
}

void URLConnection::setDelegateQueue(const Ref<OperationQueue>& queue) {
  if (!queue) {
    setDelegateQueue(Executor());
    return;
  }
  setDelegateQueue([queue](std::function<void()> block) { queue->addOperationWithBlock(std::move(block)); });
}

void URLConnection::start() {
  {
    std::lock_guard lock(mutex_);
    if (started_ || cancelled_) return;
    started_ = true;
    if (!executor_ && schedules_.empty())
      schedules_.emplace_back(RunLoop::currentRunLoop(), DefaultRunLoopMode);
  }
  auto load = URLLoadingEngine::makeLoad(self<URLConnection>(), originalRequest_, false);
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    load_ = load;
  }
  URLLoadingEngine::beginLoad(load);
}

void URLConnection::cancel() {
  std::shared_ptr<URLLoad> load;
  Ref<URLConnectionDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    events_.clear();
    load = std::move(load_);
    delegate = std::move(delegate_);  // released outside the lock
  }
  URLLoadingEngine::cancelLoad(load);
}

Ref<URLRequest> URLConnection::currentRequest() const {
  std::lock_guard lock(mutex_);
  if (load_) return URLLoadingEngine::currentRequest(load_);
  return originalRequest_;
}

Ref<URLConnectionDelegate> URLConnection::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void URLConnection::setDelegate(Ref<URLConnectionDelegate> delegate) {
  std::lock_guard lock(mutex_);
  if (started_ || cancelled_) return;
  delegate_ = delegate ? std::move(delegate) : std::make_shared<URLConnectionDelegate>();
}

void URLConnection::post(Event event, bool final, std::size_t bodyBytes) {
  Executor executor;
  std::vector<std::pair<Ref<RunLoop>, std::vector<std::string>>> loops;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    events_.push_back(Queued{std::move(event), final, bodyBytes});
    queuedBodyBytes_ += bodyBytes;
    // One queued drain delivers every event posted before it runs: a fast transfer must not
    // queue a block per piece of its body.
    if (drainPending_) return;
    executor = executor_;
    for (const auto& schedule : schedules_) {
      const auto& loop = schedule.first;
      const auto& mode = schedule.second;
      auto it = std::find_if(loops.begin(), loops.end(), [&](const auto& l) { return l.first == loop; });
      if (it == loops.end())
        loops.emplace_back(loop, std::vector<std::string>{mode});
      else
        it->second.push_back(mode);
    }
    drainPending_ = executor || !loops.empty();
  }
  // Each delivery drains the queue in order, so whichever runs first does the work. It keeps the
  // connection alive until then: the engine lets go of it as soon as the load ends.
  Ref<URLConnection> strong = self<URLConnection>();
  auto drainer = [strong] { strong->drain(); };
  if (executor) {
    executor(drainer);
    return;
  }
  for (const auto& [loop, modes] : loops) loop->performInModes_block(modes, drainer);
}

void URLConnection::drain() {
  Ref<URLConnection> keep = self<URLConnection>();
  std::unique_lock lock(mutex_);
  drainPending_ = false;
  if (draining_) return;
  draining_ = true;
  while (!events_.empty() && !cancelled_) {
    auto [event, final, bodyBytes] = std::move(events_.front());
    events_.pop_front();
    Ref<URLConnectionDelegate> delegate = delegate_;
    // The connection keeps its delegate only until the final callback.
    if (final) delegate_ = nullptr;
    lock.unlock();
    if (delegate) event(keep, delegate);
    delegate = nullptr;
    std::size_t before = queuedBodyBytes_.fetch_sub(bodyBytes);
    // A transfer held back for its delegate may go on.
    if (before >= kResumeQueuedBodyBytes && before - bodyBytes < kResumeQueuedBodyBytes)
      URLLoadingEngine::resumeHeldTransfers();
    lock.lock();
  }
  draining_ = false;
}

std::shared_ptr<URLLoad> URLConnection::load() const {
  std::lock_guard lock(mutex_);
  return load_;
}

void URLConnection::useCredential_forAuthenticationChallenge(
    const Ref<URLCredential>& credential, const Ref<URLAuthenticationChallenge>& challenge) {
  URLLoadingEngine::answerChallenge(load(), challenge.get(), URLLoadingEngine::ChallengeAnswer::UseCredential,
                                    credential);
}

void URLConnection::continueWithoutCredentialForAuthenticationChallenge(
    const Ref<URLAuthenticationChallenge>& challenge) {
  URLLoadingEngine::answerChallenge(load(), challenge.get(),
                                    URLLoadingEngine::ChallengeAnswer::ContinueWithout, nullptr);
}

void URLConnection::cancelAuthenticationChallenge(const Ref<URLAuthenticationChallenge>& challenge) {
  URLLoadingEngine::answerChallenge(load(), challenge.get(), URLLoadingEngine::ChallengeAnswer::Cancel,
                                    nullptr);
}

void URLConnection::performDefaultHandlingForAuthenticationChallenge(
    const Ref<URLAuthenticationChallenge>& challenge) {
  URLLoadingEngine::answerChallenge(load(), challenge.get(),
                                    URLLoadingEngine::ChallengeAnswer::DefaultHandling, nullptr);
}

void URLConnection::rejectProtectionSpaceAndContinueWithChallenge(
    const Ref<URLAuthenticationChallenge>& challenge) {
  URLLoadingEngine::answerChallenge(load(), challenge.get(), URLLoadingEngine::ChallengeAnswer::RejectSpace,
                                    nullptr);
}

namespace {

// Collects a whole load for the synchronous and completion-handler forms.
class CollectingDelegate : public URLConnectionDelegate {
 public:
  using Done =
      std::function<void(const Ref<URLResponse>&, const std::optional<Data>&, const std::optional<Error>&)>;
  explicit CollectingDelegate(Done done) : done_(std::move(done)) {}
  void connection_didReceiveResponse(const Ref<URLConnection>&, const Ref<URLResponse>& response) override {
    response_ = response;
    body_ = MutableData();
  }
  void connection_didReceiveData(const Ref<URLConnection>&, const Data& data) override {
    body_.appendData(data);
  }
  void connectionDidFinishLoading(const Ref<URLConnection>&) override {
    done_(response_, body_.copy(), std::nullopt);
  }
  void connection_didFailWithError(const Ref<URLConnection>&, const Error& error) override {
    done_(response_, std::nullopt, error);
  }

 private:
  Done done_;
  Ref<URLResponse> response_;
  MutableData body_;
};

}  // namespace

std::optional<Data> URLConnection::sendSynchronousRequest_returningResponse_error(
    const Ref<URLRequest>& request, Ref<URLResponse>* response, Error* error) {
  if (!request || !request->URL()) {
    setError(error, makeURLError(URLErrorBadURL, request ? request->URL() : nullptr));
    return std::nullopt;
  }
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    Ref<URLResponse> response;
    std::optional<Data> body;
    std::optional<Error> error;
  };
  auto state = std::make_shared<State>();
  auto delegate = std::make_shared<CollectingDelegate>(
      [state](const Ref<URLResponse>& r, const std::optional<Data>& body, const std::optional<Error>& e) {
        std::lock_guard lock(state->mutex);
        state->response = r;
        state->body = body;
        state->error = e;
        state->done = true;
        state->cv.notify_all();
      });
  auto connection = make<URLConnection>(request->copy(), delegate);
  // Callbacks run right where the engine produces them; this thread only waits.
  connection->setDelegateQueue([](std::function<void()> block) { block(); });
  {
    std::lock_guard lock(connection->mutex_);
    connection->started_ = true;
  }
  auto load = URLLoadingEngine::makeLoad(connection, connection->originalRequest_, true);
  {
    std::lock_guard lock(connection->mutex_);
    connection->load_ = load;
  }
  URLLoadingEngine::beginLoad(load);
  std::unique_lock lock(state->mutex);
  state->cv.wait(lock, [&] { return state->done; });
  if (response) *response = state->response;
  if (state->error) setError(error, *state->error);
  return state->body;
}

void URLConnection::sendAsynchronousRequest_queue_completionHandler(const Ref<URLRequest>& request,
                                                                    Executor queue,
                                                                    CompletionHandler handler) {
  auto delegate = std::make_shared<CollectingDelegate>(
      [handler](const Ref<URLResponse>& r, const std::optional<Data>& body, const std::optional<Error>& e) {
        if (handler) handler(r, body, e);
      });
  auto connection = initWithRequest_delegate_startImmediately(request, delegate, false);
  if (!connection) {
    if (handler && queue)
      queue([handler, request] {
        handler(nullptr, std::nullopt, makeURLError(URLErrorBadURL, request ? request->URL() : nullptr));
      });
    return;
  }
  connection->setDelegateQueue(std::move(queue));
  connection->start();
}

}  // namespace ns
