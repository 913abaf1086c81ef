// A load whose host name is still being looked up when it ends must not hold up the loading
// engine: on a machine whose name server does not answer, a lookup lasts the resolver's whole
// time-out, and every other load waited for it. This executable defines getaddrinfo, which comes
// before the C library's for every caller in the process; names under "slow-lookup.test" block
// in it until the test lets them go, all others go on to the next definition.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "platform/net/URLConnection.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/ManualQueue.h"
#include "tests/platform/net/RecordingDelegate.h"

namespace {

struct SlowLookups {
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  bool released = false;
  std::function<void()> onStart;  // wakes whoever waits for the lookup

  void enter() {
    std::unique_lock lock(mutex);
    ++started;
    if (onStart) onStart();
    // Bounded, so that a failing test cannot leave the process with a thread blocked for ever.
    changed.wait_for(lock, std::chrono::seconds(60), [&] { return released; });
  }
  bool hasStarted() {
    std::lock_guard lock(mutex);
    return started > 0;
  }
  void setOnStart(std::function<void()> block) {
    std::lock_guard lock(mutex);
    onStart = std::move(block);
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

SlowLookups& slowLookups() {
  static auto* lookups = new SlowLookups;
  return *lookups;
}

bool isSlowName(const char* node) {
  static const std::string suffix = ".slow-lookup.test";
  const std::size_t length = node ? std::strlen(node) : 0;
  return length >= suffix.size() && suffix == node + length - suffix.size();
}

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
  using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (isSlowName(node)) {
    slowLookups().enter();
    return EAI_NONAME;
  }
  return next(node, service, hints, result);
}

namespace {

struct LookupLoad {
  pltest::ManualQueue queue;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  ns::Ref<ns::URLConnection> connection;

  explicit LookupLoad(const std::string& url) {
    connection =
        ns::URLConnection::initWithRequest_delegate_startImmediately(requestFor(url), delegate, false);
    connection->setDelegateQueue(queue.executor());
    connection->start();
  }
};

TEST(NameLookup, ALoadEndedWhileItsNameIsLookedUpDoesNotHoldUpTheOthers) {
  // The lookup must reach the resolver, which is the one above: no real name server is asked.
  ns::URLLoading::setLoopbackOnly(false);
  struct Restore {
    ~Restore() { ns::URLLoading::setLoopbackOnly(std::nullopt); }
  } restore;
  pltest::FakeServer server;
  server.route("GET", "/next",
               [](const pltest::FakeRequest&) { return pltest::FakeReply::text(200, "next"); });

  {
    LookupLoad stuck("http://thumbnails.slow-lookup.test/one.jpg");
    // The delegate's queue is drained for the load to reach the engine.
    slowLookups().setOnStart([wake = stuck.queue.executor()] { wake([] {}); });
    ASSERT_TRUE(stuck.queue.runUntil([] { return slowLookups().hasStarted(); }))
        << "the loading engine never looked the name up";
    stuck.connection->cancel();
  }

  LookupLoad next(server.URLForPath("/next"));
  const bool finished = next.queue.runUntil([&] { return next.delegate->ended(); });
  slowLookups().release();
  ASSERT_TRUE(finished) << "a load waited for another load's name lookup";
  EXPECT_FALSE(next.delegate->error);
  EXPECT_EQ(next.delegate->body, "next");
}

}  // namespace
