// WebKitGTK is opened when the first web view needs it, not with the process: with the libraries
// it brings (GStreamer, its media codecs, JavaScriptCore...) its loading and linking cost every
// start about 90 ms before main(), for a sign-in page that most runs never show. The back end
// calls WebKit's functions as its headers declare them; each one here forwards to the library,
// resolved once. makeWebKitBackend opens the library before a view is made, so none of them is
// reached without it.
#include "platform/web/gtk/WebKitLibrary.h"

#include <webkit2/webkit2.h>

#include "platform/core/LazyLibrary.h"
#include "platform/core/NoDestructor.h"

namespace {

ns::LazyLibrary& webEngineLibrary() {
  static ns::NoDestructor<ns::LazyLibrary> library("libwebkit2gtk-4.1.so.0", "web engine");
  return *library;
}

}  // namespace

namespace wk::gtk {

bool loadWebEngineLibrary() {
  return webEngineLibrary().load();
}

}  // namespace wk::gtk

#define PL_WEBKIT_FORWARD(type, name, fallback, parameters, arguments) \
  PL_LAZY_FORWARD(webEngineLibrary(), type, name, fallback, parameters, arguments)
#define PL_WEBKIT_FORWARD_VOID(name, parameters, arguments) \
  PL_LAZY_FORWARD_VOID(webEngineLibrary(), name, parameters, arguments)

// Types and error domains.
PL_WEBKIT_FORWARD(GType, webkit_web_view_get_type, G_TYPE_INVALID, (void), ())
PL_WEBKIT_FORWARD(GType, webkit_web_resource_get_type, G_TYPE_INVALID, (void), ())
PL_WEBKIT_FORWARD(GType, webkit_navigation_policy_decision_get_type, G_TYPE_INVALID, (void), ())
PL_WEBKIT_FORWARD(GQuark, webkit_network_error_quark, 0, (void), ())
PL_WEBKIT_FORWARD(GQuark, webkit_policy_error_quark, 0, (void), ())

// Contexts and views.
PL_WEBKIT_FORWARD(WebKitWebsiteDataManager*, webkit_website_data_manager_new_ephemeral, nullptr, (void), ())
PL_WEBKIT_FORWARD(WebKitWebContext*, webkit_web_context_new_with_website_data_manager, nullptr,
                  (WebKitWebsiteDataManager * manager), (manager))
PL_WEBKIT_FORWARD_VOID(webkit_web_context_set_sandbox_enabled, (WebKitWebContext * context, gboolean enabled),
                       (context, enabled))
PL_WEBKIT_FORWARD_VOID(webkit_web_context_allow_tls_certificate_for_host,
                       (WebKitWebContext * context, GTlsCertificate* certificate, const gchar* host),
                       (context, certificate, host))
PL_WEBKIT_FORWARD(GtkWidget*, webkit_web_view_new_with_context, nullptr, (WebKitWebContext * context),
                  (context))
PL_WEBKIT_FORWARD_VOID(webkit_web_view_load_request, (WebKitWebView * web_view, WebKitURIRequest* request),
                       (web_view, request))
PL_WEBKIT_FORWARD_VOID(webkit_web_view_load_html,
                       (WebKitWebView * web_view, const gchar* content, const gchar* base_uri),
                       (web_view, content, base_uri))
PL_WEBKIT_FORWARD_VOID(webkit_web_view_stop_loading, (WebKitWebView * web_view), (web_view))
PL_WEBKIT_FORWARD(const gchar*, webkit_web_view_get_title, nullptr, (WebKitWebView * web_view), (web_view))
PL_WEBKIT_FORWARD(const gchar*, webkit_web_view_get_uri, nullptr, (WebKitWebView * web_view), (web_view))
PL_WEBKIT_FORWARD(WebKitWebResource*, webkit_web_view_get_main_resource, nullptr, (WebKitWebView * web_view),
                  (web_view))

// Requests, responses and resources.
PL_WEBKIT_FORWARD(WebKitURIRequest*, webkit_uri_request_new, nullptr, (const gchar* uri), (uri))
PL_WEBKIT_FORWARD(const gchar*, webkit_uri_request_get_uri, nullptr, (WebKitURIRequest * request), (request))
PL_WEBKIT_FORWARD(const gchar*, webkit_uri_request_get_http_method, nullptr, (WebKitURIRequest * request),
                  (request))
PL_WEBKIT_FORWARD(SoupMessageHeaders*, webkit_uri_request_get_http_headers, nullptr,
                  (WebKitURIRequest * request), (request))
PL_WEBKIT_FORWARD(const gchar*, webkit_uri_response_get_uri, nullptr, (WebKitURIResponse * response),
                  (response))
PL_WEBKIT_FORWARD(guint, webkit_uri_response_get_status_code, 0, (WebKitURIResponse * response), (response))
PL_WEBKIT_FORWARD(SoupMessageHeaders*, webkit_uri_response_get_http_headers, nullptr,
                  (WebKitURIResponse * response), (response))
PL_WEBKIT_FORWARD(const gchar*, webkit_web_resource_get_uri, nullptr, (WebKitWebResource * resource),
                  (resource))
PL_WEBKIT_FORWARD(WebKitURIResponse*, webkit_web_resource_get_response, nullptr,
                  (WebKitWebResource * resource), (resource))
PL_WEBKIT_FORWARD_VOID(webkit_web_resource_get_data,
                       (WebKitWebResource * resource, GCancellable* cancellable, GAsyncReadyCallback callback,
                        gpointer user_data),
                       (resource, cancellable, callback, user_data))
PL_WEBKIT_FORWARD(guchar*, webkit_web_resource_get_data_finish, nullptr,
                  (WebKitWebResource * resource, GAsyncResult* result, gsize* length, GError** error),
                  (resource, result, length, error))

// Navigation and policy decisions.
PL_WEBKIT_FORWARD(WebKitNavigationAction*, webkit_navigation_policy_decision_get_navigation_action, nullptr,
                  (WebKitNavigationPolicyDecision * decision), (decision))
PL_WEBKIT_FORWARD(WebKitURIRequest*, webkit_navigation_action_get_request, nullptr,
                  (WebKitNavigationAction * navigation), (navigation))
PL_WEBKIT_FORWARD(WebKitNavigationType, webkit_navigation_action_get_navigation_type,
                  WEBKIT_NAVIGATION_TYPE_OTHER, (WebKitNavigationAction * navigation), (navigation))
PL_WEBKIT_FORWARD(gboolean, webkit_navigation_action_is_redirect, FALSE,
                  (WebKitNavigationAction * navigation), (navigation))
PL_WEBKIT_FORWARD(const gchar*, webkit_navigation_action_get_frame_name, nullptr,
                  (WebKitNavigationAction * navigation), (navigation))
PL_WEBKIT_FORWARD_VOID(webkit_policy_decision_use, (WebKitPolicyDecision * decision), (decision))
PL_WEBKIT_FORWARD_VOID(webkit_policy_decision_ignore, (WebKitPolicyDecision * decision), (decision))

// The message headers of requests and responses (libsoup, which WebKit brings).
PL_WEBKIT_FORWARD_VOID(soup_message_headers_iter_init,
                       (SoupMessageHeadersIter * iter, SoupMessageHeaders* hdrs), (iter, hdrs))
PL_WEBKIT_FORWARD(gboolean, soup_message_headers_iter_next, FALSE,
                  (SoupMessageHeadersIter * iter, const char** name, const char** value), (iter, name, value))
PL_WEBKIT_FORWARD_VOID(soup_message_headers_replace,
                       (SoupMessageHeaders * hdrs, const char* name, const char* value), (hdrs, name, value))
