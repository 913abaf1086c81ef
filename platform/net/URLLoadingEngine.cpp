#include "platform/net/URLLoadingEngine.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/net/BodyChunks.h"
#include "platform/net/ContentDecoder.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/HTTPText.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingSettings.h"

#include "platform/runloop/Clock.h"
#include "platform/security/LibraryExit.h"

namespace ns {

namespace {

constexpr int kMaxRedirects = 16;
constexpr std::size_t kMaxHeldBody = 1 << 20;  // body of a redirect or challenge response kept aside
// Distinct header fields one response may have. Each field is looked up among those before it;
// far more than any server sends, and few enough that a header block made of nothing but short
// fields stays cheap for the loading thread that every load shares.
constexpr std::size_t kMaxHeaderFields = 1000;

double clockNow() {
  return Clock::now();
}

bool clockIsVirtual() {
  return Clock::isVirtual();
}

using httptext::lower;

int defaultPort(const std::string& scheme) {
  if (scheme == "https") return 443;
  if (scheme == "http") return 80;
  return 0;
}

bool sameOrigin(const URL& a, const URL& b) {
  auto sa = lower(a.scheme().value_or("")), sb = lower(b.scheme().value_or(""));
  return sa == sb && lower(a.host().value_or("")) == lower(b.host().value_or("")) &&
         a.port().value_or(defaultPort(sa)) == b.port().value_or(defaultPort(sb));
}

std::string mimeTypeForPath(const std::string& path) {
  static const std::pair<const char*, const char*> kTypes[] = {{"html", "text/html"},
                                                               {"htm", "text/html"},
                                                               {"txt", "text/plain"},
                                                               {"json", "application/json"},
                                                               {"xml", "application/xml"},
                                                               {"plist", "application/x-plist"},
                                                               {"png", "image/png"},
                                                               {"jpg", "image/jpeg"},
                                                               {"jpeg", "image/jpeg"},
                                                               {"gif", "image/gif"},
                                                               {"mp4", "video/mp4"},
                                                               {"css", "text/css"},
                                                               {"js", "application/javascript"}};
  auto dot = path.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = lower(path.substr(dot + 1));
    for (const auto& [e, t] : kTypes)
      if (ext == e) return t;
  }
  return "application/octet-stream";
}

}  // namespace

// ------------------------------------------------------------------------------------------
// One load: the requests of one connection, attempt after attempt (redirects, credentials).
// Every field is touched on the engine thread only, except where noted.

// What one attempt (one request sent, its response read) learns and decides: every attempt
// starts from a fresh one.
struct URLAttempt {
  enum class Mode { Deliver, Redirect, Challenge };

  long status = 0;
  HTTPHeaderFields headers;
  std::vector<std::string> setCookieLines;
  std::string lastFieldName;  // the field a folded line continues
  bool headersDone = false;
  Mode mode = Mode::Deliver;
  Ref<HTTPURLResponse> response;
  MutableData held;
  curl_off_t uploaded = 0;
  double lastActivity = 0;
  bool streamFailed = false;
  bool tooManyFields = false;
  bool heldOverflow = false;     // a chunk of the held body did not fit and was dropped
  bool heldUndecodable = false;  // the held body's content coding could not be undone
  // Content coding: the decoder, whether the coding cannot be undone, whether decoding failed,
  // and how much of a chunk handed over again after a hold was decoded before it.
  std::shared_ptr<ContentDecoder> decoder;
  bool unknownCoding = false;
  bool decodeFailed = false;
  std::size_t decodedOfHeldChunk = 0;
  // curl reads a local file whole in one go and cannot hold it back: such a load is never paused.
  bool pausable = true;
};

struct URLLoad : URLAttempt, std::enable_shared_from_this<URLLoad> {
  Ref<URLConnection> connection;  // kept until the load ends
  bool automatic = false;
  std::mutex requestMutex;  // guards `request` for currentRequest() from other threads
  Ref<URLRequest> request;
  int redirects = 0;
  bool ended = false;

  // The current attempt's transfer.
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  curl_slist* connectTo = nullptr;
  std::shared_ptr<X509_STORE> trustStore;  // the authorities this attempt trusts, when not the system's
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::string httpVersion = "HTTP/1.1";
  bool deliveryHeld = false;  // paused until the connection has delivered what it queued
  // Received and not yet posted (Deliver mode). Emptied for each attempt, its buffer kept.
  std::vector<std::uint8_t> body;

  // Across attempts.
  Ref<URLCredential> credential;
  long authFailures = 0;
  bool trustAccepted = false;
  const URLAuthenticationChallenge* pendingChallenge = nullptr;
  Ref<URLAuthenticationChallenge> challengeRef;
  Ref<URLResponse> challengeResponse;
  bool challengeIsTrust = false;

  void startAttempt(bool canPause, double now) {
    static_cast<URLAttempt&>(*this) = URLAttempt{};
    body.clear();
    pausable = canPause;
    lastActivity = now;
  }

  // Whether the delegate has as much queued as it may: the transfer waits for it then.
  bool mustHoldBack() const {
    return mode == Mode::Deliver && pausable && connection &&
           connection->queuedBodyBytes() + body.size() >= URLConnection::kMaxQueuedBodyBytes;
  }

  // Keeps decoded body bytes: gathered for the delegate, or held aside up to a bound.
  void keepBody(const char* bytes, std::size_t length) {
    if (mode == Mode::Deliver) {
      gatherBody(bytes, length);
    } else if (!heldOverflow && held.length() + length <= kMaxHeldBody) {
      held.appendBytes_length(bytes, length);
    } else {
      // Once a chunk is dropped nothing after it is kept: the held body stays the body's start.
      heldOverflow = true;
    }
  }

  void post(URLConnection::Event event, bool final = false, std::size_t bodyBytes = 0) {
    if (connection) connection->post(std::move(event), final, bodyBytes);
  }

  // Appends a chunk curl handed over; posts the gathered body once it fills its buffer.
  void gatherBody(const char* bytes, std::size_t length) {
    // A chunk never outgrows its buffer (a vector that grows copies all it holds).
    if (!body.empty() && body.size() + length > kBodyChunkBytes) postBody();
    if (body.capacity() == 0) {
      body = chunkBuffers().take();
      body.reserve(kBodyChunkBytes);
    }
    // Same element type on both sides, so that this is one memcpy.
    auto* from = reinterpret_cast<const std::uint8_t*>(bytes);
    body.insert(body.end(), from, from + length);
    if (body.size() >= kBodyChunkBytes) postBody();
  }

  // Posts the gathered body as one chunk. A chunk that filled less than half its buffer is
  // copied out and the buffer kept, so that a trickling transfer does not queue mostly empty
  // buffers.
  void postBody() {
    if (body.empty()) return;
    Data chunk;
    if (body.size() * 2 >= body.capacity()) {
      chunk = chunkData(std::move(body));
      body = {};
    } else {
      chunk = Data(body.data(), body.size());
      body.clear();
    }
    std::size_t n = chunk.length();
    post(
        [chunk = std::move(chunk)](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
          d->connection_didReceiveData(c, chunk);
        },
        false, n);
  }
};

namespace {

class Engine;
Engine& engine();
// Set once the engine is made; the exit handler looks at it without making one.
std::atomic<Engine*> madeEngine{nullptr};

class Engine {
 public:
  Engine() {
    // The loading thread is never joined before exit: the TLS library must outlive it.
    sec::keepCryptoLibraryThroughExit();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    thread_ = std::thread([this] { run(); });
    // Observed only once the thread is there: an advance of the clock on another thread reads
    // its identity.
    clockHook_ = std::make_shared<ClockHook>(this);
    Clock::addObserver(clockHook_);
    madeEngine.store(this);
  }

  // Queues work for the engine thread; false (and nothing queued) once the engine has stopped
  // for the process's exit.
  bool perform(std::function<void()> work) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return false;
      commands_.push_back(std::move(work));
    }
    curl_multi_wakeup(multi_);
    return true;
  }

  // Lets the engine thread finish the pass it is in and then keeps it waiting for good, so that
  // it is not inside curl or the TLS library while the process's libraries are torn down. False
  // when the pass did not end within the time.
  bool stopForExit(double timeoutSeconds) {
    // A forked child has no engine thread, and on the engine thread itself no pass is under way.
    if (::getpid() != pid_ || std::this_thread::get_id() == thread_.get_id()) return true;
    std::unique_lock lock(mutex_);
    stopping_ = true;
    lock.unlock();
    curl_multi_wakeup(multi_);
    lock.lock();
    return parked_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return stopped_; });
  }

  double nextDeadlineAfter(double now) {
    std::lock_guard lock(deadlineMutex_);
    double best = Clock::kDistantFuture;
    for (double d : deadlines_)
      if (d > now && d < best) best = d;
    return best;
  }
  void clockAdvanced(double) {
    // Time-outs are checked on the engine thread; wake it and wait until it has looked, so that
    // a test that advances the clock sees the failure queued when advance() returns.
    std::unique_lock lock(mutex_);
    unsigned long target = ++timeCheckRequested_;
    lock.unlock();
    curl_multi_wakeup(multi_);
    if (std::this_thread::get_id() == thread_.get_id()) return;
    lock.lock();
    checked_.wait_for(lock, std::chrono::seconds(5), [&] { return timeCheckDone_ >= target || stopping_; });
  }

  void begin(const std::shared_ptr<URLLoad>& load);
  void end(const std::shared_ptr<URLLoad>& load, std::optional<Error> error);

 private:
  void run();
  void complete(const std::shared_ptr<URLLoad>& load, CURLcode code);
  void checkTimeouts();
  void detach(const std::shared_ptr<URLLoad>& load);
  void publishDeadlines();

  // Tells the engine when the virtual clock moves, and names its next time-out.
  struct ClockHook : Clock::Observer {
    explicit ClockHook(Engine* e) : engine(e) {}
    double nextDeadlineAfter(double now) override { return engine->nextDeadlineAfter(now); }
    void clockAdvanced(double now) override { engine->clockAdvanced(now); }
    Engine* engine;
  };

  CURLM* multi_;
  std::shared_ptr<ClockHook> clockHook_;
  pid_t pid_ = ::getpid();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable checked_;
  bool stopping_ = false;  // asked to stop for exit
  bool stopped_ = false;   // its thread waits for good
  std::condition_variable parked_;
  std::vector<std::function<void()>> commands_;
  unsigned long timeCheckRequested_ = 0;
  unsigned long timeCheckDone_ = 0;
  std::set<std::shared_ptr<URLLoad>> active_;
  std::mutex deadlineMutex_;
  std::vector<double> deadlines_;
};

// Never destroyed (and its thread never joined): loads may start or finish on other threads while
// the process exits, and the engine must still be there for them.
Engine& engine() {
  static NoDestructor<Engine> e;
  return *e;
}

void stopEngineAtExit() {
  URLLoadingEngine::stopForExit(5);
}

// Done before main: the handler, registered before every static destructor and exit handler made
// later, runs after them (loads made from those still work) and before the libraries' own
// finalisers; and the TLS library, kept through exit from the start, registers no clean-up of its
// own that could run before the handler.
[[maybe_unused]] const bool stopAtExitRegistered = [] {
  sec::keepCryptoLibraryThroughExit();
  std::atexit(stopEngineAtExit);
  return true;
}();

// ---- curl callbacks (engine thread) -------------------------------------------------------

void deliverResponse(URLLoad& load);

size_t onHeader(char* buffer, size_t size, size_t count, void* user) {
  auto& load = *static_cast<URLLoad*>(user);
  size_t n = size * count;
  std::string line(buffer, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  load.lastActivity = clockNow();
  if (line.rfind("HTTP/", 0) == 0) {
    load.headers.clear();
    load.setCookieLines.clear();
    load.lastFieldName.clear();
    load.headersDone = false;
    auto sp = line.find(' ');
    load.httpVersion = line.substr(0, sp);
    if (load.httpVersion == "HTTP/2") load.httpVersion = "HTTP/2.0";
    load.status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
    return n;
  }
  if (line.empty()) {
    if (load.status >= 100 && load.status < 200) return n;  // an interim response: the real one follows
    if (!load.headersDone && load.status != 0) {
      load.headersDone = true;
      deliverResponse(load);
    }
    return n;
  }
  if ((line[0] == ' ' || line[0] == '\t') && !load.headers.empty()) {
    // A folded line continues the field before it (which, repeated, is not the newest name);
    // one of blanks only adds nothing.
    auto more = httptext::trim(line);
    if (more.empty() || load.lastFieldName.empty()) return n;
    load.headers.set(load.lastFieldName, load.headers.get(load.lastFieldName).value_or("") + " " + more);
    if (lower(load.lastFieldName) == "set-cookie" && !load.setCookieLines.empty())
      load.setCookieLines.back() += " " + more;
    return n;
  }
  auto colon = line.find(':');
  if (colon == std::string::npos) return n;
  std::string name = line.substr(0, colon);
  std::string value = httptext::trim(std::string_view(line).substr(colon + 1));
  if (load.headers.size() >= kMaxHeaderFields && !load.headers.contains(name)) {
    load.tooManyFields = true;
    return 0;  // ends the transfer
  }
  if (lower(name) == "set-cookie") load.setCookieLines.push_back(value);
  load.headers.add(name, value);
  load.lastFieldName = name;
  return n;
}

size_t onData(char* buffer, size_t size, size_t count, void* user) {
  auto& load = *static_cast<URLLoad*>(user);
  size_t n = size * count;
  load.lastActivity = clockNow();
  if (!load.headersDone && !load.response) {
    // A file or other header-less load: the response is made from what is known.
    load.headersDone = true;
    deliverResponse(load);
  }
  if (load.mustHoldBack()) {
    // curl keeps the chunk and hands it over again once the transfer is resumed.
    load.postBody();
    load.deliveryHeld = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (load.mode != URLLoad::Mode::Deliver && (load.heldOverflow || load.heldUndecodable))
    return n;  // nothing more of a held body is kept
  if (load.unknownCoding) {
    load.decodeFailed = true;
  } else if (!load.decoder) {
    load.keepBody(buffer, n);
    return n;
  } else {
    // A chunk handed over again after a hold in its middle starts with what was decoded then.
    std::size_t skip = std::min(load.decodedOfHeldChunk, n);
    load.decodedOfHeldChunk -= skip;
    auto used = load.decoder->decode(buffer + skip, n - skip, [&](const char* bytes, std::size_t length) {
      load.keepBody(bytes, length);
      return !load.mustHoldBack();
    });
    if (used && skip + *used < n) {
      load.decodedOfHeldChunk = skip + *used;
      load.postBody();
      load.deliveryHeld = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (used) return n;
    load.decodeFailed = true;
  }
  // A held body that cannot be decoded fails only if it is delivered; a redirect is followed.
  if (load.mode != URLLoad::Mode::Deliver) {
    load.heldUndecodable = true;
    return n;
  }
  return 0;  // ends the transfer
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
  auto& load = *static_cast<URLLoad*>(user);
  if (ulnow > load.uploaded) {
    long delta = static_cast<long>(ulnow - load.uploaded);
    load.uploaded = ulnow;
    load.lastActivity = clockNow();
    long total = static_cast<long>(ulnow);
    long expected = ultotal > 0 ? static_cast<long>(ultotal) : -1;
    load.post([delta, total, expected](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
      d->connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(c, delta, total, expected);
    });
  }
  return 0;
}

size_t onReadBody(char* buffer, size_t size, size_t count, void* user) {
  auto& load = *static_cast<URLLoad*>(user);
  auto stream = load.request->HTTPBodyStream();
  if (!stream || !stream->read) return 0;
  long n = stream->read(reinterpret_cast<std::uint8_t*>(buffer), size * count);
  if (n < 0) {
    load.streamFailed = true;
    return CURL_READFUNC_ABORT;
  }
  load.lastActivity = clockNow();
  return static_cast<size_t>(n);
}

void deliverResponse(URLLoad& load) {
  const Ref<URL>& url = load.request->URL();
  std::string scheme = lower(url->scheme().value_or(""));
  if (scheme != "http" && scheme != "https") {
    // file: and the like: a plain response with the type and length known.
    std::int64_t length = -1;
    struct stat st {};
    if (url->isFileURL() && ::stat(url->path().c_str(), &st) == 0) length = st.st_size;
    auto response = make<URLResponse>(url, mimeTypeForPath(url->path()), length, std::nullopt);
    load.mode = URLLoad::Mode::Deliver;
    load.post([response](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
      d->connection_didReceiveResponse(c, response);
    });
    load.response = make<HTTPURLResponse>(url, 200, load.httpVersion, HTTPHeaderFields{});
    return;
  }
  load.response = make<HTTPURLResponse>(url, load.status, load.httpVersion, load.headers);
  auto decoder = decoderFor(load.headers.get("Content-Encoding"));
  load.decoder = decoder ? *decoder : nullptr;
  load.unknownCoding = !decoder;
  load.decodeFailed = false;
  load.decodedOfHeldChunk = 0;
  if (load.request->HTTPShouldHandleCookies() && !load.setCookieLines.empty()) {
    auto cookies = HTTPCookie::cookiesWithSetCookieLines_forURL(load.setCookieLines, url);
    HTTPCookieStorage::sharedHTTPCookieStorage()->setCookies_forURL_mainDocumentURL(
        cookies, url, load.request->mainDocumentURL());
  }
  long s = load.status;
  bool redirect =
      (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) && load.headers.contains("Location");
  bool challenge = (s == 401 && load.headers.contains("WWW-Authenticate")) ||
                   (s == 407 && load.headers.contains("Proxy-Authenticate"));
  load.held = MutableData();
  load.heldOverflow = false;
  load.heldUndecodable = false;
  if (redirect) {
    load.mode = URLLoad::Mode::Redirect;
  } else if (challenge) {
    load.mode = URLLoad::Mode::Challenge;
  } else {
    load.mode = URLLoad::Mode::Deliver;
    auto response = load.response;
    load.post([response](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
      d->connection_didReceiveResponse(c, response);
    });
  }
}

Error errorForCurl(CURLcode code, long osErrno, const Ref<URL>& url) {
  long urlCode;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      urlCode = URLErrorCannotFindHost;
      break;
    case CURLE_COULDNT_CONNECT:
      urlCode = (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH) ? URLErrorNotConnectedToInternet
                                                                    : URLErrorCannotConnectToHost;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      urlCode = URLErrorTimedOut;
      break;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      urlCode = URLErrorNetworkConnectionLost;
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      urlCode = URLErrorServerCertificateUntrusted;
      break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
      urlCode = URLErrorSecureConnectionFailed;
      break;
    // begin() hands curl only the schemes it supports, so this is curl refusing a reply that is
    // not HTTP at all (it would otherwise read it as HTTP/0.9).
    case CURLE_UNSUPPORTED_PROTOCOL:
      urlCode = URLErrorBadServerResponse;
      break;
    case CURLE_URL_MALFORMAT:
      urlCode = URLErrorBadURL;
      break;
    case CURLE_BAD_CONTENT_ENCODING:
      urlCode = URLErrorCannotDecodeContentData;
      break;
    case CURLE_WEIRD_SERVER_REPLY:
      urlCode = URLErrorBadServerResponse;
      break;
    case CURLE_FILE_COULDNT_READ_FILE:
      urlCode = URLErrorFileDoesNotExist;
      break;
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
      urlCode = URLErrorRequestBodyStreamExhausted;
      break;
    default:
      urlCode = URLErrorUnknown;
      break;
  }
  return makeURLError(urlCode, url);
}

// A combined store of the system authorities and the extra CA file, rebuilt when the file
// changes.
using TrustStore = std::shared_ptr<X509_STORE>;

// The system's authorities and the extra file's, parsed once for as long as the file stays the
// same: handing curl the bundle's text made it parse every certificate again for each
// connection, which took seconds on a slow machine.
TrustStore trustStore(const std::optional<std::string>& extra) {
  if (!extra) return nullptr;
  // Never destroyed, as the engine's thread may build a store while the process exits.
  struct Cache {
    std::mutex mutex;
    std::string key;
    TrustStore store;
  };
  static ns::NoDestructor<Cache> cache;
  // Keyed by the file's text, which is small: its time stamp can stay the same across a rewrite.
  std::ifstream in(*extra, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  std::string key = *extra + "\n" + pem;
  std::lock_guard lock(cache->mutex);
  if (key != cache->key) {
    TrustStore store(X509_STORE_new(), X509_STORE_free);
    if (!store) return nullptr;
    const char* system = curl_version_info(CURLVERSION_NOW)->cainfo;
    if (system) X509_STORE_load_file(store.get(), system);
    // Only certificates are taken from the extra file: anything else in it is skipped.
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  BIO_free);
    while (bio) {
      X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
      if (!cert) break;
      X509_STORE_add_cert(store.get(), cert);
      X509_free(cert);
    }
    ERR_clear_error();
    // As curl sets up a store of its own: a trusted certificate below a root ends the chain.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_TRUSTED_FIRST);
    cache->store = std::move(store);
    cache->key = key;
  }
  return cache->store;
}

// curl's hook on each new TLS context: it trusts the shared store.
CURLcode installTrustStore(CURL*, void* sslContext, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

bool isReservedInvalidHost(const std::string& host) {
  std::string h = lower(host);
  while (!h.empty() && h.back() == '.') h.pop_back();
  return h == "invalid" || (h.size() > 8 && h.compare(h.size() - 8, 8, ".invalid") == 0);
}

// Why a request cannot be sent at all (an error code), or nothing when it can be.
std::optional<long> refusal(const URL& url, const std::string& scheme, const std::string& host) {
  if (scheme != "http" && scheme != "https" && scheme != "file") return URLErrorUnsupportedURL;
  if (scheme != "file" && host.empty()) return URLErrorBadURL;
  // Names under ".invalid" never resolve (RFC 6761); no need to ask a resolver.
  if (scheme != "file" && isReservedInvalidHost(host)) return URLErrorCannotFindHost;
  // Tests reach only the loopback fakes: anything else would be a real service.
  if (scheme != "file" && URLLoading::loopbackOnly() && !URLLoading::isLoopbackHost(host) &&
      !URLLoading::connectToFor(host, url.port().value_or(defaultPort(scheme))))
    return URLErrorCannotFindHost;
  if (scheme == "file") {
    struct stat st {};
    if (::stat(url.path().c_str(), &st) != 0)
      return errno == EACCES ? URLErrorNoPermissionsToReadFile : URLErrorFileDoesNotExist;
    if (S_ISDIR(st.st_mode)) return URLErrorFileIsDirectory;
  }
  return std::nullopt;
}

// A transfer handle for the attempt, with the load's callbacks and what every transfer shares.
CURL* newTransfer(URLLoad& load, const URL& url) {
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &load);
  curl_easy_setopt(easy, CURLOPT_URL, url.absoluteString().c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // A load that ends while its host name is still being looked up leaves the lookup's thread to
  // finish on its own; otherwise the engine would wait for it, up to the name server's whole
  // time-out, and every other load with it.
  curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, load.errorBuffer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &load);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &load);
  // A fast transfer is read in few large reads, each posted as one chunk.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kBodyChunkBytes));
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &load);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);  // undone here, see ContentDecoder
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  return easy;
}

// Header fields: the request's own, the cookie header, and none of curl's extras.
void setRequestHeaders(URLLoad& load, CURL* easy, const URLRequest& request, const Ref<URL>& url) {
  curl_slist* list = nullptr;
  bool hasUserAgent = false;
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    // A line break in a field would start another field (or a second request): such a field is
    // never sent.
    if (name.empty() || name.find_first_of(":\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos || value.find('\0') != std::string::npos)
      continue;
    if (headerNameEquals(name, "User-Agent")) hasUserAgent = true;
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    list = curl_slist_append(list, line.c_str());
  }
  if (request.HTTPShouldHandleCookies() && !request.valueForHTTPHeaderField("Cookie")) {
    auto cookies = HTTPCookieStorage::sharedHTTPCookieStorage()->cookiesForURL(url);
    if (auto header = HTTPCookie::requestHeaderFieldsWithCookies(cookies).get("Cookie"))
      list = curl_slist_append(list, ("Cookie: " + *header).c_str());
  }
  list = curl_slist_append(list, "Expect:");
  load.headerList = list;
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
  if (!hasUserAgent) curl_easy_setopt(easy, CURLOPT_USERAGENT, "Pelorin");
}

// The method and the body, from memory or from the request's stream. Answers false when the
// stream would not open.
bool setMethodAndBody(URLLoad& load, CURL* easy, const URLRequest& request) {
  const std::string& method = request.HTTPMethod();
  const auto& body = request.HTTPBody();
  const auto& stream = request.HTTPBodyStream();
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (body || stream) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    if (body) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->length()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->bytes());
    } else {
      if (stream->open && !stream->open()) return false;
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, onReadBody);
      curl_easy_setopt(easy, CURLOPT_READDATA, &load);
      curl_off_t length = -1;
      if (auto cl = request.valueForHTTPHeaderField("Content-Length"))
        length = std::strtoll(cl->c_str(), nullptr, 10);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, length);
    }
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method != "GET") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  return true;
}

// Credentials from an answered challenge.
void setCredential(const URLLoad& load, CURL* easy) {
  if (!load.credential || load.credential->isTrust()) return;
  curl_easy_setopt(easy, CURLOPT_USERNAME, load.credential->user().c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, load.credential->password().c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
}

// Whom a TLS connection trusts: anyone once the user accepted the server, else the system's
// authorities and those of the extra file.
void setTrust(URLLoad& load, CURL* easy) {
  if (load.trustAccepted) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  } else if (auto extra = URLLoading::extraCertificateAuthorityFile();
             (load.trustStore = trustStore(extra))) {
    // No CA file of curl's own: the hook trusts the whole store instead. The TLS settings then
    // differ from those of a connection made without the extra file, so neither is reused
    // for the other. The load keeps the store alive while its handle may make a context.
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
#if LIBCURL_VERSION_NUM >= 0x075700
    // curl keeps the first context's store for later ones unless told not to, which would put
    // back an earlier store over this one.
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, installTrustStore);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, load.trustStore.get());
  }
}

// The connect-to map: the host and port connected to in place of the URL's.
void setConnectTo(URLLoad& load, CURL* easy, const std::string& host, int port) {
  auto target = URLLoading::connectToFor(host, port);
  if (!target) return;
  std::string entry =
      host + ":" + std::to_string(port) + ":" + target->first + ":" + std::to_string(target->second);
  load.connectTo = curl_slist_append(nullptr, entry.c_str());
  curl_easy_setopt(easy, CURLOPT_CONNECT_TO, load.connectTo);
}

void Engine::begin(const std::shared_ptr<URLLoad>& load) {
  if (load->ended) return;
  const Ref<URLRequest>& request = load->request;
  const Ref<URL>& url = request->URL();
  std::string scheme = lower(url->scheme().value_or(""));
  std::string host = url->host().value_or("");
  if (auto code = refusal(*url, scheme, host)) {
    end(load, makeURLError(*code, url));
    return;
  }
  load->startAttempt(scheme != "file", clockNow());
  CURL* easy = newTransfer(*load, *url);
  load->easy = easy;
  setRequestHeaders(*load, easy, *request, url);
  if (!setMethodAndBody(*load, easy, *request)) {
    curl_easy_cleanup(easy);
    load->easy = nullptr;
    end(load, makeURLError(URLErrorRequestBodyStreamExhausted, url));
    return;
  }
  setCredential(*load, easy);
  if (scheme == "https") setTrust(*load, easy);
  setConnectTo(*load, easy, host, url->port().value_or(defaultPort(scheme)));
  curl_multi_add_handle(multi_, easy);
  active_.insert(load);
  publishDeadlines();
}

void Engine::detach(const std::shared_ptr<URLLoad>& load) {
  if (load->easy) {
    curl_multi_remove_handle(multi_, load->easy);
    curl_easy_cleanup(load->easy);
    load->easy = nullptr;
  }
  curl_slist_free_all(load->headerList);
  load->headerList = nullptr;
  curl_slist_free_all(load->connectTo);
  load->connectTo = nullptr;
  if (load->request && load->request->HTTPBodyStream() && load->request->HTTPBodyStream()->close)
    load->request->HTTPBodyStream()->close();
}

void Engine::end(const std::shared_ptr<URLLoad>& load, std::optional<Error> error) {
  detach(load);
  active_.erase(load);
  publishDeadlines();
  if (load->ended) return;
  load->ended = true;
  // What arrived before the end is delivered before it.
  load->postBody();
  if (error) {
    Error e = *error;
    load->post([e](const Ref<URLConnection>& c,
                   const Ref<URLConnectionDelegate>& d) { d->connection_didFailWithError(c, e); },
               true);
  } else {
    load->post([](const Ref<URLConnection>& c,
                  const Ref<URLConnectionDelegate>& d) { d->connectionDidFinishLoading(c); },
               true);
  }
  load->connection = nullptr;
}

// Delivers a response that was held back (a refused redirect, a challenge answered without
// credentials) with its body, then finishes; a body too large to have been kept whole fails
// the load instead of passing for the complete body.
void deliverHeld(const std::shared_ptr<URLLoad>& load) {
  auto response = load->response;
  Data body = load->held.copy();
  load->mode = URLLoad::Mode::Deliver;
  load->post([response](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
    d->connection_didReceiveResponse(c, response);
  });
  if (!body.empty())
    load->post([body](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
      d->connection_didReceiveData(c, body);
    });
  std::optional<Error> error;
  if (load->heldOverflow) error = makeURLError(URLErrorDataLengthExceedsMaximum, load->request->URL());
  if (load->heldUndecodable) error = makeURLError(URLErrorCannotDecodeContentData, load->request->URL());
  engine().end(load, error);
}

Ref<URLRequest> redirectedRequest(const URLLoad& load, const Ref<URL>& target) {
  auto next = load.request->mutableCopy();
  next->setURL(target);
  long s = load.status;
  const std::string& method = load.request->HTTPMethod();
  if ((s == 303 && method != "HEAD") || ((s == 301 || s == 302) && method == "POST")) {
    next->setHTTPMethod("GET");
    next->setHTTPBody(std::nullopt);
    next->setHTTPBodyStream(std::shared_ptr<URLRequestBodyStream>());
    next->setValue_forHTTPHeaderField(std::nullopt, "Content-Type");
    next->setValue_forHTTPHeaderField(std::nullopt, "Content-Length");
  }
  // Credentials and cookies meant for one site are never carried to another.
  if (!sameOrigin(*load.request->URL(), *target)) {
    next->setValue_forHTTPHeaderField(std::nullopt, "Authorization");
    next->setValue_forHTTPHeaderField(std::nullopt, "Cookie");
  }
  return next;
}

void followRedirect(const std::shared_ptr<URLLoad>& load);
void askChallenge(const std::shared_ptr<URLLoad>& load, bool trust);

void Engine::complete(const std::shared_ptr<URLLoad>& load, CURLcode code) {
  long osErrno = 0;
  curl_easy_getinfo(load->easy, CURLINFO_OS_ERRNO, &osErrno);
  const Ref<URL>& url = load->request->URL();
  if (code == CURLE_PEER_FAILED_VERIFICATION && !load->trustAccepted && !load->automatic) {
    detach(load);
    active_.erase(load);
    askChallenge(load, true);
    return;
  }
  if (code != CURLE_OK) {
    if (load->streamFailed) {
      end(load, makeURLError(URLErrorRequestBodyStreamExhausted, url));
      return;
    }
    if (load->tooManyFields) {
      end(load, makeURLError(URLErrorBadServerResponse, url));
      return;
    }
    if (load->decodeFailed && load->mode == URLLoad::Mode::Deliver) {
      end(load, makeURLError(URLErrorCannotDecodeContentData, url));
      return;
    }
    end(load, errorForCurl(code, osErrno, url));
    return;
  }
  std::string scheme = lower(url->scheme().value_or(""));
  if ((scheme == "http" || scheme == "https") && !load->headersDone) {
    // The connection closed inside the header section: what came is not a whole response, and
    // half a header block must not pass for one (nor be followed as a redirect).
    end(load, makeURLError(URLErrorNetworkConnectionLost, url));
    return;
  }
  if (!load->response) {
    // Nothing came but a successful end (an empty file).
    deliverResponse(*load);
  }
  if (load->decoder && !load->heldUndecodable &&
      !(load->mode != URLLoad::Mode::Deliver && load->heldOverflow)) {
    // What the decoder still holds, then whether the coded stream came whole.
    auto flushed = load->decoder->decode(nullptr, 0, [&](const char* bytes, std::size_t length) {
      load->keepBody(bytes, length);
      return true;
    });
    if (!flushed || !load->decoder->complete()) {
      if (load->mode == URLLoad::Mode::Deliver) {
        end(load, makeURLError(URLErrorCannotDecodeContentData, url));
        return;
      }
      load->heldUndecodable = true;
    }
  }
  detach(load);
  active_.erase(load);
  publishDeadlines();
  switch (load->mode) {
    case URLLoad::Mode::Deliver:
      end(load, std::nullopt);
      break;
    case URLLoad::Mode::Redirect:
      followRedirect(load);
      break;
    case URLLoad::Mode::Challenge:
      askChallenge(load, false);
      break;
  }
}

void followRedirect(const std::shared_ptr<URLLoad>& load) {
  auto location = load->response->valueForHTTPHeaderField("Location").value_or("");
  auto target = URL::URLWithString_relativeToURL(location, load->request->URL());
  std::string targetScheme = target ? lower(target->scheme().value_or("")) : std::string();
  // A server may send the client elsewhere on the web, never to a local file or another scheme:
  // such a redirect is not followed and its response is the final one.
  if (!target || !target->host() || (targetScheme != "http" && targetScheme != "https")) {
    deliverHeld(load);
    return;
  }
  target = target->absoluteURL();
  if (++load->redirects > kMaxRedirects) {
    engine().end(load, makeURLError(URLErrorHTTPTooManyRedirects, load->request->URL()));
    return;
  }
  auto proposed = redirectedRequest(*load, target);
  Ref<URLResponse> response = load->response;
  if (!sameOrigin(*load->request->URL(), *target)) {
    load->credential = nullptr;
    load->trustAccepted = false;
  }
  load->authFailures = 0;
  if (load->automatic) {
    {
      std::lock_guard lock(load->requestMutex);
      load->request = proposed;
    }
    engine().begin(load);
    return;
  }
  std::weak_ptr<URLLoad> weak = load;
  load->post([weak, proposed, response](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
    Ref<URLRequest> chosen = d->connection_willSendRequest_redirectResponse(c, proposed, response);
    if (chosen) chosen = chosen->copy();
    engine().perform([weak, chosen] {
      auto load = weak.lock();
      if (!load || load->ended) return;
      if (!chosen || !chosen->URL()) {
        deliverHeld(load);
        return;
      }
      {
        std::lock_guard lock(load->requestMutex);
        load->request = chosen;
      }
      engine().begin(load);
    });
  });
}

std::optional<std::string> realmOf(const std::string& header) {
  auto pos = lower(header).find("realm=");
  if (pos == std::string::npos) return std::nullopt;
  std::string rest = header.substr(pos + 6);
  if (!rest.empty() && rest.front() == '"') {
    auto close = rest.find('"', 1);
    return rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return rest.substr(0, rest.find_first_of(", "));
}

void askChallenge(const std::shared_ptr<URLLoad>& load, bool trust) {
  const Ref<URL>& url = load->request->URL();
  std::string scheme = lower(url->scheme().value_or(""));
  std::string method = URLAuthenticationMethodServerTrust;
  std::optional<std::string> realm;
  bool proxy = false;
  if (!trust) {
    proxy = load->status == 407;
    std::string header = load->headers.get(proxy ? "Proxy-Authenticate" : "WWW-Authenticate").value_or("");
    std::string scheme0 = lower(header.substr(0, header.find(' ')));
    method = scheme0 == "basic"    ? URLAuthenticationMethodHTTPBasic
             : scheme0 == "digest" ? URLAuthenticationMethodHTTPDigest
                                   : URLAuthenticationMethodDefault;
    realm = realmOf(header);
  }
  auto space = make<URLProtectionSpace>(url->host().value_or(""), url->port().value_or(defaultPort(scheme)),
                                        scheme, realm, method, proxy);
  Ref<URLCredential> proposed = trust ? nullptr : load->credential;
  if (!proposed && !trust && url->user() && url->password())
    proposed = URLCredential::credentialWithUser_password_persistence(*url->user(), *url->password(),
                                                                      URLCredentialPersistenceNone);
  std::optional<Error> error;
  if (trust) error = makeURLError(URLErrorServerCertificateUntrusted, url);
  Ref<URLResponse> failure = trust ? nullptr : Ref<URLResponse>(load->response);
  std::weak_ptr<URLConnection> sender = load->connection;
  auto challenge =
      make<URLAuthenticationChallenge>(space, proposed, load->authFailures, failure, error,
                                       std::weak_ptr<URLAuthenticationChallengeSender>(sender.lock()));
  load->pendingChallenge = challenge.get();
  load->challengeRef = challenge;
  load->challengeIsTrust = trust;
  if (load->automatic) {
    URLLoadingEngine::answerChallenge(load, challenge.get(),
                                      URLLoadingEngine::ChallengeAnswer::DefaultHandling, nullptr);
    return;
  }
  load->post([challenge](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
    d->connection_willSendRequestForAuthenticationChallenge(c, challenge);
  });
}

void Engine::checkTimeouts() {
  double now = clockNow();
  std::vector<std::shared_ptr<URLLoad>> expired;
  for (const auto& load : active_) {
    double timeout = load->request->timeoutInterval();
    if (timeout > 0 && now >= load->lastActivity + timeout) expired.push_back(load);
  }
  for (const auto& load : expired) end(load, makeURLError(URLErrorTimedOut, load->request->URL()));
}

void Engine::publishDeadlines() {
  std::vector<double> deadlines;
  for (const auto& load : active_) {
    double timeout = load->request->timeoutInterval();
    if (timeout > 0) deadlines.push_back(load->lastActivity + timeout);
  }
  std::lock_guard lock(deadlineMutex_);
  deadlines_ = std::move(deadlines);
}

void Engine::run() {
  for (;;) {
    std::vector<std::function<void()>> commands;
    unsigned long timeCheck;
    {
      std::unique_lock lock(mutex_);
      if (stopping_) {
        stopped_ = true;
        parked_.notify_all();
        for (;;) parked_.wait(lock);
      }
      commands.swap(commands_);
      timeCheck = timeCheckRequested_;
    }
    for (auto& command : commands) command();
    for (const auto& load : active_) {
      if (!load->deliveryHeld) continue;
      // Held back for its delegate, not idle: no time-out runs meanwhile.
      load->lastActivity = clockNow();
      if (load->connection && load->connection->queuedBodyBytes() >= URLConnection::kResumeQueuedBodyBytes)
        continue;
      load->deliveryHeld = false;
      curl_easy_pause(load->easy, CURLPAUSE_CONT);
    }
    int running = 0;
    curl_multi_perform(multi_, &running);
    // What this turn received goes out now; nothing waits for a chunk to fill.
    for (const auto& load : active_) load->postBody();
    if (active_.empty()) chunkBuffers().clear();
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      URLLoad* raw = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &raw);
      CURLcode code = msg->data.result;
      auto it = std::find_if(active_.begin(), active_.end(), [&](const auto& l) { return l.get() == raw; });
      if (it != active_.end()) {
        std::shared_ptr<URLLoad> load = *it;  // the set may drop its copy
        complete(load, code);
      }
    }
    checkTimeouts();
    publishDeadlines();
    {
      std::lock_guard lock(mutex_);
      timeCheckDone_ = timeCheck;
    }
    checked_.notify_all();
    int waitMs = 1000;
    if (!clockIsVirtual()) {
      double now = clockNow();
      for (const auto& load : active_) {
        double timeout = load->request->timeoutInterval();
        if (timeout > 0)
          waitMs = std::min(waitMs,
                            std::max(0, static_cast<int>((load->lastActivity + timeout - now) * 1000) + 1));
      }
    }
    {
      std::lock_guard lock(mutex_);
      if (!commands_.empty() || timeCheckRequested_ != timeCheckDone_) continue;
    }
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
  }
}

}  // namespace

namespace URLLoadingEngine {

void resumeHeldTransfers() {
  engine().perform([] {});
}

bool stopForExit(double timeoutSeconds) {
  Engine* e = madeEngine.load();
  return !e || e->stopForExit(timeoutSeconds);
}

std::shared_ptr<URLLoad> makeLoad(const Ref<URLConnection>& connection, const Ref<URLRequest>& request,
                                  bool automatic) {
  auto load = std::make_shared<URLLoad>();
  load->connection = connection;
  load->automatic = automatic;
  load->request = request->copy();
  return load;
}

void beginLoad(const std::shared_ptr<URLLoad>& load) {
  std::weak_ptr<URLLoad> weak = load;
  auto go = [weak](Ref<URLRequest> chosen) {
    bool queued = engine().perform([weak, chosen] {
      auto load = weak.lock();
      if (!load || load->ended) return;
      if (!chosen || !chosen->URL()) {
        engine().end(load, makeURLError(URLErrorCancelled, load->request->URL()));
        return;
      }
      {
        std::lock_guard lock(load->requestMutex);
        load->request = chosen;
      }
      engine().begin(load);
    });
    // The engine never saw it, so it is this thread's to end: failed at once, so that a
    // synchronous load made while the process exits returns instead of waiting for good.
    auto refused = weak.lock();
    if (queued || !refused || refused->ended) return;
    refused->ended = true;
    Error error = makeURLError(URLErrorCancelled, refused->request->URL());
    refused->post([error](const Ref<URLConnection>& c,
                          const Ref<URLConnectionDelegate>& d) { d->connection_didFailWithError(c, error); },
                  true);
    refused->connection = nullptr;
  };
  if (load->automatic) {
    go(load->request);
    return;
  }
  // The delegate sees the request before it goes out, as it sees every redirect.
  auto initial = load->request;
  load->post([go, initial](const Ref<URLConnection>& c, const Ref<URLConnectionDelegate>& d) {
    Ref<URLRequest> chosen = d->connection_willSendRequest_redirectResponse(c, initial, nullptr);
    go(chosen ? chosen->copy() : nullptr);
  });
}

void cancelLoad(const std::shared_ptr<URLLoad>& load) {
  if (!load) return;
  engine().perform([load] {
    if (load->ended) return;
    load->ended = true;
    Engine& e = engine();
    // end() would post a final callback; a cancelled load ends silently.
    load->connection = nullptr;
    e.end(load, std::nullopt);
  });
}

void answerChallenge(const std::shared_ptr<URLLoad>& load, const URLAuthenticationChallenge* challenge,
                     ChallengeAnswer answer, const Ref<URLCredential>& credential) {
  if (!load) return;
  engine().perform([load, challenge, answer, credential] {
    if (load->ended || load->pendingChallenge != challenge || !challenge) return;
    load->pendingChallenge = nullptr;
    auto keep = load->challengeRef;
    load->challengeRef = nullptr;
    const Ref<URL>& url = load->request->URL();
    ChallengeAnswer a = answer;
    Ref<URLCredential> cred = credential;
    if (a == ChallengeAnswer::DefaultHandling) {
      if (load->challengeIsTrust) {
        a = ChallengeAnswer::Cancel;
      } else if (load->authFailures == 0 && url->user() && url->password()) {
        a = ChallengeAnswer::UseCredential;
        cred = URLCredential::credentialWithUser_password_persistence(*url->user(), *url->password(),
                                                                      URLCredentialPersistenceNone);
      } else {
        a = ChallengeAnswer::ContinueWithout;
      }
    }
    if (a == ChallengeAnswer::UseCredential && !cred) a = ChallengeAnswer::ContinueWithout;
    if (load->challengeIsTrust) {
      if (a == ChallengeAnswer::UseCredential && cred->isTrust()) {
        load->trustAccepted = true;
        engine().begin(load);
      } else {
        engine().end(load, makeURLError(URLErrorServerCertificateUntrusted, url));
      }
      return;
    }
    switch (a) {
      case ChallengeAnswer::UseCredential:
        load->credential = cred;
        ++load->authFailures;
        engine().begin(load);
        break;
      case ChallengeAnswer::Cancel:
        engine().end(load, makeURLError(URLErrorUserCancelledAuthentication, url));
        break;
      default:
        deliverHeld(load);
        break;
    }
  });
}

Ref<URLRequest> currentRequest(const std::shared_ptr<URLLoad>& load) {
  if (!load) return nullptr;
  std::lock_guard lock(load->requestMutex);
  return load->request;
}

}  // namespace URLLoadingEngine
}  // namespace ns
