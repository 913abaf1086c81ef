#pragma once
// The on-screen web engine: WebKitGTK in a native child over the web view, under the GTK
// presenter. Each view has an ephemeral web context of its own, so cookies and other website
// data live only as long as the view and are never shared with another view.
//
// Main-frame navigations and redirects are put to the resource-load delegate through WebKit's
// decide-policy (a nil answer cancels, another request is loaded instead); new-window actions
// go to the policy delegate. Subresource requests and responses are reported to the delegate,
// but its answer cannot change them: WebKit's UI process allows no rewriting of them.
#include <memory>

#include "platform/web/WebViewBackend.h"

namespace wk::gtk {

// Makes new web views use WebKitGTK while the presenter has a display; without one they keep
// the scripted back end.
void installWebKitBackend();

// The WebKitGTK back end for `view` (nullptr without a display).
std::unique_ptr<WebViewBackend> makeWebKitBackend(WebView& view);

}  // namespace wk::gtk
