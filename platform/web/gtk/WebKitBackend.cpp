#include "platform/web/gtk/WebKitBackend.h"

#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/web/WebView.h"
#include "platform/web/gtk/WebKitLibrary.h"

namespace wk::gtk {

namespace {

ns::Ref<ns::URLRequest> toRequest(WebKitURIRequest* request) {
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  auto url = uri ? ns::URL::URLWithString(uri) : nullptr;
  if (!url) return nullptr;
  auto out = ns::URLRequest::requestWithURL(url);
  if (const char* method = webkit_uri_request_get_http_method(request)) out->setHTTPMethod(method);
  return out;
}

ns::Ref<ns::URLResponse> toResponse(WebKitURIResponse* response) {
  const char* uri = response ? webkit_uri_response_get_uri(response) : nullptr;
  auto url = uri ? ns::URL::URLWithString(uri) : nullptr;
  if (!url) return nullptr;
  ns::HTTPHeaderFields fields;
  if (SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response)) {
    SoupMessageHeadersIter it;
    soup_message_headers_iter_init(&it, headers);
    const char *name = nullptr, *value = nullptr;
    while (soup_message_headers_iter_next(&it, &name, &value)) fields.add(name, value);
  }
  return ns::HTTPURLResponse::initWithURL_statusCode_HTTPVersion_headerFields(
      url, static_cast<long>(webkit_uri_response_get_status_code(response)), "HTTP/1.1", fields);
}

// WebKit's and GIO's errors as the URL loader reports them.
long urlErrorCode(const GError* error) {
  if (!error) return ns::URLErrorUnknown;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_NETWORK_UNREACHABLE:
        return ns::URLErrorCannotConnectToHost;
      case G_IO_ERROR_TIMED_OUT:
        return ns::URLErrorTimedOut;
      case G_IO_ERROR_CANCELLED:
        return ns::URLErrorCancelled;
      case G_IO_ERROR_BROKEN_PIPE:
        return ns::URLErrorNetworkConnectionLost;
      default:
        return ns::URLErrorUnknown;
    }
  }
  if (error->domain == G_RESOLVER_ERROR) return ns::URLErrorCannotFindHost;
  if (error->domain == G_TLS_ERROR) return ns::URLErrorSecureConnectionFailed;
  if (error->domain == WEBKIT_POLICY_ERROR && error->code == WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI)
    return ns::URLErrorUnsupportedURL;
  if (error->domain == WEBKIT_NETWORK_ERROR) {
    switch (error->code) {
      case WEBKIT_NETWORK_ERROR_CANCELLED:
        return ns::URLErrorCancelled;
      case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
        return ns::URLErrorUnsupportedURL;
      case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
        return ns::URLErrorFileDoesNotExist;
      default:
        return ns::URLErrorUnknown;
    }
  }
  return ns::URLErrorUnknown;
}

// The address as the trace shows it: without its query and fragment, which may carry a
// sign-in's codes.
std::string traceURL(const char* uri) {
  std::string out = uri ? uri : "";
  if (auto cut = out.find_first_of("?#"); cut != std::string::npos) out.resize(cut);
  return out;
}

// WebKit's signals come in orders that vary with the machine's load; with the verbose log on,
// each one the back end acts on is a line, so that a load that went wrong can be followed.
template <typename... Args>
void trace(std::string_view fmt, const Args&... args) {
  if (ns::logIsVerbose()) ns::Log(fmt, args...);
}

const char* loadEventName(WebKitLoadEvent event) {
  switch (event) {
    case WEBKIT_LOAD_STARTED:
      return "started";
    case WEBKIT_LOAD_REDIRECTED:
      return "redirected";
    case WEBKIT_LOAD_COMMITTED:
      return "committed";
    case WEBKIT_LOAD_FINISHED:
      return "finished";
  }
  return "unknown";
}

std::string trimmedScript(std::string s) {
  auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  while (!s.empty() && s.back() == ';') s.pop_back();
  return s;
}

// Whether `certificate` verifies for host:port against the extra certificate authorities that
// URL loading trusts besides the system's.
bool trustedByExtraAuthority(GTlsCertificate* certificate, const std::string& host, int port) {
  auto file = ns::URLLoading::extraCertificateAuthorityFile();
  if (!certificate || !file || file->empty()) return false;
  GError* error = nullptr;
  GTlsDatabase* database = g_tls_file_database_new(file->c_str(), &error);
  if (!database) {
    ns::LogWarning("pelorin: the extra certificate authority file %@ cannot be read: %@", *file,
                   std::string(error ? error->message : "unknown error"));
    g_clear_error(&error);
    return false;
  }
  GSocketConnectable* identity = g_network_address_new(host.c_str(), static_cast<guint16>(port));
  GTlsCertificateFlags flags =
      g_tls_database_verify_chain(database, certificate, G_TLS_DATABASE_PURPOSE_AUTHENTICATE_SERVER, identity,
                                  nullptr, G_TLS_DATABASE_VERIFY_NONE, nullptr, &error);
  const bool trusted = !error && flags == 0;
  g_clear_error(&error);
  g_object_unref(identity);
  g_object_unref(database);
  return trusted;
}

// Whether new web contexts turn WebKit's sandbox on: decided once, with one log line when it
// cannot run here. The environment's own switch (WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS) is
// WebKit's to obey.
bool sandboxWanted() {
  static const bool wanted = [] {
    if (std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS")) return true;
    auto reason = sandboxUnavailableReason();
    if (!reason) return true;
    ns::LogWarning(
        "pelorin: the web engine's sandbox cannot run on this machine (%@); web pages run without it",
        *reason);
    return false;
  }();
  return wanted;
}

class WebKitBackend;

constexpr guint kPlacementWatchMilliseconds = 200;
// How long a cancelled load waits for WebKit's word on the server's certificate.
constexpr double kCertificateSignalGrace = 10.0;
// How many times a load is sent again when WebKit still refuses a certificate already accepted.
constexpr int kCertificateResends = 3;

// How long fetching a server's certificate before a load may take.
constexpr guint kCertificateProbeSeconds = 10;

// A server's certificate fetched before WebKit is sent to it (see WebKitBackend::send).
struct CertificateProbe {
  std::weak_ptr<WebKitBackend*> backend;
  unsigned token = 0;
  ns::Ref<ns::URLRequest> request;
  std::string host;
  int port = 443;
  GTlsCertificate* certificate = nullptr;
  // Why the connection failed, when it failed before the certificate came.
  std::string failure = {};
  ~CertificateProbe() {
    if (certificate) g_object_unref(certificate);
  }
};

// A subresource's signal reaches the back end only while it lives.
struct ResourceWatch {
  std::weak_ptr<WebKitBackend*> backend;
  ns::Ref<WebResourceIdentifier> identifier;
};

class WebKitBackend : public WebViewBackend {
 public:
  explicit WebKitBackend(WebView& view) : view_(view) {
    // An ephemeral context per view: its cookie jar and caches are its own and leave no files.
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    context_ = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    webkit_web_context_set_sandbox_enabled(context_, sandboxWanted());
    webView_ = GTK_WIDGET(webkit_web_view_new_with_context(context_));
    g_object_ref_sink(webView_);
    auto* web = WEBKIT_WEB_VIEW(webView_);
    g_signal_connect(web, "decide-policy", G_CALLBACK(&WebKitBackend::onDecidePolicy), this);
    g_signal_connect(web, "load-changed", G_CALLBACK(&WebKitBackend::onLoadChanged), this);
    g_signal_connect(web, "load-failed", G_CALLBACK(&WebKitBackend::onLoadFailed), this);
    g_signal_connect(web, "resource-load-started", G_CALLBACK(&WebKitBackend::onResourceLoadStarted), this);
    g_signal_connect(web, "load-failed-with-tls-errors", G_CALLBACK(&WebKitBackend::onTLSErrors), this);
    g_signal_connect(web, "web-process-terminated", G_CALLBACK(&WebKitBackend::onWebProcessTerminated), this);
    auto self = std::static_pointer_cast<ak::View>(view_.shared_from_this());
    child_ = ak::gtk::attachNativeChild(self, webView_);
    std::weak_ptr<WebKitBackend*> alive = alive_;
    frameObserver_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        std::string(ak::ViewFrameDidChangeNotification), self, nullptr, [alive](const auto&) {
          if (auto a = alive.lock()) (*a)->placeChild();
        });
    watch_ = g_timeout_add(
        kPlacementWatchMilliseconds,
        +[](gpointer data) -> gboolean {
          static_cast<WebKitBackend*>(data)->placeChild();
          return G_SOURCE_CONTINUE;
        },
        this);
  }

  ~WebKitBackend() override {
    if (frameObserver_) ns::NotificationCenter::defaultCenter()->removeObserver(frameObserver_.get());
    alive_.reset();
    cancelProbe();
    if (watch_) g_source_remove(watch_);
    g_signal_handlers_disconnect_by_data(webView_, this);
    webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(webView_));
    child_.reset();
    g_object_unref(webView_);
    g_object_unref(context_);
  }

  void loadRequest(const ns::Ref<ns::URLRequest>& request) override {
    stopLoading();
    placeChild();
    begin(request);
    auto sent = view_.willSendRequest(identifier_, request, nullptr, source_);
    if (!sent || !sent->URL()) {
      end();
      return;
    }
    send(sent);
  }

  void loadHTMLString_baseURL(const std::string& html, const ns::Ref<ns::URL>& baseURL) override {
    stopLoading();
    placeChild();
    auto url = baseURL ? baseURL : ns::URL::URLWithString("about:blank");
    begin(ns::URLRequest::requestWithURL(url));
    source_->setData(html);
    approved_ = url->absoluteString();
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(webView_), html.c_str(), approved_.c_str());
  }

  void stopLoading() override {
    if (!loading_) return;
    end();
    webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(webView_));
  }

  bool isLoading() const override { return loading_; }

  std::string evaluateScript(const std::string& script) override {
    std::string s = trimmedScript(script);
    // Scripts run asynchronously in the web process; the title and the address are known here.
    if (s == "document.title") {
      // WebKit's own is the newest once it knows one; until then the one read from the page's text.
      const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(webView_));
      return title && *title ? title : pageTitle_;
    }
    if (s == "location.href" || s == "window.location.href" || s == "document.location.href" ||
        s == "document.URL") {
      auto url = currentURL();
      return url ? url->absoluteString() : std::string();
    }
    return {};
  }

  ns::Ref<ns::URL> currentURL() const override {
    const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(webView_));
    return uri && *uri ? ns::URL::URLWithString(uri) : nullptr;
  }

  // Places the native child again when the view's window, place or visibility changed.
  void placeChild() {
    if (!child_) return;
    Placement now;
    auto window = view_.window();
    now.window = window.get();
    if (window) {
      now.frame = view_.convertRect_toView(view_.bounds(), nullptr);
      now.windowHeight = window->frame().size.height;
    }
    now.hidden = view_.isHiddenOrHasHiddenAncestor();
    if (placed_ && now == *placed_) return;
    placed_ = now;
    child_->update();
  }

 private:
  void begin(const ns::Ref<ns::URLRequest>& request) {
    pending_.reset();
    identifier_ = ns::make<WebResourceIdentifier>();
    source_ = view_.beginMainFrameLoad(request);
    loading_ = true;
    started_ = false;
    committed_ = false;
    cancelSeen_ = false;
    failed_ = false;
    finishing_ = false;
    resentAfterSilentCancel_ = false;
    sentAgainForCertificate_ = 0;
    pageTitle_.clear();
  }

  void end() {
    cancelProbe();
    loading_ = false;
    finishing_ = false;
    approved_.clear();
    if (source_) source_->setLoading(false);
  }

  // Loads a request the delegate already answered for. WebKit's word on a certificate it refuses
  // is not always given: it may cancel the load without one. So a server that the extra
  // certificate authorities may vouch for has its certificate fetched here first, and WebKit is
  // told to accept it before it connects.
  void send(const ns::Ref<ns::URLRequest>& request) {
    source_->setRequest(request);
    started_ = false;
    if (probeCertificate(request)) return;
    sendToWebKit(request);
  }

  void sendToWebKit(const ns::Ref<ns::URLRequest>& request) {
    started_ = false;
    committed_ = false;
    cancelSeen_ = false;
    ++attempt_;
    approved_ = request->URL()->absoluteString();
    trace("pelorin: web view %p: attempt %u sent: %@", this, attempt_, traceURL(approved_.c_str()));
    WebKitURIRequest* native = webkit_uri_request_new(approved_.c_str());
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(native))
      for (const auto& [name, value] : request->allHTTPHeaderFields())
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
    webkit_web_view_load_request(WEBKIT_WEB_VIEW(webView_), native);
    g_object_unref(native);
  }

  // Starts fetching the certificate of `request`'s server when it is still unknown and the extra
  // certificate authorities are set; whether it did (the request is sent once it is done).
  bool probeCertificate(const ns::Ref<ns::URLRequest>& request) {
    const auto& url = request->URL();
    auto file = ns::URLLoading::extraCertificateAuthorityFile();
    if (!file || file->empty() || !url) return false;
    auto scheme = url->scheme();
    if (!scheme || g_ascii_strcasecmp(scheme->c_str(), "https") != 0) return false;
    const std::string host = url->host().value_or("");
    const int port = url->port().value_or(443);
    if (host.empty() || allowedHosts_.count(host)) return false;
    if (probedServers_.count(host + ":" + std::to_string(port))) return false;

    cancelProbe();
    auto* probe = new CertificateProbe{alive_, ++probes_, request, host, port};
    probeCancellable_ = g_cancellable_new();
    GSocketClient* client = g_socket_client_new();
    g_socket_client_set_tls(client, TRUE);
    g_socket_client_set_timeout(client, kCertificateProbeSeconds);
    g_signal_connect(client, "event", G_CALLBACK(&WebKitBackend::onProbeEvent), probe);
    GSocketConnectable* server = g_network_address_new(host.c_str(), static_cast<guint16>(port));
    trace("pelorin: web view %p: fetching the certificate of %@:%d", this, host, port);
    g_socket_client_connect_async(client, server, probeCancellable_, &WebKitBackend::onProbeConnected, probe);
    g_object_unref(server);
    return true;
  }

  void cancelProbe() {
    if (!probeCancellable_) return;
    g_cancellable_cancel(probeCancellable_);
    g_clear_object(&probeCancellable_);
  }

  static void onProbeEvent(GSocketClient*, GSocketClientEvent event, GSocketConnectable*,
                           GIOStream* connection, gpointer data) {
    if (event != G_SOCKET_CLIENT_TLS_HANDSHAKING || !G_IS_TLS_CONNECTION(connection)) return;
    g_signal_connect(connection, "accept-certificate", G_CALLBACK(&WebKitBackend::onProbeCertificate), data);
  }

  // Only the certificate was wanted: the handshake ends here.
  static gboolean onProbeCertificate(GTlsConnection*, GTlsCertificate* certificate, GTlsCertificateFlags,
                                     gpointer data) {
    auto* probe = static_cast<CertificateProbe*>(data);
    if (!probe->certificate) probe->certificate = G_TLS_CERTIFICATE(g_object_ref(certificate));
    return FALSE;
  }

  static void onProbeConnected(GObject* client, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CertificateProbe> probe(static_cast<CertificateProbe*>(data));
    GError* error = nullptr;
    // A server the system trusts completes the handshake; WebKit trusts it too.
    if (GSocketConnection* connection =
            g_socket_client_connect_finish(G_SOCKET_CLIENT(client), result, &error)) {
      g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
      g_object_unref(connection);
    }
    if (error && !probe->certificate) probe->failure = error->message;
    g_clear_error(&error);
    g_object_unref(client);
    auto alive = probe->backend.lock();
    if (!alive || !(*alive)->loading_ || (*alive)->probes_ != probe->token || !(*alive)->probeCancellable_)
      return;
    (*alive)->probed(*probe);
  }

  // Accepts the fetched certificate when the extra authorities vouch for it, then sends the load;
  // a server that could not be reached, or whose certificate nobody vouches for, is WebKit's to
  // judge and report.
  void probed(const CertificateProbe& probe) {
    g_clear_object(&probeCancellable_);
    probedServers_.insert(probe.host + ":" + std::to_string(probe.port));
    const bool vouched = trustedByExtraAuthority(probe.certificate, probe.host, probe.port);
    trace("pelorin: web view %p: certificate of %@:%d fetched %d, vouched for %d%@", this, probe.host,
          probe.port, static_cast<int>(probe.certificate != nullptr), static_cast<int>(vouched),
          probe.failure.empty() ? std::string() : " (" + probe.failure + ")");
    if (vouched) acceptCertificate(probe.host, probe.certificate);
    sendToWebKit(probe.request);
  }

  // Tells WebKit to take this certificate for the host from now on, and remembers it.
  void acceptCertificate(const std::string& host, GTlsCertificate* certificate) {
    webkit_web_context_allow_tls_certificate_for_host(context_, certificate, host.c_str());
    allowedHosts_.emplace(host, CertificateRef(G_TLS_CERTIFICATE(g_object_ref(certificate))));
  }

  // Answers a main-frame navigation: true to let WebKit go on.
  bool decideNavigation(WebKitNavigationAction* action) {
    auto request = toRequest(webkit_navigation_action_get_request(action));
    if (!request) return false;
    std::string uri = request->URL()->absoluteString();
    const bool redirect = webkit_navigation_action_is_redirect(action);
    if (!redirect && loading_ && uri == approved_) {
      approved_.clear();
      return true;
    }
    if (redirect && ongoing()) {
      // WebKit does not hand the redirect's response to the UI process before deciding; the
      // delegate is told which address redirected.
      auto from = source_->request() ? source_->request()->URL() : nullptr;
      auto response = ns::HTTPURLResponse::initWithURL_statusCode_HTTPVersion_headerFields(
          from ? from : request->URL(), 0, "HTTP/1.1", {});
      auto answer = view_.willSendRequest(identifier_, request, response, source_);
      if (!answer || !answer->URL()) {
        // The delegate took the redirect: nothing more is loaded or reported.
        end();
        return false;
      }
      return useOrReplace(request, answer);
    }
    // A navigation the page started (a link, a form, a script) or one of its frames. WebKit does
    // not say which frame navigates: the load becomes the main frame's when WebKit starts one.
    // One decided while the load's end is being told (its page's text fetched back for the
    // title) is a new load: the page moved on as soon as it had loaded.
    const bool ours = ongoing();
    auto identifier = ours ? identifier_ : ns::make<WebResourceIdentifier>();
    ns::Ref<WebDataSource> source = source_;
    if (!ours) {
      source = ns::make<WebDataSource>();
      source->setInitialRequest(request);
      source->setRequest(request);
      source->setWebFrame(view_.mainFrame());
    }
    auto answer = view_.willSendRequest(identifier, request, nullptr, source);
    if (!answer || !answer->URL()) return false;
    if (!ours) pending_ = Pending{identifier, answer};
    return useOrReplace(request, answer);
  }

  // A load under way whose end WebKit has not told yet.
  bool ongoing() const { return loading_ && !finishing_; }

  // Lets WebKit go on with `request`, or loads the delegate's other answer in its place.
  bool useOrReplace(const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::URLRequest>& answer) {
    if (answer->URL()->absoluteString() == request->URL()->absoluteString()) {
      if (ongoing()) source_->setRequest(answer);
      return true;
    }
    pending_.reset();
    std::weak_ptr<WebKitBackend*> alive = alive_;
    dispatch::async(dispatch::mainQueue(), [alive, answer] {
      auto a = alive.lock();
      if (!a) return;
      if ((*a)->finishing_) {
        (*a)->finish();
        if ((*a)->loading_) return;  // the delegate loaded something else when told of the end
      }
      if (!(*a)->loading_) (*a)->begin(answer);
      (*a)->send(answer);
    });
    return false;
  }

  void decideNewWindow(WebKitNavigationAction* action) {
    auto request = toRequest(webkit_navigation_action_get_request(action));
    if (!request) return;
    const char* frame = webkit_navigation_action_get_frame_name(action);
    auto type = static_cast<WebNavigationType>(webkit_navigation_action_get_navigation_type(action));
    std::weak_ptr<WebKitBackend*> alive = alive_;
    view_.decideNewWindowAction(request, frame ? frame : "", type, [alive, request](bool use) {
      if (!use) return;
      // There are no other windows: the navigation loads here, once WebKit's signal is over.
      dispatch::async(dispatch::mainQueue(), [alive, request] {
        if (auto a = alive.lock()) (*a)->loadRequest(request);
      });
    });
  }

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    auto* navigation = WEBKIT_IS_NAVIGATION_POLICY_DECISION(decision)
                           ? webkit_navigation_policy_decision_get_navigation_action(
                                 WEBKIT_NAVIGATION_POLICY_DECISION(decision))
                           : nullptr;
    switch (type) {
      case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        if (!navigation) return FALSE;
        const bool use = self->decideNavigation(navigation);
        WebKitURIRequest* request = webkit_navigation_action_get_request(navigation);
        trace("pelorin: web view %p: navigation to %@%s %s (loading %d, ending %d)", self,
              traceURL(request ? webkit_uri_request_get_uri(request) : nullptr),
              webkit_navigation_action_is_redirect(navigation) ? " (a redirect)" : "",
              use ? "allowed" : "ignored", self->loading_, self->finishing_);
        if (use) {
          webkit_policy_decision_use(decision);
        } else {
          webkit_policy_decision_ignore(decision);
        }
        return TRUE;
      }
      case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
        if (navigation) self->decideNewWindow(navigation);
        webkit_policy_decision_ignore(decision);
        return TRUE;
      default:
        return FALSE;
    }
  }

  static void onLoadChanged(WebKitWebView* web, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    trace(
        "pelorin: web view %p: load %s at %@ (loading %d, attempt %u started %d committed %d, cancelled %d)",
        self, loadEventName(event), traceURL(webkit_web_view_get_uri(web)), self->loading_, self->attempt_,
        self->started_, self->committed_, self->cancelSeen_);
    if (event == WEBKIT_LOAD_STARTED && !self->ongoing() && self->pending_) {
      // The page's own navigation reached the main frame. A load whose page's text is still on
      // its way back ends now, with the title known so far: its page is left.
      if (self->finishing_) {
        self->finish();
        if (!self->pending_) return;  // the delegate loaded something else when told of the end
      }
      auto pending = std::move(*self->pending_);
      self->pending_.reset();
      self->begin(pending.request);
      self->identifier_ = pending.identifier;
    }
    if (!self->loading_) return;
    // Events of a load stopped or taken earlier may still arrive; ours begin with its start.
    if (event == WEBKIT_LOAD_STARTED) self->started_ = true;
    if (!self->started_) return;
    if (event == WEBKIT_LOAD_COMMITTED) {
      self->committed_ = true;
      self->placeChild();
      WebKitWebResource* main = webkit_web_view_get_main_resource(web);
      if (auto response = toResponse(main ? webkit_web_resource_get_response(main) : nullptr)) {
        self->source_->setResponse(response);
        self->view_.didReceiveResponse(self->identifier_, response, self->source_);
      }
    } else if (event == WEBKIT_LOAD_FINISHED && !self->failed_ && !self->finishing_ &&
               (self->committed_ || !self->cancelSeen_)) {
      // (A cancelled attempt that never committed ends too; the page is not its.)
      // WebKit may tell the page's title only after its end, while the delegate reads the title
      // when told of the end: without one yet, the page's text is fetched back and its title read.
      const char* title = webkit_web_view_get_title(web);
      WebKitWebResource* main = webkit_web_view_get_main_resource(web);
      if ((title && *title) || !main) {
        self->finish();
        return;
      }
      self->finishing_ = true;
      webkit_web_resource_get_data(main, nullptr, &WebKitBackend::onPageData,
                                   new Finishing{self->alive_, self->identifier_});
    }
  }

  void finish() {
    trace("pelorin: web view %p: attempt %u finished", this, attempt_);
    auto identifier = identifier_;
    auto source = source_;
    end();
    view_.didFinishLoading(identifier, source);
  }

  struct Finishing {
    std::weak_ptr<WebKitBackend*> backend;
    ns::Ref<WebResourceIdentifier> identifier;
  };

  static void onPageData(GObject* object, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Finishing> finishing(static_cast<Finishing*>(data));
    gsize length = 0;
    GError* error = nullptr;
    guchar* bytes = webkit_web_resource_get_data_finish(WEBKIT_WEB_RESOURCE(object), result, &length, &error);
    std::string page = bytes ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string();
    g_free(bytes);
    g_clear_error(&error);
    auto alive = finishing->backend.lock();
    // A load stopped or replaced meanwhile has ended otherwise.
    if (!alive || !(*alive)->loading_ || (*alive)->identifier_ != finishing->identifier) return;
    auto* self = *alive;
    const char* uri = webkit_web_resource_get_uri(WEBKIT_WEB_RESOURCE(object));
    self->pageTitle_ = titleOfHTML(page, uri ? ns::URL::URLWithString(uri) : nullptr);
    self->finish();
  }

  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* failingURI, GError* error,
                               gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    trace(
        "pelorin: web view %p: load failed at %@: %s %d %s (loading %d, attempt %u started %d committed %d)",
        self, traceURL(failingURI), error ? g_quark_to_string(error->domain) : "", error ? error->code : 0,
        error ? error->message : "", self->loading_, self->attempt_, self->started_, self->committed_);
    // Loads stopped here or taken by the delegate are not failures.
    if (!self->loading_ || !self->started_) return TRUE;
    if (error && ((error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_CANCELLED) ||
                  (error->domain == WEBKIT_POLICY_ERROR &&
                   error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)))
      return TRUE;
    auto url = failingURI ? ns::URL::URLWithString(failingURI) : nullptr;
    // A certificate WebKit refuses also cancels the connection, and that cancellation comes
    // before or after the certificate's own signal, which says what happened (and may load the
    // page again once the extra authorities vouch for it), sometimes seconds apart. Before the
    // page committed, a cancellation counts only if nothing else ends the load meanwhile.
    if (error && error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED && !self->committed_) {
      self->cancelSeen_ = true;
      std::weak_ptr<WebKitBackend*> alive = self->alive_;
      dispatch::after(kCertificateSignalGrace, dispatch::mainQueue(), [alive, attempt = self->attempt_, url] {
        auto a = alive.lock();
        if (!a || !(*a)->loading_ || (*a)->attempt_ != attempt || (*a)->committed_) return;
        auto* backend = *a;
        trace("pelorin: web view %p: no word on cancelled attempt %u", backend, attempt);
        // Now and then WebKit cancels a load just after it starts and says nothing more, the
        // certificate being fine: the load is tried once more before it counts as cancelled.
        if (!backend->resentAfterSilentCancel_ && backend->source_ && backend->source_->request()) {
          backend->resentAfterSilentCancel_ = true;
          ns::Log("pelorin: the web engine cancelled the load of %@ without saying why; it is tried again",
                  url ? url->absoluteString() : std::string());
          backend->send(backend->source_->request());
          return;
        }
        backend->fail(ns::URLErrorCancelled, url);
      });
      return TRUE;
    }
    self->fail(urlErrorCode(error), url);
    // No error page: the view keeps what it showed.
    return TRUE;
  }

  // Sends the load's request again from the main queue; the failed attempt's own events are not
  // the new one's.
  void sendAgain() {
    started_ = false;
    auto request = source_->request();
    std::weak_ptr<WebKitBackend*> alive = alive_;
    dispatch::async(dispatch::mainQueue(), [alive, request] {
      if (auto a = alive.lock(); a && (*a)->loading_) (*a)->send(request);
    });
  }

  // Ends the load under way as failed with `code`, as the delegate learns of failures.
  void fail(long code, const ns::Ref<ns::URL>& url) {
    trace("pelorin: web view %p: attempt %u failed with %ld", this, attempt_, code);
    failed_ = true;
    auto identifier = identifier_;
    auto source = source_;
    end();
    view_.didFailLoading(identifier, ns::makeURLError(code, url), source);
  }

  // A certificate WebKit does not trust is accepted for its host once it verifies against the
  // extra certificate authorities; the page is then loaded again. Anything else fails the load.
  static gboolean onTLSErrors(WebKitWebView*, gchar* failingURI, GTlsCertificate* certificate,
                              GTlsCertificateFlags flags, gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    auto url = failingURI ? ns::URL::URLWithString(failingURI) : nullptr;
    const std::string host = url ? url->host().value_or("") : std::string();
    const int port = url && url->port() ? *url->port() : 443;
    trace(
        "pelorin: web view %p: certificate refused at %@ (flags %u, loading %d, attempt %u started %d, "
        "accepted before %d, sent again %d)",
        self, traceURL(failingURI), static_cast<unsigned>(flags), self->loading_, self->attempt_,
        self->started_, static_cast<int>(self->allowedHosts_.count(host)), self->sentAgainForCertificate_);
    if (!self->loading_ || !self->source_ || !self->source_->request() || host.empty()) {
      if (self->loading_) self->fail(ns::URLErrorServerCertificateUntrusted, url);
      return TRUE;
    }
    if (auto allowed = self->allowedHosts_.find(host); allowed != self->allowedHosts_.end()) {
      // The certificate accepted already: late word of the refused attempt (the load sent again
      // has not started), or a load that reached WebKit's network side before the acceptance did,
      // which is sent again a few times. Another certificate for the host fails the load.
      if (g_tls_certificate_is_same(allowed->second.get(), certificate)) {
        if (!self->started_) return TRUE;
        if (self->sentAgainForCertificate_ < kCertificateResends) {
          ++self->sentAgainForCertificate_;
          self->sendAgain();
          return TRUE;
        }
      }
    } else if (trustedByExtraAuthority(certificate, host, port)) {
      self->acceptCertificate(host, certificate);
      self->sendAgain();
      return TRUE;
    }
    if (self->loading_) self->fail(ns::URLErrorServerCertificateUntrusted, url);
    return TRUE;
  }

  // The page's process went (a crash, its memory limit, a sandbox that failed): said once in the
  // log, and a load under way fails instead of leaving a blank page waiting.
  static void onWebProcessTerminated(WebKitWebView* web, WebKitWebProcessTerminationReason reason,
                                     gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "it crashed"
                      : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "it ran out of memory"
                                                                           : "it was ended";
    ns::LogError("pelorin: the web engine's page process ended (%@); the page is not shown",
                 std::string(why));
    if (!self->loading_) return;
    const char* uri = webkit_web_view_get_uri(web);
    self->fail(ns::URLErrorNetworkConnectionLost, uri ? ns::URL::URLWithString(uri) : nullptr);
  }

  // Subresources are reported as they start and as their responses arrive; the delegate's answer
  // cannot change them (WebKit lets the UI process neither rewrite nor cancel them). Finishing
  // and failing are the main frame's, as the delegate knows them from the headless engine.
  static void onResourceLoadStarted(WebKitWebView* web, WebKitWebResource* resource,
                                    WebKitURIRequest* request, gpointer data) {
    auto* self = static_cast<WebKitBackend*>(data);
    if (resource == webkit_web_view_get_main_resource(web) || !self->source_) return;
    trace("pelorin: web view %p: resource %@ started", self,
          traceURL(request ? webkit_uri_request_get_uri(request) : nullptr));
    auto req = toRequest(request);
    if (!req) return;
    auto* watch = new ResourceWatch{self->alive_, ns::make<WebResourceIdentifier>()};
    self->view_.willSendRequest(watch->identifier, req, nullptr, self->source_);
    g_signal_connect_data(
        resource, "notify::response", G_CALLBACK(+[](WebKitWebResource* r, GParamSpec*, gpointer d) {
          auto* w = static_cast<ResourceWatch*>(d);
          auto a = w->backend.lock();
          if (!a || !(*a)->source_) return;
          if (auto response = toResponse(webkit_web_resource_get_response(r)))
            (*a)->view_.didReceiveResponse(w->identifier, response, (*a)->source_);
        }),
        watch, [](gpointer d, GClosure*) { delete static_cast<ResourceWatch*>(d); }, GConnectFlags(0));
  }

  WebView& view_;
  WebKitWebContext* context_ = nullptr;
  GtkWidget* webView_ = nullptr;
  std::shared_ptr<ak::gtk::NativeChild> child_;
  struct Placement {
    const void* window = nullptr;
    ak::Rect frame{};
    double windowHeight = 0;
    bool hidden = false;
    bool operator==(const Placement& o) const {
      return window == o.window && frame.origin.x == o.frame.origin.x && frame.origin.y == o.frame.origin.y &&
             frame.size.width == o.frame.size.width && frame.size.height == o.frame.size.height &&
             windowHeight == o.windowHeight && hidden == o.hidden;
    }
  };
  std::optional<Placement> placed_;
  // Views tell nobody when they join or leave a window: a light watch follows them.
  guint watch_ = 0;
  ns::Ref<ns::Object> frameObserver_;
  std::shared_ptr<WebKitBackend*> alive_ = std::make_shared<WebKitBackend*>(this);

  ns::Ref<WebResourceIdentifier> identifier_;
  ns::Ref<WebDataSource> source_;
  // The address the delegate already allowed for the load on its way to WebKit.
  std::string approved_;
  // A navigation of the page that the delegate allowed, until WebKit starts it in the main frame.
  struct Pending {
    ns::Ref<WebResourceIdentifier> identifier;
    ns::Ref<ns::URLRequest> request;
  };
  std::optional<Pending> pending_;
  bool loading_ = false;
  bool started_ = false;
  // Counts the requests sent to WebKit, so that a late word about one attempt is not taken for
  // the next one's.
  unsigned attempt_ = 0;
  // The attempt's page committed; a cancellation was seen before it did.
  bool committed_ = false;
  bool cancelSeen_ = false;
  // The load was sent again once after WebKit cancelled it without a word.
  bool resentAfterSilentCancel_ = false;
  bool failed_ = false;
  // The load ended and its page's text is being fetched back for its title.
  bool finishing_ = false;
  // The title read from the page's text at the load's end.
  std::string pageTitle_;
  // Hosts whose certificate the extra certificate authorities vouched for, with the certificate.
  struct CertificateUnref {
    void operator()(GTlsCertificate* certificate) const { g_object_unref(certificate); }
  };
  using CertificateRef = std::unique_ptr<GTlsCertificate, CertificateUnref>;
  std::map<std::string, CertificateRef> allowedHosts_;
  // Times the load was sent again for a certificate already accepted.
  int sentAgainForCertificate_ = 0;
  // Servers (host:port) whose certificate was fetched before a load, and the fetch under way.
  std::set<std::string> probedServers_;
  GCancellable* probeCancellable_ = nullptr;
  unsigned probes_ = 0;
};

}  // namespace

void prepareWebEngineEnvironment() {
  if (std::getenv("WEBKIT_DISABLE_COMPOSITING_MODE")) return;
  // Compositing without a GPU draws through a software GL that is slow and, on a virtual display,
  // can leave the page blank.
  if (!ak::gtk::hasRenderNode()) ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
}

std::optional<std::string> sandboxUnavailableReason(const std::string& bubblewrap) {
  if (::access(bubblewrap.c_str(), X_OK) != 0) return "bubblewrap is not installed at " + bubblewrap;
  // The namespaces and mounts WebKit's launcher asks bubblewrap for.
  const char* argv[] = {bubblewrap.c_str(),
                        "--die-with-parent",
                        "--unshare-pid",
                        "--unshare-uts",
                        "--unshare-ipc",
                        "--unshare-net",
                        "--unshare-cgroup-try",
                        "--ro-bind",
                        "/",
                        "/",
                        "--proc",
                        "/proc",
                        "--dev",
                        "/dev",
                        "true",
                        nullptr};
  gchar* errors = nullptr;
  gint status = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr,
                    nullptr, &errors, &status, &error)) {
    std::string reason =
        "bubblewrap cannot be started: " + std::string(error ? error->message : "unknown error");
    g_clear_error(&error);
    g_free(errors);
    return reason;
  }
  std::string text = errors ? errors : "";
  g_free(errors);
  if (g_spawn_check_wait_status(status, nullptr)) return std::nullopt;
  if (auto newline = text.find('\n'); newline != std::string::npos) text.resize(newline);
  if (text.empty()) text = "bubblewrap ended with status " + std::to_string(status);
  return text;
}

std::unique_ptr<WebViewBackend> makeWebKitBackend(WebView& view) {
  // Without the engine's library the view keeps the scripted back end (its opening logged why).
  if (!gdk_display_get_default() || !loadWebEngineLibrary()) return nullptr;
  return std::make_unique<WebKitBackend>(view);
}

void installWebKitBackend() {
  WebView::setBackendFactory([](WebView& view) { return makeWebKitBackend(view); });
}

}  // namespace wk::gtk
