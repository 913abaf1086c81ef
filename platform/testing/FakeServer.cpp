// GCC 12 warns about std::function members inside std::regex at -O1; the warning is spurious.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "platform/testing/FakeServer.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "platform/net/URLLoadingSettings.h"
#include "platform/testing/TestCertificateAuthority.h"

namespace pltest {

namespace {
// Where the pre-routing handler keeps a multipart request's own Content-Type.
constexpr char kHiddenContentType[] = "X-Pltest-Hidden-Content-Type";
// Numbers the requests of every fake in the process in the order they are recorded.
std::atomic<std::uint64_t> nextSequence{0};
}  // namespace

FakeReply FakeReply::text(int status, std::string body, std::string contentType) {
  FakeReply r;
  r.status = status;
  r.body = std::move(body);
  r.contentType = std::move(contentType);
  return r;
}

FakeReply FakeReply::redirect(int status, std::string location) {
  FakeReply r = text(status, "");
  r.headers.set("Location", location);
  return r;
}

FakeReply FakeReply::chunked(std::vector<std::string> parts, std::string contentType) {
  FakeReply r;
  r.mode = Mode::Chunked;
  r.parts = std::move(parts);
  r.contentType = std::move(contentType);
  return r;
}

FakeReply FakeReply::slow(std::vector<std::string> parts, std::chrono::milliseconds pause) {
  FakeReply r = chunked(std::move(parts));
  r.mode = Mode::Slow;
  r.pause = pause;
  return r;
}

FakeReply FakeReply::trickle(std::string body, std::size_t partSize, std::chrono::milliseconds pause) {
  FakeReply r;
  r.mode = Mode::Trickle;
  r.body = std::move(body);
  r.partSize = partSize > 0 ? partSize : 1;
  r.pause = pause;
  r.contentType = "application/octet-stream";
  return r;
}

FakeReply FakeReply::stalled(std::string firstPart, long long declaredLength) {
  FakeReply r;
  r.mode = Mode::Stall;
  r.parts = {std::move(firstPart)};
  r.body.resize(static_cast<std::size_t>(declaredLength));
  return r;
}

FakeReply FakeReply::cutShort(std::string sentPart, long long declaredLength) {
  FakeReply r;
  r.mode = Mode::CutShort;
  r.parts = {std::move(sentPart)};
  r.body.resize(static_cast<std::size_t>(declaredLength));
  return r;
}

struct FakeServer::Impl {
  Options options;
  std::unique_ptr<pltest::TestCertificateAuthority> ca;
  std::string caFile;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;

  struct Route {
    std::string method;
    std::regex pattern;
    FakeHandler handler;
  };
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<Route> routes;
  std::vector<FakeRequest> requests;
  std::vector<std::pair<std::string, int>> servedAs;
  bool released = false;
  bool stopping = false;

  // Waits up to `pause` (forever when negative) unless the server stops or stalls are released.
  bool waitInterrupted(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex);
    auto over = [&] { return stopping || released; };
    if (pause.count() < 0) {
      changed.wait(lock, over);
      return true;
    }
    return changed.wait_for(lock, pause, over);
  }

  void handle(const httplib::Request& req, httplib::Response& res) {
    FakeRequest fr;
    fr.method = req.method;
    fr.path = req.path;
    fr.target = req.target;
    fr.body = req.body;
    for (const auto& [k, v] : req.params) fr.params[k] = v;
    for (const auto& [k, v] : req.headers) {
      if (k == kHiddenContentType) continue;
      fr.headers.add(k, v);
    }
    if (req.has_header(kHiddenContentType)) {
      fr.headers.set("Content-Type", req.get_header_value(kHiddenContentType));
    }

    // The fake answers byte ranges itself and never compresses on its own: a test's reply goes
    // out as the test wrote it.
    auto& mutableRequest = const_cast<httplib::Request&>(req);
    mutableRequest.ranges.clear();
    mutableRequest.headers.erase("Accept-Encoding");

    FakeHandler handler;
    {
      std::lock_guard lock(mutex);
      for (auto it = routes.rbegin(); it != routes.rend(); ++it) {
        if (it->method != "*" && it->method != req.method && !(req.method == "HEAD" && it->method == "GET"))
          continue;
        std::smatch m;
        if (std::regex_match(req.path, m, it->pattern)) {
          for (std::size_t i = 1; i < m.size(); ++i) fr.matches.push_back(m[i].str());
          handler = it->handler;
          break;
        }
      }
      fr.sequence = nextSequence.fetch_add(1) + 1;
      requests.push_back(fr);
    }
    changed.notify_all();

    FakeReply reply = handler ? handler(fr) : FakeReply::text(404, "not found");
    res.status = reply.status;
    for (const auto& [k, v] : reply.headers) res.set_header(k, v);

    switch (reply.mode) {
      case FakeReply::Mode::Whole: {
        // A single byte range of a whole body is answered as a server would, with 206 or 416.
        auto range = fr.header("Range");
        long long first = -1, last = -1;
        long long size = static_cast<long long>(reply.body.size());
        if (range && reply.honourRanges && reply.status == 200 &&
            std::sscanf(range->c_str(), "bytes=%lld-%lld", &first, &last) >= 1 &&
            range->find(',') == std::string::npos) {
          if (last < 0 || last >= size) last = size - 1;
          if (first >= size || first > last) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            break;
          }
          res.status = 206;
          res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                              "/" + std::to_string(size));
          reply.body =
              reply.body.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
        }
        if (!reply.body.empty() || reply.status != 204)
          res.set_content(reply.body, reply.contentType.c_str());
        break;
      }
      case FakeReply::Mode::Chunked:
      case FakeReply::Mode::Slow: {
        auto parts = std::make_shared<std::vector<std::string>>(reply.parts);
        auto pause = reply.pause;
        auto index = std::make_shared<std::size_t>(0);
        res.set_chunked_content_provider(reply.contentType,
                                         [this, parts, pause, index](size_t, httplib::DataSink& sink) {
                                           if (*index > 0 && pause.count() > 0 && waitInterrupted(pause))
                                             return false;
                                           if (*index >= parts->size()) {
                                             sink.done();
                                             return true;
                                           }
                                           const std::string& part = (*parts)[(*index)++];
                                           return sink.write(part.data(), part.size());
                                         });
        break;
      }
      case FakeReply::Mode::Trickle: {
        auto body = std::make_shared<std::string>(std::move(reply.body));
        std::size_t partSize = reply.partSize;
        auto pause = reply.pause;
        res.set_content_provider(
            body->size(), reply.contentType,
            [this, body, partSize, pause](size_t offset, size_t, httplib::DataSink& sink) {
              if (offset > 0 && pause.count() > 0 && waitInterrupted(pause)) return false;
              std::size_t n = std::min(partSize, body->size() - offset);
              return sink.write(body->data() + offset, n);
            });
        break;
      }
      case FakeReply::Mode::Stall:
      case FakeReply::Mode::CutShort: {
        auto first = std::make_shared<std::string>(reply.parts.empty() ? std::string() : reply.parts.front());
        bool stall = reply.mode == FakeReply::Mode::Stall;
        res.set_content_provider(reply.body.size(), reply.contentType,
                                 [this, first, stall](size_t offset, size_t, httplib::DataSink& sink) {
                                   if (offset == 0 && !first->empty())
                                     return sink.write(first->data(), first->size());
                                   if (stall) waitInterrupted(std::chrono::milliseconds(-1));
                                   return false;  // closes the connection short of the declared length
                                 });
        break;
      }
    }
  }
};

namespace {

struct BioDeleter {
  void operator()(BIO* b) const { BIO_free(b); }
};

X509* x509FromPEM(const std::string& pem) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
}

EVP_PKEY* keyFromPEM(const std::string& pem) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
}

}  // namespace

FakeServer::FakeServer() : FakeServer(Options{}) {}

FakeServer::FakeServer(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  if (impl_->options.https) {
    impl_->ca = std::make_unique<pltest::TestCertificateAuthority>();
    auto leaf = impl_->ca->issueIdentity(impl_->options.hostNames);
    X509* cert = x509FromPEM(leaf->certificate()->PEM());
    EVP_PKEY* key = keyFromPEM(leaf->privateKeyPEM());
    impl_->server = std::make_unique<httplib::SSLServer>(cert, key);
    // The server drops a connection whose handshake has not come within the read timeout; on a
    // busy machine with the sanitizers a client can take longer than the library's 5 s to start
    // it, and only a fault should take 30.
    impl_->server->set_read_timeout(30, 0);
    X509_free(cert);
    EVP_PKEY_free(key);
    auto dir = std::filesystem::temp_directory_path();
    impl_->caFile = (dir / ("pelorin-fake-ca-" + std::to_string(::getpid()) + "-" +
                            std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".pem"))
                        .string();
    std::ofstream(impl_->caFile) << impl_->ca->certificatePEM();
  } else {
    impl_->server = std::make_unique<httplib::Server>();
  }
  auto& server = *impl_->server;
  // One request per connection, so that stopping never waits for idle keep-alive connections.
  server.set_keep_alive_max_count(1);
  // Enough handler threads that a dozen stalled replies do not hold up the next request (the
  // library's default follows the core count and may be as low as 8).
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server.set_payload_max_length(std::size_t(256) << 20);
  // Multipart bodies would be taken apart by the server library before a handler sees them;
  // fakes need the bytes as sent, so the type is hidden until the body was read and put back
  // in handle().
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    auto& request = const_cast<httplib::Request&>(req);
    std::string type = request.get_header_value("Content-Type");
    std::string lower = type;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("multipart/form-data", 0) == 0) {
      request.headers.erase("Content-Type");
      request.headers.emplace("Content-Type", "application/octet-stream");
      request.headers.emplace(kHiddenContentType, type);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  auto handler = [impl = impl_.get()](const httplib::Request& req, httplib::Response& res) {
    impl->handle(req, res);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Patch(".*", handler);
  server.Delete(".*", handler);
  server.Options(".*", handler);
  impl_->port = server.bind_to_any_port("127.0.0.1");
  if (impl_->port <= 0) return;  // nothing listens; every request fails to connect
  auto returned = std::make_shared<std::atomic<bool>>(false);
  impl_->thread = std::thread([&server, returned] {
    server.listen_after_bind();
    *returned = true;
  });
  // The server library ignores a stop that comes before its accept loop has started, so the
  // constructor returns only once the loop runs (connections made before are queued anyway).
  while (!server.is_running() && !*returned) std::this_thread::yield();
}

FakeServer::~FakeServer() {
  stop();
  for (const auto& [host, port] : impl_->servedAs) ns::URLLoading::removeConnectTo(host, port);
  if (!impl_->caFile.empty()) {
    std::error_code ec;
    std::filesystem::remove(impl_->caFile, ec);
  }
}

void FakeServer::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->changed.notify_all();
  if (impl_->thread.joinable()) {
    impl_->server->stop();
    impl_->thread.join();
  }
}

int FakeServer::port() const {
  return impl_->port;
}
bool FakeServer::isHTTPS() const {
  return impl_->options.https;
}
std::string FakeServer::baseURL() const {
  return std::string(isHTTPS() ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port);
}

std::string FakeServer::caCertificatePEM() const {
  return impl_->ca ? impl_->ca->certificatePEM() : std::string();
}
std::string FakeServer::caCertificateFile() const {
  return impl_->caFile;
}

void FakeServer::trustInURLLoading() const {
  if (!impl_->caFile.empty()) ns::URLLoading::setExtraCertificateAuthorityFile(impl_->caFile);
}

void FakeServer::untrustInURLLoading() {
  ns::URLLoading::setExtraCertificateAuthorityFile(std::nullopt);
}

void FakeServer::serveAs(const std::string& host, int port) {
  if (port == 0) port = isHTTPS() ? 443 : 80;
  ns::URLLoading::setConnectTo(host, port, "127.0.0.1", impl_->port);
  std::lock_guard lock(impl_->mutex);
  impl_->servedAs.emplace_back(host, port);
}

void FakeServer::route(const std::string& method, const std::string& pattern, FakeHandler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.push_back(Impl::Route{method, std::regex(pattern), std::move(handler)});
}

void FakeServer::canned(const std::string& method, const std::string& path, FakeReply reply) {
  std::string escaped;
  for (char c : path) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  route(method, escaped, [reply](const FakeRequest&) { return reply; });
}

std::vector<FakeRequest> FakeServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::size_t FakeServer::requestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests.size();
}

bool FakeServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

void FakeServer::clearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

void FakeServer::release() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->released = true;
  }
  impl_->changed.notify_all();
}

}  // namespace pltest
