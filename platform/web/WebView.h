#pragma once
// A web view: a view with a main frame that loads pages, answers a few scripts and tells its
// delegates about each resource load and each navigation that wants a new window. Delegates are
// objects reached through the runtime; each method is called only when the delegate responds to
// its selector:
//
// resource-load delegate
//   webView:resource:willSendRequest:redirectResponse:fromDataSource:  -> the request to send,
//       nil to cancel the load (first for the request itself, then for each redirect)
//   webView:resource:didReceiveResponse:fromDataSource:
//   webView:resource:didFinishLoadingFromDataSource:
//   webView:resource:didFailLoadingWithError:fromDataSource:  (an ns::ErrorObject carrying
//       "NSErrorFailingURLKey")
// policy delegate
//   webView:decidePolicyForNewWindowAction:request:newFrameName:decisionListener:  the listener's
//       `use` loads the request in this view (there are no other windows), `ignore` drops it;
//       without a policy delegate such a navigation is dropped.
//
// Main-thread only. The back end comes from the installed factory (the scripted one unless an
// on-screen engine was installed).
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/appkit/View.h"
#include "platform/core/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/web/WebDataSource.h"
#include "platform/web/WebNames.h"
#include "platform/web/WebViewBackend.h"

namespace wk {

class WebView;

class WebFrame : public ns::Object {
 public:
  WebFrame() = default;
  void loadRequest(const ns::Ref<ns::URLRequest>& request);
  void loadHTMLString_baseURL(const std::string& html, const ns::Ref<ns::URL>& baseURL);
  void stopLoading();
  // The data source of the page shown (or being loaded).
  ns::Ref<WebDataSource> dataSource() const { return dataSource_; }
  ns::Ref<WebView> webView() const { return view_.lock(); }
  std::string className() const override { return "WebFrame"; }

 private:
  friend class WebView;
  ns::Weak<WebView> view_;
  ns::Ref<WebDataSource> dataSource_;
};

// Answers a policy question once; later answers do nothing.
class WebPolicyDecisionListener : public ns::Object {
 public:
  explicit WebPolicyDecisionListener(std::function<void(bool use)> decide) : decide_(std::move(decide)) {}
  void use() { answer(true); }
  void ignore() { answer(false); }
  void download() { answer(false); }
  std::string className() const override { return "WebPolicyDecisionListener"; }

 private:
  void answer(bool use) {
    if (auto d = std::move(decide_)) {
      decide_ = nullptr;
      d(use);
    }
  }
  std::function<void(bool)> decide_;
};

// Stands for one resource load in the delegate calls.
class WebResourceIdentifier : public ns::Object {
 public:
  std::string className() const override { return "WebResourceIdentifier"; }
};

class WebView : public ak::View {
 public:
  using BackendFactory = std::function<std::unique_ptr<WebViewBackend>(WebView&)>;

  WebView();
  ~WebView() override;
  void initWithFrame(const ak::Rect& frame) override;

  // The factory new web views take their back end from (nullptr restores the scripted one).
  static void setBackendFactory(BackendFactory factory);
  // Whether a factory was installed (else new views get the scripted back end).
  static bool hasBackendFactory();

  ns::Ref<WebFrame> mainFrame() const { return mainFrame_; }
  bool isLoading() const;
  // "document.title" and "location.href" answer from the page; other scripts as the back end can.
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  std::string mainFrameURL() const;
  std::string mainFrameTitle() { return stringByEvaluatingJavaScriptFromString("document.title"); }

  ns::Ref<ns::Object> resourceLoadDelegate() const { return resourceLoadDelegate_.lock(); }
  void setResourceLoadDelegate(const ns::Ref<ns::Object>& delegate) { resourceLoadDelegate_ = delegate; }
  ns::Ref<ns::Object> policyDelegate() const { return policyDelegate_.lock(); }
  void setPolicyDelegate(const ns::Ref<ns::Object>& delegate) { policyDelegate_ = delegate; }

  // Acting as a person would (see WebViewBackend).
  bool clickLink(const std::string& match);
  bool submitForm(const std::string& match, const std::map<std::string, std::string>& values = {});

  WebViewBackend& backend() { return *backend_; }
  void drawRect(const ak::Rect& dirtyRect) override;
  bool isFlipped() const override { return true; }
  std::string className() const override { return "WebView"; }

  // ---- for back ends ----
  // A new data source for a main-frame load, made the frame's.
  ns::Ref<WebDataSource> beginMainFrameLoad(const ns::Ref<ns::URLRequest>& request);
  // The delegate's answer (the request itself when it does not answer; nullptr cancels).
  ns::Ref<ns::URLRequest> willSendRequest(const ns::Ref<WebResourceIdentifier>& identifier,
                                          const ns::Ref<ns::URLRequest>& request,
                                          const ns::Ref<ns::URLResponse>& redirectResponse,
                                          const ns::Ref<WebDataSource>& dataSource);
  void didReceiveResponse(const ns::Ref<WebResourceIdentifier>& identifier,
                          const ns::Ref<ns::URLResponse>& response, const ns::Ref<WebDataSource>& dataSource);
  void didFinishLoading(const ns::Ref<WebResourceIdentifier>& identifier,
                        const ns::Ref<WebDataSource>& dataSource);
  void didFailLoading(const ns::Ref<WebResourceIdentifier>& identifier, const ns::Error& error,
                      const ns::Ref<WebDataSource>& dataSource);
  // Asks the policy delegate about a navigation that wants a new window; `decide` runs once
  // with its answer (false when there is no delegate).
  void decideNewWindowAction(const ns::Ref<ns::URLRequest>& request, const std::string& frameName,
                             WebNavigationType type, std::function<void(bool use)> decide);

 private:
  std::unique_ptr<WebViewBackend> backend_;
  ns::Ref<WebFrame> mainFrame_;
  ns::Weak<ns::Object> resourceLoadDelegate_;
  ns::Weak<ns::Object> policyDelegate_;
};

}  // namespace wk
