#pragma once
// The engine behind a web view. The view owns one back end and reports through itself what the
// back end tells it (WebView's "for back ends" members). The scripted back end loads through the
// URL loader and parses pages without running scripts, for headless use and tests; an on-screen
// engine is added behind the same interface and installed with WebView::setBackendFactory.
#include <map>
#include <memory>
#include <string>

#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace wk {

class WebView;

class WebViewBackend {
 public:
  virtual ~WebViewBackend() = default;

  virtual void loadRequest(const ns::Ref<ns::URLRequest>& request) = 0;
  virtual void loadHTMLString_baseURL(const std::string& html, const ns::Ref<ns::URL>& baseURL) = 0;
  virtual void stopLoading() = 0;
  virtual bool isLoading() const = 0;
  // The result of a script as text ("" when it has none).
  virtual std::string evaluateScript(const std::string& script) = 0;
  // The page shown now (nullptr before one is).
  virtual ns::Ref<ns::URL> currentURL() const = 0;

  // Acting on the page as a person would: following the link whose text, id or href is `match`,
  // and submitting the form whose id or name is `match` ("" for the first) with the given
  // field values over the form's own. False when there is no such element.
  virtual bool clickLink(const std::string& match) { return false; }
  virtual bool submitForm(const std::string& match, const std::map<std::string, std::string>& values) {
    return false;
  }
};

// The scripted back end (ScriptedWebBackend.cpp).
std::unique_ptr<WebViewBackend> makeScriptedWebBackend(WebView& view);
// The title of an HTML page as the scripted back end reads it ("" when it has none).
std::string titleOfHTML(const std::string& html, const ns::Ref<ns::URL>& url);

}  // namespace wk
