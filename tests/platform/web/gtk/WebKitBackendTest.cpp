#include "platform/web/gtk/WebKitBackend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Make.h"
#include "platform/core/Log.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLLoadingSettings.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/TcpPair.h"
#include "platform/testing/gtk/Screen.h"
#include "platform/web/WebView.h"

namespace webkit_test {

// A resource-load delegate that records the main-frame requests and the ends of loads.
class LoadRecorder : public ns::Object {
 public:
  struct Sent {
    std::string url;
    bool redirect = false;
  };
  std::vector<Sent> sent;
  int finished = 0;
  std::vector<ns::Error> failures;
  std::function<ns::Ref<ns::URLRequest>(const ns::Ref<ns::URLRequest>&, bool redirect)> answer;

  ns::Ref<ns::URLRequest> willSend(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::URLRequest> request,
                                   ns::Ref<ns::URLResponse> redirect, ns::Ref<wk::WebDataSource>) {
    sent.push_back({request->URL()->absoluteString(), redirect != nullptr});
    return answer ? answer(request, redirect != nullptr) : request;
  }
  void didFinish(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<wk::WebDataSource>) { ++finished; }
  void didFail(ns::Ref<wk::WebView>, ns::Ref<ns::Object>, ns::Ref<ns::ErrorObject> error,
               ns::Ref<wk::WebDataSource>) {
    failures.push_back(error->error());
  }
  void newWindow(ns::Ref<wk::WebView>, ns::Dictionary, ns::Ref<ns::URLRequest> request, std::string frame,
                 ns::Ref<wk::WebPolicyDecisionListener> listener) {
    newWindows.push_back(frame + " " + request->URL()->absoluteString());
    listener->use();
  }
  std::vector<std::string> newWindows;  // frame name and URL
  std::string className() const override { return "WebKitLoadRecorder"; }
};

PL_CLASS_NAMED(LoadRecorder, "WebKitLoadRecorder", ns::Object) {
  cls.method<&LoadRecorder::willSend>("webView:resource:willSendRequest:redirectResponse:fromDataSource:");
  cls.method<&LoadRecorder::didFinish>("webView:resource:didFinishLoadingFromDataSource:");
  cls.method<&LoadRecorder::didFail>("webView:resource:didFailLoadingWithError:fromDataSource:");
  cls.method<&LoadRecorder::newWindow>(
      "webView:decidePolicyForNewWindowAction:request:newFrameName:decisionListener:");
}

namespace {

// WebKit starts its own processes: generous, for a loaded machine.
constexpr double kWait = 90;

class WebKitBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The back end's account of WebKit's signals, shown when a test fails.
    wasVerbose = ns::logIsVerbose();
    ns::setLogVerbose(true);
    log.emplace(true);
    wk::gtk::installWebKitBackend();
    server.canned("GET", "/signin", pltest::FakeReply::redirect(302, "/approval"));
    server.canned("GET", "/approval",
                  pltest::FakeReply::text(200, "<html><head><title>Success code=4/abc</title></head></html>",
                                          "text/html"));
    server.canned(
        "GET", "/other",
        pltest::FakeReply::text(200, "<html><head><title>Other</title></head></html>", "text/html"));
    server.canned("GET", "/set",
                  pltest::FakeReply::text(200, "<html><head><title>Set</title></head></html>", "text/html")
                      .header("Set-Cookie", "session=s3cret; Path=/"));
    // The page's title tells which cookie the request carried.
    server.route("GET", "/check", [](const pltest::FakeRequest& r) {
      std::string cookie = r.header("Cookie").value_or("none");
      return pltest::FakeReply::text(200, "<html><head><title>" + cookie + "</title></head></html>",
                                     "text/html");
    });
    window = app.window(ak::MakeRect(100, 100, 400, 300));
  }
  void TearDown() override {
    wk::WebView::setBackendFactory(nullptr);
    if (HasFailure())
      for (const auto& line : log->lines()) std::fprintf(stderr, "%s\n", line.text.c_str());
    log.reset();
    ns::setLogVerbose(wasVerbose);
  }

  struct Browser {
    ns::Ref<wk::WebView> view;
    ns::Ref<LoadRecorder> delegate;
  };
  Browser browser() {
    Browser b{ak::make<wk::WebView>(ak::MakeRect(0, 0, 400, 300)), ns::make<LoadRecorder>()};
    b.view->setResourceLoadDelegate(b.delegate);
    b.view->setPolicyDelegate(b.delegate);
    window->contentView()->addSubview(b.view);
    return b;
  }
  void load(const Browser& b, const std::string& path) {
    b.view->mainFrame()->loadRequest(
        ns::URLRequest::requestWithURL(ns::URL::URLWithString(server.URLForPath(path))));
  }
  // Loads `path` and waits for the page to finish with a title.
  bool show(const Browser& b, const std::string& path) {
    int before = b.delegate->finished;
    load(b, path);
    return app.settle([&] { return b.delegate->finished > before && !b.view->mainFrameTitle().empty(); },
                      kWait);
  }
  bool received(const std::string& path) const {
    for (const auto& r : server.requests())
      if (r.path == path) return true;
    return false;
  }

  bool wasVerbose = false;
  std::optional<ns::LogCapture> log;
  pltest::OnScreenApp app;
  pltest::FakeServer server;
  ns::Ref<ak::Window> window;
};

TEST_F(WebKitBackendTest, TheSignInRedirectEndsOnTheApprovalPageWithItsTitle) {
  auto b = browser();
  ASSERT_TRUE(show(b, "/signin"));
  EXPECT_EQ(b.view->stringByEvaluatingJavaScriptFromString("document.title"), "Success code=4/abc");
  EXPECT_EQ(b.view->mainFrameURL(), server.URLForPath("/approval"));
  EXPECT_FALSE(b.view->isLoading());
  EXPECT_EQ(b.delegate->finished, 1);
  EXPECT_TRUE(b.delegate->failures.empty());
  // The delegate saw the request and then its redirect.
  ASSERT_GE(b.delegate->sent.size(), 2u);
  EXPECT_EQ(b.delegate->sent[0].url, server.URLForPath("/signin"));
  EXPECT_FALSE(b.delegate->sent[0].redirect);
  EXPECT_EQ(b.delegate->sent[1].url, server.URLForPath("/approval"));
  EXPECT_TRUE(b.delegate->sent[1].redirect);
}

TEST_F(WebKitBackendTest, NilForTheRedirectKeepsTheServerFromSeeingIt) {
  auto b = browser();
  b.delegate->answer = [](const ns::Ref<ns::URLRequest>& r, bool redirect) { return redirect ? nullptr : r; };
  load(b, "/signin");
  ASSERT_TRUE(app.settle([&] { return received("/signin") && !b.view->isLoading(); }, kWait));
  // A later load in the same view shows that WebKit went on without the cancelled page.
  b.delegate->answer = nullptr;
  ASSERT_TRUE(show(b, "/other"));
  EXPECT_EQ(b.view->mainFrameTitle(), "Other");
  EXPECT_FALSE(received("/approval"));
  EXPECT_EQ(b.delegate->finished, 1);
  EXPECT_TRUE(b.delegate->failures.empty());
}

TEST_F(WebKitBackendTest, ARedirectTheDelegateAnswersWithAnotherRequestLoadsThatOne) {
  auto b = browser();
  std::string other = server.URLForPath("/other");
  b.delegate->answer = [&](const ns::Ref<ns::URLRequest>& r, bool redirect) {
    return redirect ? ns::URLRequest::requestWithURL(ns::URL::URLWithString(other)) : r;
  };
  ASSERT_TRUE(show(b, "/signin"));
  EXPECT_EQ(b.view->mainFrameTitle(), "Other");
  EXPECT_EQ(b.view->mainFrameURL(), other);
  EXPECT_FALSE(received("/approval"));
  EXPECT_EQ(b.delegate->finished, 1);
  EXPECT_TRUE(b.delegate->failures.empty());
}

// A frame the page adds after it finished is no new load of the view; a link the page follows
// is, and the delegate is asked about it.
TEST_F(WebKitBackendTest, OnlyTheMainFramesNavigationsAreLoadsOfTheView) {
  server.canned("GET", "/framed",
                pltest::FakeReply::text(200,
                                        "<html><head><title>Framed</title></head><body><script>"
                                        "addEventListener('load', () => setTimeout(() => {"
                                        "let f = document.createElement('iframe'); f.src = '/inner';"
                                        "document.body.appendChild(f);"
                                        "setTimeout(() => { location.href = '/other'; }, 300); }, 0));"
                                        "</script></body></html>",
                                        "text/html"));
  server.canned("GET", "/inner",
                pltest::FakeReply::text(200, "<html><body>inner</body></html>", "text/html"));
  auto b = browser();
  ASSERT_TRUE(show(b, "/framed"));
  ASSERT_TRUE(app.settle([&] { return received("/inner"); }, kWait));
  EXPECT_FALSE(b.view->isLoading());
  // The page's own navigation to "/other" loads and finishes as the main frame's.
  ASSERT_TRUE(app.settle([&] { return b.view->mainFrameTitle() == "Other" && !b.view->isLoading(); }, kWait));
  EXPECT_EQ(b.delegate->finished, 2);
  EXPECT_EQ(b.view->mainFrameURL(), server.URLForPath("/other"));
  bool asked = false;
  for (const auto& s : b.delegate->sent) asked = asked || s.url == server.URLForPath("/other");
  EXPECT_TRUE(asked);
}

// A page that moves on as soon as it has loaded: both loads end, each once.
TEST_F(WebKitBackendTest, APageThatMovesOnWhenLoadedEndsBeforeTheNextOne) {
  server.canned("GET", "/onward",
                pltest::FakeReply::text(200,
                                        "<html><head><title>Onward</title></head><body><script>"
                                        "addEventListener('load', () => { location.href = '/other'; });"
                                        "</script></body></html>",
                                        "text/html"));
  auto b = browser();
  load(b, "/onward");
  ASSERT_TRUE(app.settle([&] { return b.delegate->finished == 2 && !b.view->isLoading(); }, kWait))
      << b.delegate->finished;
  EXPECT_EQ(b.view->mainFrameTitle(), "Other");
  EXPECT_EQ(b.view->mainFrameURL(), server.URLForPath("/other"));
  EXPECT_TRUE(b.delegate->failures.empty());
}

TEST_F(WebKitBackendTest, ACookieSetInOneViewIsNotSentByAnother) {
  auto first = browser();
  ASSERT_TRUE(show(first, "/set"));
  ASSERT_TRUE(show(first, "/check"));
  EXPECT_EQ(first.view->mainFrameTitle(), "session=s3cret");
  auto second = browser();
  ASSERT_TRUE(show(second, "/check"));
  EXPECT_EQ(second.view->mainFrameTitle(), "none");
}

TEST_F(WebKitBackendTest, ARefusedConnectionFailsWithTheFailingURL) {
  pltest::RefusingLoopbackPort refusing;
  const int port = refusing.port();
  auto b = browser();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/signin";
  b.view->mainFrame()->loadRequest(ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)));
  ASSERT_TRUE(app.settle([&] { return !b.delegate->failures.empty(); }, kWait));
  const ns::Error& error = b.delegate->failures[0];
  EXPECT_EQ(error.domain(), ns::NSURLErrorDomain);
  EXPECT_EQ(error.code(), ns::URLErrorCannotConnectToHost);
  const ns::Value* failing = error.userInfo().find(ns::Value(ns::NSURLErrorFailingURLErrorKey));
  ASSERT_NE(failing, nullptr);
  EXPECT_FALSE(b.view->isLoading());
  EXPECT_EQ(b.delegate->finished, 0);
}

TEST_F(WebKitBackendTest, AnAddressWebKitCannotLoadEndsTheLoadWithAnError) {
  auto b = browser();
  b.view->mainFrame()->loadRequest(
      ns::URLRequest::requestWithURL(ns::URL::URLWithString("pelorin-none://x/y")));
  ASSERT_TRUE(app.settle([&] { return !b.delegate->failures.empty(); }, kWait));
  EXPECT_EQ(b.delegate->failures[0].code(), ns::URLErrorUnsupportedURL);
  EXPECT_FALSE(b.view->isLoading());
  EXPECT_EQ(b.delegate->finished, 0);
}

// The page is drawn by WebKit over the view's frame: the window's content is X11 (100, 500) to
// (500, 800); a page-wide link there is clicked as a person would.
TEST_F(WebKitBackendTest, APageIsShownOverTheViewAndANewWindowLinkReachesThePolicyDelegate) {
  server.canned("GET", "/dot.png", pltest::FakeReply::text(404, "", "image/png"));
  auto b = browser();
  b.view->mainFrame()->loadHTMLString_baseURL(
      "<html><head><title>Red</title></head><body style='margin:0;background:#ff0000'>"
      "<img src='/dot.png'><a id=help href='/approval' target='_blank' "
      "style='display:block;width:400px;height:280px'>&nbsp;</a></body></html>",
      ns::URL::URLWithString(server.URLForPath("/")));
  ASSERT_TRUE(app.waitUntilShown(window));
  auto red = [](const pltest::Pixel& p) { return p.r > 200 && p.g < 60 && p.b < 60; };
  ASSERT_TRUE(app.settle(
      [&] { return b.delegate->finished > 0 && !b.view->isLoading() && red(pltest::screenPixel(300, 790)); },
      kWait));
  auto corner = pltest::screenPixel(105, 795);
  EXPECT_TRUE(red(corner)) << int(corner.r) << " " << int(corner.g) << " " << int(corner.b);
  EXPECT_FALSE(red(pltest::screenPixel(95, 650)));  // left of the window's content
  EXPECT_EQ(b.delegate->finished, 1);
  EXPECT_TRUE(b.delegate->failures.empty());
  // The image was reported to the delegate, though it could not change it.
  bool image = false;
  for (const auto& s : b.delegate->sent) image = image || s.url == server.URLForPath("/dot.png");
  EXPECT_TRUE(image);

  // The page follows its view out of the window and back.
  b.view->removeFromSuperview();
  ASSERT_TRUE(app.settle([&] { return !red(pltest::screenPixel(300, 790)); }, kWait));
  window->contentView()->addSubview(b.view);
  ASSERT_TRUE(app.settle([&] { return red(pltest::screenPixel(300, 790)); }, kWait));

  pltest::xtest::click(300, 600);
  ASSERT_TRUE(app.settle([&] { return b.view->mainFrameTitle() == "Success code=4/abc"; }, kWait));
  ASSERT_EQ(b.delegate->newWindows.size(), 1u);
  EXPECT_EQ(b.delegate->newWindows[0], "_blank " + server.URLForPath("/approval"));
}

// A server whose certificate only the extra certificate authorities vouch for: refused as
// untrusted without them, shown with them (WebKit's own store knows nothing of them).
TEST_F(WebKitBackendTest, ACertificateOfTheExtraAuthoritiesIsAcceptedAndNoOtherIs) {
  pltest::FakeServer secure(pltest::FakeServer::Options{.https = true});
  secure.canned("GET", "/page",
                pltest::FakeReply::text(200, "<html><head><title>Secure</title></head></html>", "text/html"));
  const std::string url = secure.URLForPath("/page");
  ns::URLLoading::setExtraCertificateAuthorityFile(std::nullopt);
  auto refused = browser();
  refused.view->mainFrame()->loadRequest(ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)));
  ASSERT_TRUE(app.settle([&] { return !refused.delegate->failures.empty(); }, kWait));
  EXPECT_EQ(refused.delegate->failures[0].code(), ns::URLErrorServerCertificateUntrusted)
      << refused.delegate->failures[0].description();
  EXPECT_EQ(refused.delegate->finished, 0);
  EXPECT_FALSE(refused.view->isLoading());

  ns::URLLoading::setExtraCertificateAuthorityFile(secure.caCertificateFile());
  auto trusted = browser();
  trusted.view->mainFrame()->loadRequest(ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)));
  // Ended either way: a failure says why at once.
  EXPECT_TRUE(app.settle(
      [&] {
        return (trusted.delegate->finished > 0 || !trusted.delegate->failures.empty()) &&
               !trusted.view->isLoading();
      },
      kWait));
  ns::URLLoading::setExtraCertificateAuthorityFile(std::nullopt);
  EXPECT_EQ(trusted.view->mainFrameTitle(), "Secure");
  EXPECT_EQ(trusted.delegate->finished, 1);
  for (const auto& failure : trusted.delegate->failures) ADD_FAILURE() << failure.description();
  // The trusted view took the certificate before WebKit connected: only the first view was refused.
  int refusals = 0;
  for (const auto& line : log->lines())
    refusals += line.text.find("certificate refused") != std::string::npos;
  EXPECT_EQ(refusals, 1);
  EXPECT_TRUE(log->contains("vouched for 1"));
}

TEST_F(WebKitBackendTest, AnHttpsServerThatCannotBeReachedFailsTheLoadOnce) {
  pltest::FakeServer secure(pltest::FakeServer::Options{.https = true});
  ns::URLLoading::setExtraCertificateAuthorityFile(secure.caCertificateFile());
  // A port that nothing listens on.
  pltest::FakeServer gone;
  const std::string url = "https://127.0.0.1:" + std::to_string(gone.port()) + "/page";
  gone.stop();
  auto b = browser();
  b.view->mainFrame()->loadRequest(ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)));
  EXPECT_TRUE(app.settle([&] { return !b.delegate->failures.empty() && !b.view->isLoading(); }, kWait));
  ns::URLLoading::setExtraCertificateAuthorityFile(std::nullopt);
  EXPECT_EQ(b.delegate->finished, 0);
  EXPECT_EQ(b.delegate->failures.size(), 1u);
  for (const auto& failure : b.delegate->failures) EXPECT_NE(failure.code(), ns::URLErrorCancelled);
  // The trace says why the certificate could not be fetched.
  EXPECT_TRUE(log->contains("fetched 0, vouched for 0 ("));
}

// The trial run of bubblewrap that decides whether WebKit's sandbox is used, with stand-ins
// that fail and succeed as bubblewrap does.
TEST(WebEngineSandbox, TheTrialRunNamesWhyTheSandboxCannotStart) {
  pltest::Sandbox sandbox;
  auto missing = wk::gtk::sandboxUnavailableReason(sandbox.path("no-such-bwrap"));
  ASSERT_TRUE(missing);
  EXPECT_NE(missing->find("bubblewrap is not installed"), std::string::npos) << *missing;

  auto script = [&](const std::string& name, const std::string& body) {
    const std::string path = sandbox.path(name);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  };
  auto refused = wk::gtk::sandboxUnavailableReason(
      script("refusing", "echo 'bwrap: No permissions to create new namespace' >&2\necho more >&2\nexit 1"));
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused, "bwrap: No permissions to create new namespace");
  auto silent = wk::gtk::sandboxUnavailableReason(script("silent", "exit 3"));
  ASSERT_TRUE(silent);
  EXPECT_NE(silent->find("bubblewrap ended with status"), std::string::npos) << *silent;
  // A bubblewrap that runs the command it is given, in whatever namespaces.
  const std::string args = sandbox.path("args");
  EXPECT_FALSE(wk::gtk::sandboxUnavailableReason(
      script("working", "echo \"$@\" > '" + args + "'\nfor last; do :; done\nexec \"$last\"")));
  std::string asked;
  std::getline(std::ifstream(args), asked);
  EXPECT_NE(asked.find("--unshare-pid"), std::string::npos) << asked;
  EXPECT_NE(asked.find("--die-with-parent"), std::string::npos) << asked;
}

}  // namespace
}  // namespace webkit_test
