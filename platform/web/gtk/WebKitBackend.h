#pragma once
// The on-screen web engine: WebKitGTK in a native child over the web view, under the GTK
// presenter. Each view has an ephemeral web context of its own, so cookies and other website
// data live only as long as the view and are never shared with another view.
//
// Main-frame navigations and redirects are put to the resource-load delegate through WebKit's
// decide-policy (a nil answer cancels, another request is loaded instead); new-window actions
// go to the policy delegate. Subresource requests and responses are reported to the delegate,
// but its answer cannot change them: WebKit's UI process allows no rewriting of them.
//
// Pages run in WebKit's sandbox (bubblewrap) wherever it can start; where it cannot, one log
// line says why and pages run without it. A server certificate that fails WebKit's checks is
// accepted for its host when it verifies against the extra certificate authority file that URL
// loading trusts (PELORIN_EXTRA_CA_FILE).
#include <memory>
#include <optional>
#include <string>

#include "platform/web/WebViewBackend.h"

namespace wk::gtk {

// Sets what the web engine needs on this machine before any thread starts: without a GPU (no
// render node under /dev/dri) it composites nothing (WEBKIT_DISABLE_COMPOSITING_MODE, unless the
// environment already chose). Call at the top of main.
void prepareWebEngineEnvironment();

// Why WebKit's sandbox cannot start here (nullopt when it can): a trial run of `bubblewrap`
// with the namespaces the sandbox asks for.
std::optional<std::string> sandboxUnavailableReason(const std::string& bubblewrap = "/usr/bin/bwrap");

// Makes new web views use WebKitGTK while the presenter has a display; without one they keep
// the scripted back end.
void installWebKitBackend();

// The WebKitGTK back end for `view` (nullptr without a display).
std::unique_ptr<WebViewBackend> makeWebKitBackend(WebView& view);

}  // namespace wk::gtk
