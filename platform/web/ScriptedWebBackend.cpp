// The headless web engine: pages load through the URL loader (so redirects, cookies, TLS and
// errors are the loader's), are parsed with libxml2's HTML parser (no network, no external
// entities, at most kMaxPageBytes), and scripts are not run: "document.title" and
// "location.href" are answered from the parsed page, every other script with "". Links and
// forms are followed on request, as a person clicking them would.
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runloop/RunLoop.h"
#include "platform/web/WebView.h"

namespace wk {

namespace {

constexpr std::size_t kMaxPageBytes = 4 * 1024 * 1024;

struct Link {
  std::string text, id, href, target;
};

struct Form {
  std::string id, name, action, method, target;
  std::vector<std::pair<std::string, std::string>> fields;
};

struct Page {
  ns::Ref<ns::URL> url;
  ns::Ref<ns::URL> base;
  std::string title;
  std::vector<Link> links;
  std::vector<Form> forms;
};

std::string attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return {};
  std::string text(reinterpret_cast<char*>(value));
  xmlFree(value);
  return text;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Text content with white space collapsed and trimmed, as the page's title reads.
std::string collapsedText(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string raw = content ? reinterpret_cast<char*>(content) : "";
  if (content) xmlFree(content);
  std::string out;
  bool space = false;
  for (char c : raw) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

bool named(xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->name &&
         lower(reinterpret_cast<const char*>(node->name)) == name;
}

// Walks the tree without recursion (a hostile page may nest deeply), in document order. Each
// entry carries the form its fields belong to (-1: none), as an index since the list grows.
void collect(xmlNode* root, Page& page) {
  std::vector<std::pair<xmlNode*, long>> stack;
  if (root) stack.emplace_back(root, -1);
  while (!stack.empty()) {
    auto [n, formIndex] = stack.back();
    stack.pop_back();
    long inner = formIndex;
    Form* form = formIndex >= 0 ? &page.forms[static_cast<std::size_t>(formIndex)] : nullptr;
    if (n->type == XML_ELEMENT_NODE) {
      if (named(n, "title") && page.title.empty()) {
        page.title = collapsedText(n);
      } else if (named(n, "base") && !page.base) {
        std::string href = attribute(n, "href");
        if (!href.empty()) page.base = ns::URL::URLWithString_relativeToURL(href, page.url);
      } else if (named(n, "a")) {
        page.links.push_back(
            {collapsedText(n), attribute(n, "id"), attribute(n, "href"), attribute(n, "target")});
      } else if (named(n, "form")) {
        page.forms.push_back({attribute(n, "id"),
                              attribute(n, "name"),
                              attribute(n, "action"),
                              lower(attribute(n, "method")),
                              attribute(n, "target"),
                              {}});
        inner = static_cast<long>(page.forms.size()) - 1;
      } else if (form && named(n, "input")) {
        std::string type = lower(attribute(n, "type"));
        std::string name = attribute(n, "name");
        bool checkable = type == "checkbox" || type == "radio";
        bool skipped =
            type == "submit" || type == "button" || type == "image" || type == "reset" || type == "file";
        if (!name.empty() && !skipped &&
            (!checkable || xmlHasProp(n, reinterpret_cast<const xmlChar*>("checked"))))
          form->fields.emplace_back(name,
                                    checkable && !xmlHasProp(n, reinterpret_cast<const xmlChar*>("value"))
                                        ? "on"
                                        : attribute(n, "value"));
      } else if (form && named(n, "textarea")) {
        std::string name = attribute(n, "name");
        xmlChar* content = xmlNodeGetContent(n);
        if (!name.empty()) form->fields.emplace_back(name, content ? reinterpret_cast<char*>(content) : "");
        if (content) xmlFree(content);
      } else if (form && named(n, "select")) {
        std::string name = attribute(n, "name"), chosen;
        bool found = false;
        for (xmlNode* o = n->children; o; o = o->next) {
          if (!named(o, "option")) continue;
          std::string value = xmlHasProp(o, reinterpret_cast<const xmlChar*>("value")) ? attribute(o, "value")
                                                                                       : collapsedText(o);
          if (!found || xmlHasProp(o, reinterpret_cast<const xmlChar*>("selected"))) chosen = value;
          if (xmlHasProp(o, reinterpret_cast<const xmlChar*>("selected"))) break;
          found = true;
        }
        if (!name.empty()) form->fields.emplace_back(name, chosen);
      }
    }
    if (n->next) stack.emplace_back(n->next, formIndex);
    // A select's options were read above.
    if (n->children && !named(n, "select")) stack.emplace_back(n->children, inner);
  }
}

Page parse(const std::string& html, const ns::Ref<ns::URL>& url) {
  Page page;
  page.url = url;
  std::string name = url ? url->absoluteString() : "about:blank";
  htmlDocPtr doc =
      htmlReadMemory(html.data(), static_cast<int>(html.size()), name.c_str(), nullptr,
                     HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER);
  if (doc) {
    collect(xmlDocGetRootElement(doc), page);
    xmlFreeDoc(doc);
  }
  if (!page.base) page.base = url;
  return page;
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  auto allowed = ns::URLCharacterSet::unreservedCharacterSet();
  std::string out;
  for (auto& [k, v] : fields) {
    if (!out.empty()) out += '&';
    out += ns::stringByAddingPercentEncodingWithAllowedCharacters(k, allowed) + "=" +
           ns::stringByAddingPercentEncodingWithAllowedCharacters(v, allowed);
  }
  return out;
}

bool opensNewWindow(const std::string& target) {
  std::string t = lower(target);
  return !t.empty() && t != "_self" && t != "_top" && t != "_parent";
}

class ScriptedWebBackend;

// One main-frame load; the connection's delegate reaches it weakly.
struct Load {
  ScriptedWebBackend* backend = nullptr;
  ns::Ref<WebResourceIdentifier> identifier;
  ns::Ref<WebDataSource> source;
  ns::Ref<ns::URLConnection> connection;
  bool done = false;
};

class LoadDelegate : public ns::URLConnectionDelegate {
 public:
  explicit LoadDelegate(std::weak_ptr<Load> load) : load_(std::move(load)) {}
  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(
      const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLRequest>& request,
      const ns::Ref<ns::URLResponse>& redirect) override;
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override;
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection, const ns::Data& data) override;
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override;
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override;

 private:
  std::weak_ptr<Load> load_;
};

class ScriptedWebBackend : public WebViewBackend {
 public:
  explicit ScriptedWebBackend(WebView& view) : view_(view) {}
  ~ScriptedWebBackend() override { stopLoading(); }

  void loadRequest(const ns::Ref<ns::URLRequest>& request) override {
    stopLoading();
    auto load = std::make_shared<Load>();
    load->backend = this;
    load->identifier = ns::make<WebResourceIdentifier>();
    load->source = view_.beginMainFrameLoad(request);
    current_ = load;
    auto sent = view_.willSendRequest(load->identifier, request, nullptr, load->source);
    if (current_ != load) return;  // the delegate started something else
    if (!sent || !sent->URL()) {
      end(load);
      return;
    }
    load->source->setRequest(sent);
    load->connection = ns::URLConnection::initWithRequest_delegate_startImmediately(
        sent, ns::make<LoadDelegate>(load), false);
    if (!load->connection) {
      fail(load, ns::makeURLError(ns::URLErrorBadURL, sent->URL()));
      return;
    }
    load->connection->scheduleInRunLoop_forMode(ns::RunLoop::mainRunLoop(), ns::RunLoopCommonModes);
    load->connection->start();
  }

  void loadHTMLString_baseURL(const std::string& html, const ns::Ref<ns::URL>& baseURL) override {
    stopLoading();
    auto url = baseURL ? baseURL : ns::URL::URLWithString("about:blank");
    auto load = std::make_shared<Load>();
    load->backend = this;
    load->identifier = ns::make<WebResourceIdentifier>();
    load->source = view_.beginMainFrameLoad(ns::URLRequest::requestWithURL(url));
    load->source->setData(html.substr(0, kMaxPageBytes));
    current_ = load;
    // Loads finish later, as page loads do.
    std::weak_ptr<Load> weak = load;
    dispatch::async(dispatch::mainQueue(), [weak] {
      auto l = weak.lock();
      if (!l || l->done || l->backend->current_ != l) return;
      l->backend->finish(l, l->source->request()->URL());
    });
  }

  void stopLoading() override {
    if (!current_) return;
    auto load = std::move(current_);
    current_ = nullptr;
    if (load->connection) load->connection->cancel();
    load->done = true;
    load->source->setLoading(false);
  }

  bool isLoading() const override { return current_ && !current_->done; }

  std::string evaluateScript(const std::string& script) override {
    std::string s = script;
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    while (!s.empty() && s.back() == ';') s.pop_back();
    if (s == "document.title") return page_ ? page_->title : std::string();
    if (s == "location.href" || s == "window.location.href" || s == "document.location.href" ||
        s == "document.URL") {
      auto url = currentURL();
      return url ? url->absoluteString() : std::string();
    }
    return {};
  }

  ns::Ref<ns::URL> currentURL() const override { return page_ ? page_->url : nullptr; }

  bool clickLink(const std::string& match) override {
    if (!page_) return false;
    for (const auto& link : page_->links) {
      if (link.text != match && link.id != match && link.href != match) continue;
      if (link.href.empty()) return true;  // nothing to follow
      auto url = ns::URL::URLWithString_relativeToURL(link.href, page_->base);
      if (!url || lower(url->scheme().value_or("")) == "javascript") return true;
      navigate(ns::URLRequest::requestWithURL(url), link.target, WebNavigationTypeLinkClicked);
      return true;
    }
    return false;
  }

  bool submitForm(const std::string& match, const std::map<std::string, std::string>& values) override {
    if (!page_) return false;
    for (const auto& form : page_->forms) {
      if (!match.empty() && form.id != match && form.name != match) continue;
      auto fields = form.fields;
      for (const auto& value : values) {
        const std::string& name = value.first;
        auto it = std::find_if(fields.begin(), fields.end(), [&](auto& f) { return f.first == name; });
        if (it != fields.end()) {
          it->second = value.second;
        } else {
          fields.emplace_back(name, value.second);
        }
      }
      auto action =
          form.action.empty() ? page_->url : ns::URL::URLWithString_relativeToURL(form.action, page_->base);
      if (!action) return true;
      std::string body = formEncode(fields);
      ns::Ref<ns::URLRequest> request;
      if (form.method == "post") {
        request = ns::URLRequest::requestWithURL(action);
        request->setHTTPMethod("POST");
        request->setValue_forHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
        request->setHTTPBody(ns::Data(body));
      } else {
        std::string text = action->absoluteString();
        auto cut = text.find_first_of("?#");
        if (cut != std::string::npos) text.resize(cut);
        request = ns::URLRequest::requestWithURL(ns::URL::URLWithString(text + "?" + body));
      }
      navigate(request, form.target, WebNavigationTypeFormSubmitted);
      return true;
    }
    return false;
  }

  // ---- the load's progress, from its connection ----
  ns::Ref<ns::URLRequest> redirect(const std::shared_ptr<Load>& load, const ns::Ref<ns::URLRequest>& request,
                                   const ns::Ref<ns::URLResponse>& response) {
    if (!response) return request;  // the first request was put to the delegate already
    auto answer = view_.willSendRequest(load->identifier, request, response, load->source);
    if (load->done) return nullptr;
    if (!answer || !answer->URL()) {
      // The delegate took the redirect: nothing more is loaded or reported.
      if (load->connection) load->connection->cancel();
      end(load);
      return nullptr;
    }
    load->source->setRequest(answer);
    return answer;
  }

  void received(const std::shared_ptr<Load>& load, const ns::Ref<ns::URLResponse>& response) {
    load->source->setResponse(response);
    view_.didReceiveResponse(load->identifier, response, load->source);
  }

  void data(const std::shared_ptr<Load>& load, const ns::Data& bytes) {
    if (load->source->length() + bytes.length() > kMaxPageBytes) {
      if (load->connection) load->connection->cancel();
      auto url = load->source->request() ? load->source->request()->URL() : nullptr;
      fail(load, ns::makeURLError(ns::URLErrorDataLengthExceedsMaximum, url));
      return;
    }
    load->source->appendData(bytes);
  }

  void finish(const std::shared_ptr<Load>& load, ns::Ref<ns::URL> url) {
    if (!url) url = load->source->request() ? load->source->request()->URL() : nullptr;
    page_ = parse(load->source->data().toString(), url);
    end(load);
    view_.didFinishLoading(load->identifier, load->source);
  }

  void fail(const std::shared_ptr<Load>& load, const ns::Error& error) {
    end(load);
    view_.didFailLoading(load->identifier, error, load->source);
  }

 private:
  void end(const std::shared_ptr<Load>& load) {
    load->done = true;
    load->source->setLoading(false);
    if (current_ == load) current_ = nullptr;
  }

  void navigate(const ns::Ref<ns::URLRequest>& request, const std::string& target, WebNavigationType type) {
    if (!opensNewWindow(target)) {
      loadRequest(request);
      return;
    }
    // There are no other windows: a navigation the policy delegate lets through loads here.
    std::weak_ptr<bool> alive = alive_;
    view_.decideNewWindowAction(request, target, type, [this, alive, request](bool use) {
      if (use && !alive.expired()) loadRequest(request);
    });
  }

  WebView& view_;
  std::shared_ptr<Load> current_;
  std::optional<Page> page_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

ns::Ref<ns::URLRequest> LoadDelegate::connection_willSendRequest_redirectResponse(
    const ns::Ref<ns::URLConnection>&, const ns::Ref<ns::URLRequest>& request,
    const ns::Ref<ns::URLResponse>& redirect) {
  auto load = load_.lock();
  if (!load || load->done) return nullptr;
  return load->backend->redirect(load, request, redirect);
}

void LoadDelegate::connection_didReceiveResponse(const ns::Ref<ns::URLConnection>&,
                                                 const ns::Ref<ns::URLResponse>& response) {
  if (auto load = load_.lock(); load && !load->done) load->backend->received(load, response);
}

void LoadDelegate::connection_didReceiveData(const ns::Ref<ns::URLConnection>&, const ns::Data& data) {
  if (auto load = load_.lock(); load && !load->done) load->backend->data(load, data);
}

void LoadDelegate::connectionDidFinishLoading(const ns::Ref<ns::URLConnection>&) {
  if (auto load = load_.lock(); load && !load->done) {
    auto response = load->source->response();
    load->backend->finish(load, response ? response->URL() : nullptr);
  }
}

void LoadDelegate::connection_didFailWithError(const ns::Ref<ns::URLConnection>&, const ns::Error& error) {
  if (auto load = load_.lock(); load && !load->done) load->backend->fail(load, error);
}

}  // namespace

std::unique_ptr<WebViewBackend> makeScriptedWebBackend(WebView& view) {
  return std::make_unique<ScriptedWebBackend>(view);
}

std::string titleOfHTML(const std::string& html, const ns::Ref<ns::URL>& url) {
  return parse(html.size() > kMaxPageBytes ? html.substr(0, kMaxPageBytes) : html, url).title;
}

}  // namespace wk
