#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/Make.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"
#include "platform/web/WebView.h"

namespace web_test {

// A resource-load and policy delegate that records what it is told and answers as set up.
class RecordingDelegate : public ns::Object {
 public:
  struct Sent {
    std::string url;
    bool redirect = false;
  };
  std::vector<Sent> sent;
  std::vector<long> statuses;
  int finished = 0;
  std::vector<ns::Error> failures;
  std::vector<std::string> newWindows;  // frame name and URL
  std::function<ns::Ref<ns::URLRequest>(const ns::Ref<ns::URLRequest>&, bool redirect)> answer;
  std::function<void(const ns::Ref<wk::WebPolicyDecisionListener>&)> decide;
  ns::Dictionary lastAction;

  ns::Ref<ns::URLRequest> willSend(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::URLRequest> request,
                                   ns::Ref<ns::URLResponse> redirect, ns::Ref<wk::WebDataSource>) {
    sent.push_back({request->URL()->absoluteString(), redirect != nullptr});
    return answer ? answer(request, redirect != nullptr) : request;
  }
  void didReceive(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::URLResponse> response,
                  ns::Ref<wk::WebDataSource>) {
    auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
    statuses.push_back(http ? http->statusCode() : 0);
  }
  void didFinish(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<wk::WebDataSource>) { ++finished; }
  void didFail(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::ErrorObject> error,
               ns::Ref<wk::WebDataSource>) {
    failures.push_back(error->error());
  }
  void newWindow(ns::Ref<wk::WebView>, ns::Dictionary action, ns::Ref<ns::URLRequest> request,
                 std::string frame, ns::Ref<wk::WebPolicyDecisionListener> listener) {
    lastAction = action;
    newWindows.push_back(frame + " " + request->URL()->absoluteString());
    if (decide) {
      decide(listener);
    } else {
      listener->ignore();
    }
  }
  std::string className() const override { return "RecordingWebDelegate"; }
};

// A delegate that answers none of the selectors.
class SilentDelegate : public ns::Object {
 public:
  std::string className() const override { return "SilentWebDelegate"; }
};

PL_CLASS_NAMED(RecordingDelegate, "RecordingWebDelegate", ns::Object) {
  cls.method<&RecordingDelegate::willSend>(
      "webView:resource:willSendRequest:redirectResponse:fromDataSource:");
  cls.method<&RecordingDelegate::didReceive>("webView:resource:didReceiveResponse:fromDataSource:");
  cls.method<&RecordingDelegate::didFinish>("webView:resource:didFinishLoadingFromDataSource:");
  cls.method<&RecordingDelegate::didFail>("webView:resource:didFailLoadingWithError:fromDataSource:");
  cls.method<&RecordingDelegate::newWindow>(
      "webView:decidePolicyForNewWindowAction:request:newFrameName:decisionListener:");
}
PL_CLASS_NAMED(SilentDelegate, "SilentWebDelegate", ns::Object) {}

namespace {

constexpr double kWait = 30;

class WebViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The sign-in page redirects to the approval page, whose title carries the code.
    server.canned("GET", "/signin", pltest::FakeReply::redirect(302, "/approval"));
    server.canned("GET", "/approval",
                  pltest::FakeReply::text(200,
                                          "<html><head><title>\n  Success code=4/abc\n</title></head>"
                                          "<body><a id=help href='/help' target='_blank'>Help</a>"
                                          "<a href='next'>Next</a></body></html>",
                                          "text/html"));
    view = ak::make<wk::WebView>(ak::MakeRect(0, 0, 400, 300));
    delegate = ns::make<RecordingDelegate>();
    view->setResourceLoadDelegate(delegate);
    view->setPolicyDelegate(delegate);
  }
  void load(const std::string& path) {
    view->mainFrame()->loadRequest(
        ns::URLRequest::requestWithURL(ns::URL::URLWithString(server.URLForPath(path))));
  }
  bool waitForEnd() {
    return pltest::pumpUntil([&] { return !view->isLoading(); }, kWait);
  }
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (auto& r : server.requests()) out.push_back(r.path);
    return out;
  }

  pltest::Sandbox sandbox;
  pltest::FakeServer server;
  ns::Ref<wk::WebView> view;
  ns::Ref<RecordingDelegate> delegate;
};

TEST_F(WebViewTest, FollowsTheRedirectAndReadsTheTitle) {
  load("/signin");
  EXPECT_TRUE(view->isLoading());
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(delegate->sent.size(), 2u);
  EXPECT_EQ(delegate->sent[0].url, server.URLForPath("/signin"));
  EXPECT_FALSE(delegate->sent[0].redirect);
  EXPECT_EQ(delegate->sent[1].url, server.URLForPath("/approval"));
  EXPECT_TRUE(delegate->sent[1].redirect);
  EXPECT_EQ(delegate->statuses, std::vector<long>{200});
  EXPECT_EQ(delegate->finished, 1);
  EXPECT_TRUE(delegate->failures.empty());
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("document.title"), "Success code=4/abc");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString(" location.href; "), server.URLForPath("/approval"));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("alert(1)"), "");
  auto source = view->mainFrame()->dataSource();
  ASSERT_TRUE(source);
  EXPECT_EQ(source->initialRequest()->URL()->absoluteString(), server.URLForPath("/signin"));
  EXPECT_NE(source->data().toString().find("Success"), std::string::npos);
}

TEST_F(WebViewTest, NilForTheRedirectCancelsTheLoad) {
  delegate->answer = [](const ns::Ref<ns::URLRequest>& request, bool redirect) {
    return redirect ? nullptr : request;
  };
  load("/signin");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->sent.size(), 2u);
  EXPECT_EQ(delegate->finished, 0);
  EXPECT_TRUE(delegate->failures.empty());
  // A later request shows the server's log is complete: "/approval" never came.
  load("/approval");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(paths(), (std::vector<std::string>{"/signin", "/approval"}));
  EXPECT_EQ(delegate->finished, 1);
}

TEST_F(WebViewTest, TheDelegatesRequestIsTheOneSent) {
  server.route("GET", "/echo", [](const pltest::FakeRequest& r) {
    return pltest::FakeReply::text(200, "<title>" + r.header("Cookie").value_or("none") + "</title>",
                                   "text/html");
  });
  delegate->answer = [](const ns::Ref<ns::URLRequest>& request, bool) {
    auto copy = request->mutableCopy();
    copy->setHTTPShouldHandleCookies(false);
    copy->setValue_forHTTPHeaderField("jar=private", "Cookie");
    return copy;
  };
  load("/echo");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "jar=private");
  // No answer at all: the first request goes unchanged.
  delegate->answer = [](const ns::Ref<ns::URLRequest>&, bool) { return ns::Ref<ns::URLRequest>(); };
  load("/echo");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(WebViewTest, RefusedConnectionFailsWithTheFailingURL) {
  pltest::RefusingLoopbackPort refusing;
  const int port = refusing.port();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/signin";
  view->mainFrame()->loadRequest(ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !delegate->failures.empty(); }, kWait));
  const ns::Error& error = delegate->failures[0];
  EXPECT_EQ(error.domain(), ns::NSURLErrorDomain);
  EXPECT_EQ(error.code(), ns::URLErrorCannotConnectToHost);
  const ns::Value* failing = error.userInfo().find(ns::Value(ns::NSURLErrorFailingURLErrorKey));
  ASSERT_TRUE(failing && failing->isObject());
  auto failingURL = std::dynamic_pointer_cast<ns::URL>(failing->object());
  ASSERT_TRUE(failingURL);
  EXPECT_EQ(failingURL->absoluteString(), url);
  EXPECT_FALSE(view->isLoading());
  EXPECT_EQ(delegate->finished, 0);
}

TEST_F(WebViewTest, LinksAndNewWindowPolicy) {
  server.canned("GET", "/help", pltest::FakeReply::text(200, "<title>Help</title>", "text/html"));
  server.canned("GET", "/next", pltest::FakeReply::text(200, "<title>Next page</title>", "text/html"));
  load("/approval");
  ASSERT_TRUE(waitForEnd());

  // target="_blank": the policy delegate is asked; ignoring it loads nothing.
  ASSERT_TRUE(view->clickLink("Help"));
  ASSERT_EQ(delegate->newWindows.size(), 1u);
  EXPECT_EQ(delegate->newWindows[0], "_blank " + server.URLForPath("/help"));
  EXPECT_EQ(delegate->lastAction[ns::Value(wk::WebActionNavigationTypeKey)].integerValue(),
            wk::WebNavigationTypeLinkClicked);
  EXPECT_FALSE(view->isLoading());
  // Using it loads the page here.
  delegate->decide = [](const ns::Ref<wk::WebPolicyDecisionListener>& l) { l->use(); };
  ASSERT_TRUE(view->clickLink("help"));  // by id
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "Help");

  // A plain link is followed, relative to the page.
  load("/approval");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(view->clickLink("Next"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "Next page");
  EXPECT_FALSE(view->clickLink("No such link"));

  // Without a policy delegate a new-window link goes nowhere.
  view->setPolicyDelegate(ns::make<SilentDelegate>());
  load("/approval");
  ASSERT_TRUE(waitForEnd());
  std::size_t before = server.requestCount();
  ASSERT_TRUE(view->clickLink("Help"));
  EXPECT_FALSE(view->isLoading());
  EXPECT_EQ(server.requestCount(), before);
}

TEST_F(WebViewTest, FormsAreSubmittedWithTheirFields) {
  server.canned(
      "GET", "/login",
      pltest::FakeReply::text(200,
                              "<title>Sign in</title><form id=f method=POST action='/check'>"
                              "<input type=hidden name=state value='s 1'><input name=email>"
                              "<input type=checkbox name=remember checked>"
                              "<input type=checkbox name=spam><select name=lang><option>en"
                              "<option value=fr selected>French</select><input type=submit value=Go>"
                              "</form>",
                              "text/html"));
  server.route("POST", "/check",
               [](const pltest::FakeRequest& r) { return pltest::FakeReply::redirect(302, "/approval"); });
  load("/login");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(view->submitForm("f", {{"email", "a@b.test"}}));
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "Success code=4/abc");
  auto requests = server.requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, "state=s%201&email=a%40b.test&remember=on&lang=fr");
}

TEST_F(WebViewTest, SilentDelegatesAndHTMLStrings) {
  view->setResourceLoadDelegate(ns::make<SilentDelegate>());
  load("/signin");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "Success code=4/abc");

  view->setResourceLoadDelegate(delegate);
  view->mainFrame()->loadHTMLString_baseURL("<html><title>System Clock Incorrect</title></html>", nullptr);
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "System Clock Incorrect");
  EXPECT_EQ(delegate->finished, 1);

  // A page nested far deeper than any real one parses without harm.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<div>";
  view->mainFrame()->loadHTMLString_baseURL("<title>deep</title>" + deep, nullptr);
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(view->mainFrameTitle(), "deep");
}

TEST_F(WebViewTest, OversizedPagesFailAndStopLoadingIsQuiet) {
  server.canned("GET", "/huge", pltest::FakeReply::text(200, std::string(5 * 1024 * 1024, 'x'), "text/html"));
  load("/huge");
  ASSERT_TRUE(pltest::pumpUntil([&] { return !delegate->failures.empty(); }, kWait));
  EXPECT_EQ(delegate->failures[0].code(), ns::URLErrorDataLengthExceedsMaximum);

  std::string part(1000, 'y');
  server.canned("GET", "/stalled", pltest::FakeReply::stalled(part, 100000));
  std::size_t responses = delegate->statuses.size();
  load("/stalled");
  ASSERT_TRUE(pltest::pumpUntil([&] { return delegate->statuses.size() > responses; }, kWait));
  EXPECT_TRUE(view->isLoading());
  view->mainFrame()->stopLoading();
  EXPECT_FALSE(view->isLoading());
  std::size_t failures = delegate->failures.size();
  server.release();
  load("/approval");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->failures.size(), failures);
  EXPECT_EQ(view->mainFrameTitle(), "Success code=4/abc");
}

}  // namespace
}  // namespace web_test
