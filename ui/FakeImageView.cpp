#include "ui/FakeImageView.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "common/AppUtilities.h"
#include "lib/cache/GVCache.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/ImageLoading.h"

namespace {

// The associated-object key of the operation loading for a view.
const char kImageRequestOperationKey = 0;

struct CacheOverride {
  std::mutex mutex;
  ns::Ref<GVCache> cache;
};

CacheOverride& cacheOverride() {
  static ns::NoDestructor<CacheOverride> instance;
  return *instance;
}

}  // namespace

std::string FakeImageViewCacheKey(const std::string& absoluteURL) {
  std::string text = absoluteURL;
  std::replace(text.begin(), text.end(), '/', '_');
  return "i_" + md5HexString(text);
}

void FakeImageView::initWithFrame(const ak::Rect& frame) {
  View::initWithFrame(frame);
  backgroundColor_ = ak::colors::blackColor();
  imageScaling_ = 0;
}

void FakeImageView::setImage(const ns::Ref<ak::Image>& image) {
  image_ = image;
  setNeedsDisplay(true);
}

void FakeImageView::setImageScaling(unsigned long long scaling) {
  imageScaling_ = scaling;
  setNeedsDisplay(true);
}

void FakeImageView::setBackgroundColor(const ns::Ref<ak::Color>& color) {
  backgroundColor_ = color;
  setNeedsDisplay(true);
}

void FakeImageView::drawRect(const ak::Rect&) {
  const ak::Rect b = bounds();
  if (backgroundColor_) {
    backgroundColor_->set();
    ak::RectFill(b);
  }
  if (!image_) return;
  auto copy = image_->copy();
  const ak::Size size = copy->size();
  // An image without area has no scale factor (a division by zero): the background is all.
  if (!(size.width > 0) || !(size.height > 0)) return;
  const float ratioX = static_cast<float>(b.size.width / size.width);
  const float ratioY = static_cast<float>(b.size.height / size.height);
  switch (imageScaling_) {
    case 0: {
      const double f = std::min(ratioX, ratioY);
      copy->setSize(ak::MakeSize(size.width * f, size.height * f));
      break;
    }
    case 1:
      copy->setSize(b.size);
      break;
    case 3: {
      const double f = std::max(ratioX, ratioY);
      copy->setSize(ak::MakeSize(size.width * f, size.height * f));
      break;
    }
    default:
      break;
  }
  const ak::Size drawn = copy->size();
  copy->drawAtPoint_fromRect_operation_fraction(
      ak::MakePoint((b.size.width - drawn.width) * 0.5, (b.size.height - drawn.height) * 0.5), ak::ZeroRect,
      ak::CompositingOperation::Copy, 1.0);
}

// ---- loading ----

void FakeImageView::setImageWithURL(const ns::Ref<ns::URL>& url) {
  setImageWithURL_placeholderImage(url, nullptr);
}

void FakeImageView::setImageWithURL_placeholderImage(const ns::Ref<ns::URL>& url,
                                                     const ns::Ref<ak::Image>& placeholder) {
  setImageWithURLRequest_placeholderImage_success_failure(image_loading::imageRequestForURL(url), placeholder,
                                                          nullptr, nullptr);
}

void FakeImageView::setImageWithURLRequest_placeholderImage_success_failure(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<ak::Image>& placeholder, Success success,
    Failure failure) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  cancelImageRequestOperation();
  if (!image_loading::isLoadableImageRequest(request)) {
    setImage(placeholder);
    if (failure) {
      failure(request, nullptr,
              ns::makeURLError(ns::URLErrorUnsupportedURL, request ? request->URL() : nullptr));
    }
    return;
  }
  const auto key = cacheKeyForURL(request);
  auto cache = imageCache();
  if (auto cached = key ? cache->imageForKey(*key) : nullptr) {
    setImage(cached);
    setNet_imageRequestOperation(nullptr);
    if (success) success(nullptr, nullptr, cached);
    return;
  }
  setImage(placeholder);
  auto operation = ImageRequestOperation::initWithRequest(request);
  // The completions hold the view until the operation ends, as the view's own closures would.
  auto view = self<FakeImageView>();
  operation->setCompletionBlockWithSuccess_failure(
      [view, request, key, cache, success](const ns::Ref<ImageRequestOperation>& op,
                                           const ns::Ref<ak::Image>& image) {
        auto current = view->net_imageRequestOperation();
        if (current && image_loading::sameURL(request, current->request())) {
          if (success) {
            success(op->request(), op->response(), image);
          } else {
            view->setImage(image);
          }
          view->setNet_imageRequestOperation(nullptr);
        }
        // The cache store depends on the request only: a late image still fills the cache.
        if (image && key) cache->setImage_forKey_withTimeoutInterval(image, *key, FakeImageViewCacheLifetime);
      },
      [view, request, failure](const ns::Ref<ImageRequestOperation>& op, const ns::Error& error) {
        auto current = view->net_imageRequestOperation();
        if (current && image_loading::sameURL(request, current->request())) {
          if (failure) failure(op->request(), op->response(), error);
          view->setNet_imageRequestOperation(nullptr);
        }
      });
  setNet_imageRequestOperation(operation);
  net_sharedImageRequestOperationQueue()->addOperation(operation);
}

void FakeImageView::cancelImageRequestOperation() {
  if (auto operation = net_imageRequestOperation()) operation->cancel();
  setNet_imageRequestOperation(nullptr);
}

std::optional<std::string> FakeImageView::cacheKeyForURL(const ns::Ref<ns::URLRequest>& request) const {
  if (!request || !request->URL()) return std::nullopt;
  return FakeImageViewCacheKey(request->URL()->absoluteString());
}

ns::Ref<ak::Image> FakeImageView::imageForURL(const std::string& url) {
  return imageCache()->imageForKey(FakeImageViewCacheKey(url));
}

ns::Ref<ns::OperationQueue> FakeImageView::net_sharedImageRequestOperationQueue() {
  static ns::NoDestructor<ns::Ref<ns::OperationQueue>> queue(ns::make<ns::OperationQueue>());
  return *queue;
}

ns::Ref<ImageRequestOperation> FakeImageView::net_imageRequestOperation() const {
  return std::dynamic_pointer_cast<ImageRequestOperation>(
      ns::objc_getAssociatedObject(this, &kImageRequestOperationKey));
}

void FakeImageView::setNet_imageRequestOperation(const ns::Ref<ImageRequestOperation>& operation) {
  ns::objc_setAssociatedObject(this, &kImageRequestOperationKey, operation,
                               ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
}

ns::Ref<GVCache> FakeImageView::imageCache() {
  {
    auto& o = cacheOverride();
    std::lock_guard lock(o.mutex);
    if (o.cache) return o.cache;
  }
  return getSharedGVCache();
}

void FakeImageView::setImageCache(const ns::Ref<GVCache>& cache) {
  auto& o = cacheOverride();
  std::lock_guard lock(o.mutex);
  o.cache = cache;
}

PL_CLASS(FakeImageView, ak::View) {}
