// The remote image view against a fake image server and a real keyed disk cache in the sandbox.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "lib/cache/GVCache.h"
#include "platform/appkit/Make.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/FakeImageView.h"

using ak::MakePoint;
using ak::MakeRect;

namespace {

// A 160 x 80 picture whose red grows to the right and green downwards, blue 200 throughout:
// each pixel tells where in the picture it came from.
ns::Ref<ak::Image> gradient(std::size_t width, std::size_t height) {
  std::vector<std::uint8_t> rgba(width * height * 4);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      std::uint8_t* p = &rgba[(y * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(x * 255 / (width - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / (height - 1));
      p[2] = 200;
      p[3] = 255;
    }
  }
  return ns::make<ak::Image>(width, height, std::move(rgba));
}

std::string pngOf(const ns::Ref<ak::Image>& image) {
  return image->PNGRepresentation()->toString();
}

class RemoteImageView : public ::testing::Test {
 protected:
  void SetUp() override {
    cacheFolder_ = app_.sandbox().path("caches/GVCache");
    cache_ = GVCache::initWithCacheDirectory(cacheFolder_);
    FakeImageView::setImageCache(cache_);
    server_.canned("GET", "/thumbs/a.png",
                   pltest::FakeReply::text(200, pngOf(gradient(160, 80)), "image/png"));
    server_.canned("GET", "/thumbs/b.png",
                   pltest::FakeReply::text(200, pngOf(gradient(40, 30)), "image/png"));
    placeholder_ = ns::make<ak::Image>(2, 2, std::vector<std::uint8_t>(16, 90));
  }
  void TearDown() override {
    cache_->synchronize();
    FakeImageView::setImageCache(nullptr);
  }

  ns::Ref<ns::URL> url(const std::string& path) const {
    return ns::URL::URLWithString(server_.URLForPath(path));
  }
  std::string key(const std::string& path) const {
    return FakeImageViewCacheKey(url(path)->absoluteString());
  }

  // A thumbnail view as the list cells make it, in a window of its own.
  ns::Ref<FakeImageView> thumbnail(ns::Ref<ak::Window>* windowOut = nullptr) {
    auto window = app_.window(MakeRect(100, 100, 110, 83), ak::BorderlessWindowMask);
    auto view = ak::make<FakeImageView>(MakeRect(0, 0, 110, 83));
    view->setImageScaling(3);
    window->contentView()->addSubview(view);
    if (windowOut) *windowOut = window;
    return view;
  }

  // Loads the URL and waits until the view shows it and the cache holds it.
  void loadAndStore(const ns::Ref<FakeImageView>& view, const std::string& path) {
    view->setImageWithURL_placeholderImage(url(path), placeholder_);
    ASSERT_TRUE(pltest::pumpUntil([&] { return view->image() != placeholder_; }));
    ASSERT_TRUE(pltest::pumpUntil([&] { return cache_->hasCacheForKey(key(path)); }));
  }

  pltest::HeadlessApp app_{false};
  pltest::FakeServer server_;
  std::string cacheFolder_;
  ns::Ref<GVCache> cache_;
  ns::Ref<ak::Image> placeholder_;
};

bool near(ak::RGBA pixel, int r, int g, int b, int tolerance = 8) {
  return std::abs(pixel.r - r) <= tolerance && std::abs(pixel.g - g) <= tolerance &&
         std::abs(pixel.b - b) <= tolerance;
}

}  // namespace

TEST_F(RemoteImageView, TwoViewsShareOneFetchAndTheImageCoversTheViewCentred) {
  ns::Ref<ak::Window> window;
  auto first = thumbnail(&window);
  ASSERT_NO_FATAL_FAILURE(loadAndStore(first, "/thumbs/a.png"));
  EXPECT_EQ(first->image()->size(), ak::MakeSize(160, 80));
  EXPECT_EQ(first->net_imageRequestOperation(), nullptr);

  // The request the view sent.
  auto sent = server_.requests().front();
  EXPECT_EQ(sent.header("Accept"), "image/*");
  EXPECT_FALSE(sent.header("Cookie").has_value());

  auto second = thumbnail();
  second->setImageWithURL_placeholderImage(url("/thumbs/a.png"), placeholder_);
  EXPECT_EQ(second->image()->size(), ak::MakeSize(160, 80));
  EXPECT_EQ(second->net_imageRequestOperation(), nullptr);
  EXPECT_EQ(server_.requestCount(), 1u);

  // Scaling 3: 166 x 83, centred, cut at the sides; the picture's centre at the view's centre.
  pltest::renderWindow(window, "cover");
  EXPECT_TRUE(near(pltest::windowPixel(window, 55, 41), 128, 132, 200))
      << pltest::describe(pltest::windowPixel(window, 55, 41));
  for (auto corner : {MakePoint(0, 0), MakePoint(109, 0), MakePoint(0, 82), MakePoint(109, 82)}) {
    EXPECT_NEAR(pltest::windowPixel(window, corner.x, corner.y).b, 200, 4) << corner.x << "," << corner.y;
  }
  // The stored image keeps its size.
  EXPECT_EQ(first->image()->size(), ak::MakeSize(160, 80));

  // Scaling 0: 110 x 55 between black bars of 14 points.
  first->setImageScaling(0);
  pltest::renderWindow(window, "fit");
  for (double y : {0.0, 13.0, 69.0, 82.0}) {
    const auto bar = pltest::windowPixel(window, 55, y);
    EXPECT_TRUE(near(bar, 0, 0, 0, 0) && bar.a == 255) << y;
  }
  for (double y : {14.0, 41.0, 68.0}) EXPECT_NEAR(pltest::windowPixel(window, 55, y).b, 200, 4) << y;
  EXPECT_TRUE(near(pltest::windowPixel(window, 1, 41), 0, 128, 200, 12));
}

TEST_F(RemoteImageView, ARestartServesFromDiskAndAnEndedLifetimeFetchesAgain) {
  auto view = thumbnail();
  ASSERT_NO_FATAL_FAILURE(loadAndStore(view, "/thumbs/a.png"));
  cache_->synchronize();
  const double age = cache_->frozenCacheInfo()[ns::Value(key("/thumbs/a.png"))][ns::Value("death")]
                         .date()
                         .timeIntervalSinceDate(ns::Date::now());
  EXPECT_NEAR(age, FakeImageViewCacheLifetime, 60);

  // Another instance on the same folder is what the next launch sees.
  auto restarted = GVCache::initWithCacheDirectory(cacheFolder_);
  FakeImageView::setImageCache(restarted);
  auto again = thumbnail();
  again->setImageWithURL_placeholderImage(url("/thumbs/a.png"), placeholder_);
  EXPECT_EQ(again->image()->size(), ak::MakeSize(160, 80));
  EXPECT_EQ(FakeImageView::imageForURL(url("/thumbs/a.png")->absoluteString())->size(),
            ak::MakeSize(160, 80));
  EXPECT_EQ(server_.requestCount(), 1u);
  restarted->synchronize();

  // Fourteen days later: the index says the entry died a minute ago.
  const std::string indexPath = cacheFolder_ + "/" + GVCacheIndexFileName;
  std::stringstream bytes;
  bytes << std::ifstream(indexPath, std::ios::binary).rdbuf();
  ns::Value index = ns::PropertyListSerialization::propertyListWithData(ns::Data(bytes.str()));
  ASSERT_TRUE(index.isDictionary());
  ns::Dictionary entries = index.dictionary();
  ns::Value entry = entries[ns::Value(key("/thumbs/a.png"))];
  ASSERT_TRUE(entry.isDictionary());
  ns::Dictionary dead = entry.dictionary();
  dead.set(ns::Value("death"), ns::Value(ns::Date::dateWithTimeIntervalSinceNow(-60)));
  entries.set(ns::Value(key("/thumbs/a.png")), ns::Value(dead));
  auto written = ns::PropertyListSerialization::xmlData(ns::Value(entries));
  ASSERT_TRUE(written);
  std::ofstream(indexPath, std::ios::binary | std::ios::trunc) << written->toString();

  auto later = GVCache::initWithCacheDirectory(cacheFolder_);
  FakeImageView::setImageCache(later);
  auto fresh = thumbnail();
  fresh->setImageWithURL_placeholderImage(url("/thumbs/a.png"), placeholder_);
  EXPECT_EQ(fresh->image(), placeholder_);
  ASSERT_TRUE(pltest::pumpUntil([&] { return fresh->image() != placeholder_; }));
  EXPECT_EQ(server_.requestCount(), 2u);
  ASSERT_TRUE(pltest::pumpUntil([&] { return later->hasCacheForKey(key("/thumbs/a.png")); }));
  later->synchronize();
}

TEST_F(RemoteImageView, KeysAndACompletionForAURLTheViewNoLongerHolds) {
  auto view = thumbnail();
  auto request = ns::URLRequest::requestWithURL(ns::URL::URLWithString("http://127.0.0.1:8080/thumbs/a.png"));
  EXPECT_EQ(view->cacheKeyForURL(request), "i_f63f51edec3b634e2256f2b1bcae9042");
  EXPECT_EQ(view->cacheKeyForURL(ns::URLRequest::requestWithURL(nullptr)), std::nullopt);
  const auto key = view->cacheKeyForURL(ns::URLRequest::requestWithURL(url("/thumbs/a.png")));
  ASSERT_TRUE(key);
  EXPECT_TRUE(std::regex_match(*key, std::regex("i_[0-9a-f]{32}")));
  EXPECT_EQ(FakeImageView::imageForURL(url("/thumbs/a.png")->absoluteString()), nullptr);

  // The first download is done but its completion has not run when the view is given another
  // URL: the view shows the second image, and both reach the cache.
  view->setImageWithURL_placeholderImage(url("/thumbs/a.png"), placeholder_);
  FakeImageView::net_sharedImageRequestOperationQueue()->waitUntilAllOperationsAreFinished();
  view->setImageWithURL_placeholderImage(url("/thumbs/b.png"), placeholder_);
  EXPECT_EQ(view->image(), placeholder_);
  ASSERT_TRUE(pltest::pumpUntil([&] {
    return cache_->hasCacheForKey(*key) && cache_->hasCacheForKey(this->key("/thumbs/b.png")) &&
           view->image() != placeholder_;
  }));
  EXPECT_EQ(view->image()->size(), ak::MakeSize(40, 30));
  EXPECT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(FakeImageView::imageForURL(url("/thumbs/a.png")->absoluteString())->size(),
            ak::MakeSize(160, 80));

  // The success block replaces the default of showing the image.
  ns::Ref<ak::Image> handed;
  auto other = thumbnail();
  other->setImageWithURLRequest_placeholderImage_success_failure(
      ns::URLRequest::requestWithURL(url("/thumbs/b.png")), placeholder_,
      [&](const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::HTTPURLResponse>& response,
          const ns::Ref<ak::Image>& image) {
        EXPECT_EQ(request, nullptr);  // a cache hit has no request and no response
        EXPECT_EQ(response, nullptr);
        handed = image;
      },
      nullptr);
  ASSERT_NE(handed, nullptr);
  EXPECT_EQ(handed->size(), ak::MakeSize(40, 30));
}

TEST_F(RemoteImageView, AReusedViewNeverShowsTheThumbnailItWasGivenBefore) {
  // The first reply stalls after its first bytes; the cell is reused for another entry meanwhile.
  const std::string png = pngOf(gradient(160, 80));
  server_.canned("GET", "/thumbs/slow.png",
                 pltest::FakeReply::stalled(png.substr(0, 16), static_cast<long long>(png.size()))
                     .header("Content-Type", "image/png"));
  auto view = thumbnail();
  view->setImageWithURL_placeholderImage(url("/thumbs/slow.png"), placeholder_);
  auto first = view->net_imageRequestOperation();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(server_.waitForRequests(1));
  view->setImageWithURL_placeholderImage(url("/thumbs/b.png"), placeholder_);
  EXPECT_TRUE(first->isCancelled());
  ASSERT_TRUE(pltest::pumpUntil([&] { return view->image() != placeholder_; }));
  EXPECT_EQ(view->image()->size(), ak::MakeSize(40, 30));

  server_.release();
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return FakeImageView::net_sharedImageRequestOperationQueue()->operationCount() == 0; }));
  // A cancelled operation calls neither completion, so nothing more reaches the main thread.
  EXPECT_EQ(view->image()->size(), ak::MakeSize(40, 30));
  EXPECT_EQ(view->net_imageRequestOperation(), nullptr);
  cache_->synchronize();
  EXPECT_FALSE(cache_->hasCacheForKey(key("/thumbs/slow.png")));
}

TEST_F(RemoteImageView, FailuresAndOtherSchemesKeepThePlaceholderAndStoreNothing) {
  auto view = thumbnail();
  view->setImageWithURL_placeholderImage(url("/thumbs/missing.png"), placeholder_);
  ASSERT_TRUE(pltest::pumpUntil([&] { return view->net_imageRequestOperation() == nullptr; }));
  EXPECT_EQ(view->image(), placeholder_);
  cache_->synchronize();
  EXPECT_FALSE(cache_->hasCacheForKey(key("/thumbs/missing.png")));
  EXPECT_EQ(server_.requestCount(), 1u);

  // A thumbnail URL from a reply that names a local file, or anything but the web, is not read.
  for (const char* text : {"file:///etc/passwd", "ftp://127.0.0.1/a.png", "data:image/png;base64,AAAA"}) {
    SCOPED_TRACE(text);
    std::optional<long> failed;
    view->setImageWithURLRequest_placeholderImage_success_failure(
        ns::URLRequest::requestWithURL(ns::URL::URLWithString(text)), placeholder_, nullptr,
        [&](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&, const ns::Error& error) {
          failed = error.code();
        });
    EXPECT_EQ(view->image(), placeholder_);
    EXPECT_EQ(view->net_imageRequestOperation(), nullptr);
    EXPECT_EQ(failed, ns::URLErrorUnsupportedURL);
    EXPECT_EQ(FakeImageView::imageForURL(text), nullptr);
  }
  cache_->synchronize();
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(cache_->frozenCacheInfo().count(), 0u);
}

namespace {

class ClickRecorder : public ak::View {
 public:
  int presses = 0;
  void mouseDown(const ns::Ref<ak::Event>&) override { ++presses; }
};

}  // namespace

TEST_F(RemoteImageView, ClicksReachTheViewBeneathAndAnImageWithoutAreaDrawsTheBackground) {
  auto window = app_.window(MakeRect(100, 100, 200, 100), ak::BorderlessWindowMask);
  auto cell = ak::make<ClickRecorder>(MakeRect(0, 0, 200, 100));
  auto view = ak::make<FakeImageView>(MakeRect(10, 10, 110, 83));
  window->contentView()->addSubview(cell);
  cell->addSubview(view);
  EXPECT_EQ(view->hitTest(MakePoint(50, 50)), nullptr);
  pltest::click(window, MakePoint(60, 50));
  app_.dispatchQueued();
  EXPECT_EQ(cell->presses, 1);

  // An image without width or height has no scale factor; only the black background shows.
  auto flat = gradient(4, 4);
  flat->setSize(ak::MakeSize(0, 40));
  auto thin = gradient(4, 4);
  thin->setSize(ak::MakeSize(40, 0));
  for (auto scaling : {0ull, 1ull, 3ull}) {
    SCOPED_TRACE(scaling);
    view->setImageScaling(scaling);
    view->setImage(scaling == 1 ? thin : flat);
    pltest::renderWindow(window, "empty-image");
    EXPECT_TRUE(near(pltest::windowPixel(window, 60, 50), 0, 0, 0, 0));
  }
}
