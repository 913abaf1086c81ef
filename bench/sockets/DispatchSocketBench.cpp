// The dispatch socket against plain blocking POSIX sockets over loopback, side by side in one
// run: 1 GB one way (the socket under test receiving, then sending) and an echo of 1 GB (the
// socket under test reads what arrives and writes it back, with one read queued and with eight).
// The far end is always a blocking POSIX socket on its own threads; the reference puts a
// blocking POSIX socket with a plain recv/send loop where the dispatch socket was. A driver,
// not a test: run it by hand on a quiet machine. Each load runs twice for the dispatch socket: with
// a socket queue of its own (the default), and on its delegate's queue (as the HTTP server uses it).
//
//   build/release/bench/dispatch_socket_bench [megabytes, default 1024] [only the load whose name starts so]
//                                             [only one side: own, shared or posix (for a profiler)]
//                                             [rounds, default 5]
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/sockets/DispatchSocket.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr std::size_t kPiece = 256 * 1024;
std::size_t gTotal = std::size_t{1024} * 1024 * 1024;

enum class Load { Receive, Send, Echo };

// What one run measured: its wall-clock seconds, and the CPU seconds of the side under test (the
// whole process less the far end's threads), which a loaded machine disturbs far less.
struct Result {
  double seconds = 0;
  double cpu = 0;
};

double processCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  return fd;
}

void sendAll(int fd, std::size_t total) {
  std::vector<char> piece(kPiece, 'x');
  for (std::size_t sent = 0; sent < total;) {
    ssize_t n = ::send(fd, piece.data(), std::min(kPiece, total - sent), MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

std::size_t receiveAll(int fd, std::size_t total) {
  std::vector<char> buffer(kPiece);
  std::size_t got = 0;
  while (got < total) {
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The far end of one load, run against a connected descriptor; answers the CPU seconds its
// threads used.
double farEnd(int fd, Load load) {
  double cpu = 0;
  if (load == Load::Receive) {
    sendAll(fd, gTotal);
  } else if (load == Load::Send) {
    receiveAll(fd, gTotal);
  } else {
    double readerCpu = 0;
    std::thread reader([&] {
      receiveAll(fd, gTotal);
      readerCpu = threadCpuSeconds();
    });
    sendAll(fd, gTotal);
    reader.join();
    cpu = readerCpu;
  }
  ::shutdown(fd, SHUT_RDWR);
  return cpu + threadCpuSeconds();
}

// The socket under test, as the accepted end.
class Side : public DispatchSocketDelegate, public std::enable_shared_from_this<Side> {
 public:
  Side(Load load, int readsQueued, ns::Ref<dispatch::Queue> sharedQueue)
      : load_(load), readsQueued_(readsQueued), sharedQueue_(std::move(sharedQueue)) {}

  // With a shared queue the accepted socket works on its delegate's queue, as the embedded
  // HTTP server's connections do; otherwise it makes a queue of its own.
  ns::Ref<dispatch::Queue> newSocketQueueForConnectionFromAddress_onSocket(
      const ns::Data&, const ns::Ref<DispatchSocket>&) override {
    return sharedQueue_;
  }

  void socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>&,
                                 const ns::Ref<DispatchSocket>& child) override {
    child_ = child;
    if (load_ == Load::Send) {
      ns::Data piece(std::string(kPiece, 'y'));
      piece_ = piece;
      for (int i = 0; i < 8; ++i) queueWrite();
    } else {
      for (int i = 0; i < readsQueued_; ++i) child_->readDataWithTimeout_tag(-1, 1);
    }
  }
  void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long) override {
    received_ += data.length();
    if (load_ == Load::Echo) sock->writeData_withTimeout_tag(data, -1, 2);
    if (received_ < gTotal) {
      sock->readDataWithTimeout_tag(-1, 1);
    } else if (load_ == Load::Receive) {
      finish();
    }
  }
  void socket_didWriteDataWithTag(const ns::Ref<DispatchSocket>&, long) override {
    if (load_ == Load::Send) {
      written_ += kPiece;
      if (written_ >= gTotal)
        finish();
      else
        queueWrite();
    }
  }
  void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>&,
                                     const std::optional<ns::Error>&) override {
    finish();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return finished_; });
  }
  void release() { child_ = nullptr; }

 private:
  void queueWrite() {
    if (queued_ < gTotal) {
      queued_ += kPiece;
      child_->writeData_withTimeout_tag(piece_, -1, 3);
    }
  }
  void finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    done_.notify_all();
  }

  Load load_;
  int readsQueued_;
  ns::Ref<dispatch::Queue> sharedQueue_;
  ns::Ref<DispatchSocket> child_;
  ns::Data piece_;
  std::size_t received_ = 0;
  std::size_t written_ = 0;
  std::size_t queued_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
};

Result runDispatch(Load load, int readsQueued, bool sharedQueue) {
  auto queue = dispatch::queueCreate("bench.delegate");
  auto side = std::make_shared<Side>(load, readsQueued, sharedQueue ? queue : nullptr);
  auto listener = ns::make<DispatchSocket>(side, queue);
  ns::Error error;
  if (!listener->acceptOnInterface_port_error("127.0.0.1", 0, &error)) {
    std::fprintf(stderr, "listen failed: %s\n", error.description().c_str());
    std::exit(1);
  }
  int fd = connectTo(listener->localPort());
  double farCpu = 0;
  double cpu = processCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  std::thread far([&] { farCpu = farEnd(fd, load); });
  far.join();
  side->wait();
  Result result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu = processCpuSeconds() - cpu - farCpu;
  ::close(fd);
  dispatch::sync(queue, [&] { side->release(); });
  listener->disconnect();
  return result;
}

Result runPosix(Load load) {
  int listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(listenFd, 1);
  ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &length);
  int fd = connectTo(ntohs(addr.sin_port));
  int child = ::accept(listenFd, nullptr, nullptr);
  double farCpu = 0;
  double cpu = processCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  std::thread far([&] { farCpu = farEnd(fd, load); });
  if (load == Load::Receive) {
    receiveAll(child, gTotal);
  } else if (load == Load::Send) {
    sendAll(child, gTotal);
  } else {
    std::vector<char> buffer(kPiece);
    for (std::size_t got = 0; got < gTotal;) {
      ssize_t n = ::recv(child, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      for (ssize_t sent = 0; sent < n;) {
        ssize_t m = ::send(child, buffer.data() + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (m <= 0) break;
        sent += m;
      }
    }
  }
  far.join();
  Result result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu = processCpuSeconds() - cpu - farCpu;
  ::close(child);
  ::close(fd);
  ::close(listenFd);
  return result;
}

// The median of a few values.
double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  ns::runtime::start();
  if (argc > 1) gTotal = std::size_t(std::max(1, std::atoi(argv[1]))) * 1024 * 1024;
  struct Row {
    const char* name;
    Load load;
    int reads;
  };
  const Row rows[] = {{"one way, receiving", Load::Receive, 1},
                      {"one way, sending", Load::Send, 0},
                      {"echo, one read queued", Load::Echo, 1},
                      {"echo, eight reads queued", Load::Echo, 8}};
  double mb = static_cast<double>(gTotal) / 1e6;
  std::string only = argc > 2 ? argv[2] : "";
  std::string side = argc > 3 ? argv[3] : "";
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  std::printf("%-26s %9s %9s %9s %6s %10s %6s %10s   %s\n", "load (MB/s)", "dispatch", "shared q.", "POSIX",
              "ratio", "rounds", "shared", "rounds", "CPU ms per GB: dispatch, shared q., POSIX");
  // A side left out is measured as taking a second, which keeps the table's arithmetic simple.
  auto run = [&](const char* name, auto&& measure) {
    return side.empty() || side == name ? measure() : Result{1, 0};
  };
  for (const Row& row : rows) {
    if (std::string(row.name).rfind(only, 0) != 0) continue;
    // Rounds alternate between the three, so that a change in the machine's load falls on all;
    // each round's ratios are kept, and the medians and spread printed.
    std::vector<double> own, shared, posix, ownRatio, sharedRatio, ownCpu, sharedCpu, posixCpu;
    for (int round = 0; round < rounds; ++round) {
      Result o = run("own", [&] { return runDispatch(row.load, row.reads, false); });
      Result s = run("shared", [&] { return runDispatch(row.load, row.reads, true); });
      Result p = run("posix", [&] { return runPosix(row.load); });
      own.push_back(mb / o.seconds);
      shared.push_back(mb / s.seconds);
      posix.push_back(mb / p.seconds);
      ownRatio.push_back(p.seconds / o.seconds);
      sharedRatio.push_back(p.seconds / s.seconds);
      double gb = mb / 1e3;
      ownCpu.push_back(o.cpu * 1e3 / gb);
      sharedCpu.push_back(s.cpu * 1e3 / gb);
      posixCpu.push_back(p.cpu * 1e3 / gb);
    }
    auto spread = [](const std::vector<double>& v) {
      char text[32];
      std::snprintf(text, sizeof text, "%.2f-%.2f", *std::min_element(v.begin(), v.end()),
                    *std::max_element(v.begin(), v.end()));
      return std::string(text);
    };
    std::printf("%-26s %9.1f %9.1f %9.1f %6.2f %10s %6.2f %10s   %6.0f %6.0f %6.0f\n", row.name, median(own),
                median(shared), median(posix), median(ownRatio), spread(ownRatio).c_str(),
                median(sharedRatio), spread(sharedRatio).c_str(), median(ownCpu), median(sharedCpu),
                median(posixCpu));
  }
  std::printf(
      "(ratio: dispatch socket / blocking POSIX socket, the median of %d alternating rounds, and their\n"
      " spread; 'shared': on its delegate's queue; CPU: the side under test's own, the far end's\n"
      " threads left out, medians)\n",
      rounds);
  return 0;
}
