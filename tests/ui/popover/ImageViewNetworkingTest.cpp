// URL loading for standard image views, with the in-memory cache keyed by URL.
#include <gtest/gtest.h>

#include "platform/appkit/Make.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/ImageViewNetworking.h"

using ak::MakeRect;

namespace {

ns::Ref<ak::Image> solid(std::size_t width, std::size_t height, std::uint8_t value) {
  return ns::make<ak::Image>(width, height, std::vector<std::uint8_t>(width * height * 4, value));
}

class ImageViewLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.canned(
        "GET", "/pictures/p.png",
        pltest::FakeReply::text(200, solid(12, 9, 255)->PNGRepresentation()->toString(), "image/png"));
    ImageViewNetworking::net_sharedImageCache()->removeAllObjects();
  }
  void TearDown() override { ImageViewNetworking::net_sharedImageCache()->removeAllObjects(); }

  ns::Ref<ns::URLRequest> request(const std::string& path, ns::URLRequestCachePolicy policy) const {
    return ns::URLRequest::requestWithURL_cachePolicy_timeoutInterval(
        ns::URL::URLWithString(server_.URLForPath(path)), policy, 60);
  }
  static ns::Ref<ak::ImageView> imageView() { return ak::make<ak::ImageView>(MakeRect(0, 0, 50, 50)); }
  static bool settled(const ns::Ref<ak::ImageView>& view) {
    return ImageViewNetworking::net_imageRequestOperation(view) == nullptr;
  }

  pltest::HeadlessApp app_{false};
  pltest::FakeServer server_;
};

}  // namespace

TEST_F(ImageViewLoading, PoliciesThatIgnoreLocalDataFetchButStillStore) {
  auto cache = ImageViewNetworking::net_sharedImageCache();
  auto inMemory = solid(3, 3, 10);
  for (auto policy :
       {ns::URLRequestReloadIgnoringLocalCacheData, ns::URLRequestReloadIgnoringLocalAndRemoteCacheData}) {
    SCOPED_TRACE(policy);
    auto ignoring = request("/pictures/p.png", policy);
    cache->cacheImage_forRequest(inMemory, ignoring);
    EXPECT_EQ(cache->cachedImageForRequest(ignoring), nullptr);
    EXPECT_EQ(cache->cachedImageForRequest(request("/pictures/p.png", ns::URLRequestUseProtocolCachePolicy)),
              inMemory);

    pltest::LogCapture log(true);
    const auto before = server_.requestCount();
    auto view = imageView();
    ImageViewNetworking::setImageWithURLRequest_placeholderImage_success_failure(view, ignoring, nullptr,
                                                                                 nullptr, nullptr);
    EXPECT_TRUE(log.contains("cache no"));
    ASSERT_TRUE(pltest::pumpUntil([&] { return settled(view); }));
    EXPECT_EQ(server_.requestCount(), before + 1);
    EXPECT_TRUE(log.contains("success!"));
    ASSERT_NE(view->image(), nullptr);
    EXPECT_EQ(view->image()->size(), ak::MakeSize(12, 9));
    // The fetched image replaced the one in memory.
    EXPECT_EQ(cache->cachedImageForRequest(request("/pictures/p.png", ns::URLRequestUseProtocolCachePolicy)),
              view->image());
  }

  // A later default request is answered from memory.
  pltest::LogCapture log(true);
  auto view = imageView();
  ImageViewNetworking::setImageWithURL(view, ns::URL::URLWithString(server_.URLForPath("/pictures/p.png")));
  EXPECT_TRUE(log.contains("cache img"));
  EXPECT_FALSE(log.contains("cache no"));
  EXPECT_EQ(view->image()->size(), ak::MakeSize(12, 9));
  EXPECT_TRUE(settled(view));
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(ImageViewLoading, OneURLInTwoViewsOneAfterTheOtherIsFetchedOnce) {
  auto url = ns::URL::URLWithString(server_.URLForPath("/pictures/p.png"));
  auto first = imageView();
  auto placeholder = solid(1, 1, 0);
  ImageViewNetworking::setImageWithURL_placeholderImage(first, url, placeholder);
  EXPECT_EQ(first->image(), placeholder);
  ASSERT_TRUE(pltest::pumpUntil([&] { return settled(first); }));
  EXPECT_EQ(first->image()->size(), ak::MakeSize(12, 9));

  auto second = imageView();
  ns::Ref<ak::Image> handed;
  ImageViewNetworking::setImageWithURLRequest_placeholderImage_success_failure(
      second, request("/pictures/p.png", ns::URLRequestUseProtocolCachePolicy), placeholder,
      [&](const ns::Ref<ns::URLRequest>& r, const ns::Ref<ns::HTTPURLResponse>&,
          const ns::Ref<ak::Image>& image) {
        EXPECT_EQ(r, nullptr);
        handed = image;
      },
      nullptr);
  EXPECT_EQ(handed, first->image());
  EXPECT_EQ(server_.requestCount(), 1u);

  // A failed load keeps the placeholder, reports through the failure block and stores nothing.
  std::optional<long> status;
  auto third = imageView();
  ImageViewNetworking::setImageWithURLRequest_placeholderImage_success_failure(
      third, request("/pictures/none.png", ns::URLRequestUseProtocolCachePolicy), placeholder, nullptr,
      [&](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>& response, const ns::Error&) {
        status = response ? response->statusCode() : -1;
      });
  ASSERT_TRUE(pltest::pumpUntil([&] { return settled(third); }));
  EXPECT_EQ(status, 404);
  EXPECT_EQ(third->image(), placeholder);
  EXPECT_EQ(ImageViewNetworking::net_sharedImageCache()->cachedImageForRequest(
                request("/pictures/none.png", ns::URLRequestUseProtocolCachePolicy)),
            nullptr);

  // Nor is a local file read.
  ImageViewNetworking::setImageWithURL_placeholderImage(third, ns::URL::URLWithString("file:///etc/hostname"),
                                                        placeholder);
  EXPECT_EQ(third->image(), placeholder);
  EXPECT_TRUE(settled(third));
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(ImageViewLoading, TheSharedCacheKeepsOnlyTheLatestImagesWhenTheyGrowLarge) {
  // Nothing here tells the process of memory pressure: without a bound, every picture ever shown
  // would stay in memory.
  auto cache = ImageViewNetworking::net_sharedImageCache();
  std::vector<ns::Ref<ns::URLRequest>> requests;
  for (int i = 0; i < 6; ++i) {
    requests.push_back(
        request("/pictures/big" + std::to_string(i) + ".png", ns::URLRequestUseProtocolCachePolicy));
    cache->cacheImage_forRequest(solid(2048, 2048, static_cast<std::uint8_t>(i)), requests.back());
  }
  EXPECT_EQ(cache->cachedImageForRequest(requests.front()), nullptr);
  EXPECT_NE(cache->cachedImageForRequest(requests.back()), nullptr);
}

TEST_F(ImageViewLoading, ANilImageOrRequestIsNeverStored) {
  auto cache = ImageViewNetworking::net_sharedImageCache();
  auto r = request("/pictures/p.png", ns::URLRequestUseProtocolCachePolicy);
  cache->cacheImage_forRequest(nullptr, r);
  EXPECT_EQ(cache->cachedImageForRequest(r), nullptr);
  cache->cacheImage_forRequest(solid(2, 2, 1), nullptr);
  cache->cacheImage_forRequest(solid(2, 2, 1), ns::URLRequest::requestWithURL(nullptr));
  EXPECT_EQ(cache->cachedImageForRequest(nullptr), nullptr);
  EXPECT_EQ(cache->objectForKey(ns::Value("")), nullptr);
  EXPECT_EQ(cache->cachedImageForRequest(r), nullptr);
}
