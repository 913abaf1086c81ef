#include "platform/web/WebView.h"

#include <mutex>

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace wk {

namespace {

const ns::Sel kWillSendRequest("webView:resource:willSendRequest:redirectResponse:fromDataSource:");
const ns::Sel kDidReceiveResponse("webView:resource:didReceiveResponse:fromDataSource:");
const ns::Sel kDidFinishLoading("webView:resource:didFinishLoadingFromDataSource:");
const ns::Sel kDidFailLoading("webView:resource:didFailLoadingWithError:fromDataSource:");
const ns::Sel kDecideNewWindow(
    "webView:decidePolicyForNewWindowAction:request:newFrameName:decisionListener:");

struct FactorySlot {
  std::mutex lock;
  WebView::BackendFactory factory;
};

FactorySlot& factorySlot() {
  static ns::NoDestructor<FactorySlot> slot;
  return *slot;
}

}  // namespace

PL_CLASS_NAMED(WebView, "WebView", ak::View) {}
PL_CLASS_NAMED(WebFrame, "WebFrame", ns::Object) {
  cls.method<&WebFrame::loadRequest>("loadRequest:");
  cls.method<&WebFrame::stopLoading>("stopLoading");
}
PL_CLASS_NAMED(WebDataSource, "WebDataSource", ns::Object) {}
PL_CLASS_NAMED(WebPolicyDecisionListener, "WebPolicyDecisionListener", ns::Object) {
  cls.method<&WebPolicyDecisionListener::use>("use");
  cls.method<&WebPolicyDecisionListener::ignore>("ignore");
  cls.method<&WebPolicyDecisionListener::download>("download");
}

void WebFrame::loadRequest(const ns::Ref<ns::URLRequest>& request) {
  if (auto view = view_.lock(); view && request && request->URL()) view->backend().loadRequest(request);
}

void WebFrame::loadHTMLString_baseURL(const std::string& html, const ns::Ref<ns::URL>& baseURL) {
  if (auto view = view_.lock()) view->backend().loadHTMLString_baseURL(html, baseURL);
}

void WebFrame::stopLoading() {
  if (auto view = view_.lock()) view->backend().stopLoading();
}

WebView::WebView() = default;

WebView::~WebView() {
  if (backend_) backend_->stopLoading();
}

void WebView::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  mainFrame_ = ns::make<WebFrame>();
  mainFrame_->view_ = std::static_pointer_cast<WebView>(shared_from_this());
  BackendFactory factory;
  {
    std::lock_guard guard(factorySlot().lock);
    factory = factorySlot().factory;
  }
  backend_ = factory ? factory(*this) : nullptr;
  if (!backend_) backend_ = makeScriptedWebBackend(*this);
}

void WebView::setBackendFactory(BackendFactory factory) {
  std::lock_guard guard(factorySlot().lock);
  factorySlot().factory = std::move(factory);
}

bool WebView::hasBackendFactory() {
  std::lock_guard guard(factorySlot().lock);
  return static_cast<bool>(factorySlot().factory);
}

bool WebView::isLoading() const {
  return backend_ && backend_->isLoading();
}

std::string WebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  return backend_ ? backend_->evaluateScript(script) : std::string();
}

std::string WebView::mainFrameURL() const {
  auto url = backend_ ? backend_->currentURL() : nullptr;
  return url ? url->absoluteString() : std::string();
}

bool WebView::clickLink(const std::string& match) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  return backend_ && backend_->clickLink(match);
}

bool WebView::submitForm(const std::string& match, const std::map<std::string, std::string>& values) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  return backend_ && backend_->submitForm(match, values);
}

void WebView::drawRect(const ak::Rect& dirtyRect) {
  // Headless pages are not drawn; the view shows a blank page.
  ak::Color::colorWithWhite_alpha(1, 1)->set();
  ak::RectFill(dirtyRect);
}

ns::Ref<WebDataSource> WebView::beginMainFrameLoad(const ns::Ref<ns::URLRequest>& request) {
  auto source = ns::make<WebDataSource>();
  source->setInitialRequest(request);
  source->setRequest(request);
  source->setWebFrame(mainFrame_);
  source->setLoading(true);
  mainFrame_->dataSource_ = source;
  return source;
}

ns::Ref<ns::URLRequest> WebView::willSendRequest(const ns::Ref<WebResourceIdentifier>& identifier,
                                                 const ns::Ref<ns::URLRequest>& request,
                                                 const ns::Ref<ns::URLResponse>& redirectResponse,
                                                 const ns::Ref<WebDataSource>& dataSource) {
  auto delegate = resourceLoadDelegate();
  if (!delegate || !ns::respondsToSelector(delegate, kWillSendRequest)) return request;
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  return ns::send<ns::Ref<ns::URLRequest>>(delegate.get(), kWillSendRequest, self, identifier, request,
                                           redirectResponse, dataSource);
}

void WebView::didReceiveResponse(const ns::Ref<WebResourceIdentifier>& identifier,
                                 const ns::Ref<ns::URLResponse>& response,
                                 const ns::Ref<WebDataSource>& dataSource) {
  auto delegate = resourceLoadDelegate();
  if (!delegate || !ns::respondsToSelector(delegate, kDidReceiveResponse)) return;
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  ns::send<void>(delegate.get(), kDidReceiveResponse, self, identifier, response, dataSource);
}

void WebView::didFinishLoading(const ns::Ref<WebResourceIdentifier>& identifier,
                               const ns::Ref<WebDataSource>& dataSource) {
  auto delegate = resourceLoadDelegate();
  if (!delegate || !ns::respondsToSelector(delegate, kDidFinishLoading)) return;
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  ns::send<void>(delegate.get(), kDidFinishLoading, self, identifier, dataSource);
}

void WebView::didFailLoading(const ns::Ref<WebResourceIdentifier>& identifier, const ns::Error& error,
                             const ns::Ref<WebDataSource>& dataSource) {
  auto delegate = resourceLoadDelegate();
  if (!delegate || !ns::respondsToSelector(delegate, kDidFailLoading)) return;
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  ns::send<void>(delegate.get(), kDidFailLoading, self, identifier, ns::make<ns::ErrorObject>(error),
                 dataSource);
}

void WebView::decideNewWindowAction(const ns::Ref<ns::URLRequest>& request, const std::string& frameName,
                                    WebNavigationType type, std::function<void(bool use)> decide) {
  auto delegate = policyDelegate();
  if (!delegate || !ns::respondsToSelector(delegate, kDecideNewWindow)) {
    decide(false);
    return;
  }
  ns::Dictionary action;
  action.set(ns::Value(WebActionNavigationTypeKey), ns::Value(static_cast<long>(type)));
  action.set(ns::Value(WebActionModifierFlagsKey), ns::Value(0L));
  if (request && request->URL())
    action.set(ns::Value(WebActionOriginalURLKey),
               ns::Value(std::static_pointer_cast<ns::Object>(request->URL())));
  auto listener = ns::make<WebPolicyDecisionListener>(std::move(decide));
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  ns::send<void>(delegate.get(), kDecideNewWindow, self, action, request, frameName, listener);
}

}  // namespace wk
