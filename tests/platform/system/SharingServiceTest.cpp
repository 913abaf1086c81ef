// Sharing to the social services' web share pages, with the delegate told through the runtime.
#include <thread>

#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/system/Opener.h"
#include "platform/system/SharingService.h"
#include "tests/platform/system/SystemTestSupport.h"

namespace sharing_test {

// A delegate that answers the delegate methods through the runtime only.
class ShareRecorder : public ns::Object {
 public:
  struct Heard {
    std::string what;
    ns::Ref<ak::SharingService> service;
    ns::Array items;
    std::optional<ns::Error> error;
    bool onMainThread = false;
  };
  std::vector<Heard> heard;

  void didShare(ns::Ref<ak::SharingService> service, ns::Array items) {
    heard.push_back({"shared", service, items, std::nullopt, isMain()});
  }
  void didFail(ns::Ref<ak::SharingService> service, ns::Array items, ns::Ref<ns::ErrorObject> error) {
    heard.push_back({"failed", service, items,
                     error ? std::optional<ns::Error>(error->error()) : std::nullopt, isMain()});
  }

 private:
  static bool isMain() { return ns::RunLoop::currentRunLoop() == ns::RunLoop::mainRunLoop(); }
};

// A delegate without the optional methods.
class SilentDelegate : public ns::Object {};

}  // namespace sharing_test

PL_CLASS_NAMED(sharing_test::ShareRecorder, "STShareRecorder", ns::Object) {
  cls.method<&sharing_test::ShareRecorder::didShare>("sharingService:didShareItems:");
  cls.method<&sharing_test::ShareRecorder::didFail>("sharingService:didFailToShareItems:error:");
  cls.protocol("NSSharingServiceDelegate");
}
PL_CLASS_NAMED(sharing_test::SilentDelegate, "STSilentDelegate", ns::Object) {}

namespace {

using sharing_test::ShareRecorder;
using system_test::SystemServicesTest;

// The query of a URL text as decoded key-value pairs, in order.
std::vector<std::pair<std::string, std::string>> decodedQuery(const std::string& url) {
  std::vector<std::pair<std::string, std::string>> pairs;
  auto query = ns::URL::URLWithString(url)->query().value_or("");
  std::size_t start = 0;
  while (start < query.size()) {
    auto end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string pair = query.substr(start, end - start);
    auto eq = pair.find('=');
    pairs.emplace_back(pair.substr(0, eq),
                       ns::stringByRemovingPercentEncoding(pair.substr(eq + 1)).value_or("<bad>"));
    start = end + 1;
  }
  return pairs;
}

class Sharing : public SystemServicesTest {
 protected:
  const std::string link_ = "http://short.example.test/abc_DEF-1";
  ns::Array items(const std::string& text) {
    return {ns::Value(ns::URL::URLWithString(link_)), ns::Value(text)};
  }
};

TEST_F(Sharing, TheSharePageCarriesTheTextAndLinkThatDecodeBackExactly) {
  const std::string text = "#NowPlaying A&B using Pelorin(x)";
  struct Case {
    const char* service;
    std::string page;
    std::vector<std::pair<std::string, std::string>> query;
    std::string escapedText;  // how the text stands in the page
  };
  const std::string escapedText = "%23NowPlaying%20A%26B%20using%20Pelorin%28x%29";
  const Case cases[] = {
      {ak::SharingServiceNamePostOnTwitter,
       "https://twitter.com/intent/tweet",
       {{"text", text}, {"url", link_}},
       "text=" + escapedText + "&url=http%3A%2F%2Fshort.example.test%2Fabc_DEF-1"},
      {ak::SharingServiceNamePostOnFacebook,
       "https://www.facebook.com/sharer/sharer.php",
       {{"u", link_}, {"t", text}},
       "u=http%3A%2F%2Fshort.example.test%2Fabc_DEF-1&t=" + escapedText},
  };
  std::size_t runs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service);
    auto recorder = ns::make<ShareRecorder>();
    auto service = ak::SharingService::sharingServiceNamed(c.service);
    ASSERT_TRUE(service);
    service->setDelegate(recorder);
    EXPECT_TRUE(service->canPerformWithItems(std::nullopt));
    service->performWithItems(items(text));
    // The delegate hears nothing on the turn that asked.
    EXPECT_TRUE(recorder->heard.empty());
    ASSERT_TRUE(pltest::pumpUntil([&] { return !recorder->heard.empty(); }, 30));
    ASSERT_EQ(recorder->heard.size(), 1u);
    EXPECT_EQ(recorder->heard[0].what, "shared");
    EXPECT_EQ(recorder->heard[0].service, service);
    EXPECT_EQ(recorder->heard[0].items, items(text));
    EXPECT_TRUE(recorder->heard[0].onMainThread);

    auto opened = waitForRuns(++runs);
    ASSERT_EQ(opened.size(), runs);
    ASSERT_EQ(opened.back().size(), 1u);
    const std::string& page = opened.back()[0];
    EXPECT_EQ(page, c.page + "?" + c.escapedText);
    EXPECT_EQ(decodedQuery(page), c.query);
  }
}

TEST_F(Sharing, EscapingKeepsOnlyUnreservedCharactersAndRoundTripsAnyText) {
  auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
  const std::string texts[] = {
      "plain",     "a b+c=d&e#f?g/h",     "100% ünïcødé ★ 日本",
      "-._~ stay", "quote\"'<>[]{}|\\^`", "line\nbreak\ttab",
      "",
  };
  for (const auto& text : texts) {
    SCOPED_TRACE(text);
    auto page = service->sharePageURLForItems({ns::Value(text)});
    ASSERT_TRUE(page);
    auto query = page->query().value_or("");
    for (char ch : query.substr(query.find('=') + 1)) {
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) ||
                  std::string("-._~%").find(ch) != std::string::npos)
          << "unescaped " << ch;
    }
    EXPECT_EQ(decodedQuery(page->absoluteString()),
              (std::vector<std::pair<std::string, std::string>>{{"text", text}}));
  }
  EXPECT_EQ(service->sharePageURLForItems({ns::Value("-._~")})->absoluteString(),
            "https://twitter.com/intent/tweet?text=-._~");
}

TEST_F(Sharing, AnOpenerThatFailsMakesTheDelegateHearTheFailure) {
  opener_.setExitStatus(3);
  auto recorder = ns::make<ShareRecorder>();
  auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
  service->setDelegate(recorder);
  service->performWithItems(items("text"));
  EXPECT_TRUE(recorder->heard.empty());
  ASSERT_TRUE(pltest::pumpUntil([&] { return !recorder->heard.empty(); }, 30));
  ASSERT_EQ(recorder->heard.size(), 1u);
  EXPECT_EQ(recorder->heard[0].what, "failed");
  EXPECT_EQ(recorder->heard[0].items, items("text"));
  ASSERT_TRUE(recorder->heard[0].error);
  EXPECT_EQ(recorder->heard[0].error->domain(), ns::NSOSStatusErrorDomain);
  EXPECT_EQ(recorder->heard[0].error->code(), sys::kOpenerFailedError);
  EXPECT_NE(recorder->heard[0].error->localizedDescription().find("status 3"), std::string::npos);
  EXPECT_EQ(opener_.invocations().size(), 1u);  // it did run, and failed
}

TEST_F(Sharing, WhatCanBePerformedAndWhatFailsWithoutRunningAnything) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    ns::Array items;
    bool canPerform;
  };
  const ns::Array good = items("text");
  const Case cases[] = {
      {"no share page", [] { sys::setSharePageHost(ak::SharingServiceNamePostOnTwitter, ""); }, good, false},
      {"no opener", [] { sys::setOpenerCommand("/nonexistent/opener"); }, good, false},
      {"neither text nor link", [] {}, {ns::Value(42), ns::Value::null()}, true},
      {"a share host that is no web page",
       [] { sys::setSharePageHost(ak::SharingServiceNamePostOnTwitter, "javascript:x"); }, good, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sys::resetSystemServiceSettings();
    sys::setOpenerFailureWindow(30);
    c.arrange();
    auto recorder = ns::make<ShareRecorder>();
    auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
    service->setDelegate(recorder);
    EXPECT_EQ(service->canPerformWithItems(c.items), c.canPerform);
    service->performWithItems(c.items);
    ASSERT_TRUE(pltest::pumpUntil([&] { return !recorder->heard.empty(); }, 30));
    EXPECT_EQ(recorder->heard[0].what, "failed");
    ASSERT_TRUE(recorder->heard[0].error);
    EXPECT_FALSE(recorder->heard[0].error->localizedDescription().empty());
  }
  EXPECT_TRUE(opener_.invocations().empty());
}

TEST_F(Sharing, NamesHostsAndDelegatesThatAreGoneOrSilent) {
  EXPECT_FALSE(ak::SharingService::sharingServiceNamed("com.example.share.Unknown"));
  EXPECT_FALSE(ak::SharingService::sharingServiceNamed(""));

  sys::setSharePageHost(ak::SharingServiceNamePostOnFacebook, "http://127.0.0.1:8080/");
  auto facebook = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnFacebook);
  EXPECT_EQ(facebook->sharePageURLForItems({ns::Value(ns::URL::URLWithString(link_))})->absoluteString(),
            "http://127.0.0.1:8080/sharer/sharer.php?u=http%3A%2F%2Fshort.example.test%2Fabc_DEF-1");
  sys::setSharePageHost(ak::SharingServiceNamePostOnFacebook, std::nullopt);
  EXPECT_EQ(facebook->sharePageURLForItems({ns::Value("t")})->absoluteString(),
            "https://www.facebook.com/sharer/sharer.php?t=t");

  // A delegate without the methods, and one that went away, hear nothing; the pages still open.
  auto silent = ns::make<sharing_test::SilentDelegate>();
  facebook->setDelegate(silent);
  facebook->performWithItems({ns::Value("one")});
  auto gone = ns::make<ShareRecorder>();
  auto twitter = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
  twitter->setDelegate(gone);
  twitter->performWithItems({ns::Value("two")});
  ns::Weak<ShareRecorder> weak = gone;
  gone.reset();
  EXPECT_TRUE(weak.expired());  // not retained by the service
  auto runs = waitForRuns(2);
  EXPECT_EQ(runs.size(), 2u);
  bool drained = false;
  dispatch::async(dispatch::mainQueue(), [&] { drained = true; });
  EXPECT_TRUE(pltest::pumpUntil([&] { return drained; }, 30));
}

}  // namespace
