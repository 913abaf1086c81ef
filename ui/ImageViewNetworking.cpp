#include "ui/ImageViewNetworking.h"

#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/ImageLoading.h"

namespace {

// The associated-object key of the operation loading for an image view.
const char kImageRequestOperationKey = 0;

// Decoded bytes the shared cache holds at most: some hundreds of list thumbnails.
constexpr std::size_t kSharedImageCacheCostLimit = 64u << 20;

}  // namespace

ns::Ref<ak::Image> ImageRequestCache::cachedImageForRequest(const ns::Ref<ns::URLRequest>& request) {
  if (!request || !request->URL()) return nullptr;
  switch (request->cachePolicy()) {
    case ns::URLRequestReloadIgnoringLocalCacheData:
    case ns::URLRequestReloadIgnoringLocalAndRemoteCacheData:
      return nullptr;
    default:
      return std::dynamic_pointer_cast<ak::Image>(objectForKey(ns::Value(request->URL()->absoluteString())));
  }
}

void ImageRequestCache::cacheImage_forRequest(const ns::Ref<ak::Image>& image,
                                              const ns::Ref<ns::URLRequest>& request) {
  if (!image || !request || !request->URL()) return;
  // The cost is the decoded pixels' bytes, which the shared cache bounds.
  setObject_forKey_cost(image, ns::Value(request->URL()->absoluteString()),
                        image->pixelsWide() * image->pixelsHigh() * 4);
}

PL_CLASS(ImageRequestCache, ns::Cache) {}

namespace ImageViewNetworking {

void setImageWithURL(const ns::Ref<ak::ImageView>& view, const ns::Ref<ns::URL>& url) {
  setImageWithURL_placeholderImage(view, url, nullptr);
}

void setImageWithURL_placeholderImage(const ns::Ref<ak::ImageView>& view, const ns::Ref<ns::URL>& url,
                                      const ns::Ref<ak::Image>& placeholder) {
  setImageWithURLRequest_placeholderImage_success_failure(view, image_loading::imageRequestForURL(url),
                                                          placeholder, nullptr, nullptr);
}

void setImageWithURLRequest_placeholderImage_success_failure(const ns::Ref<ak::ImageView>& view,
                                                             const ns::Ref<ns::URLRequest>& request,
                                                             const ns::Ref<ak::Image>& placeholder,
                                                             Success success, Failure failure) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!view) return;
  cancelImageRequestOperation(view);
  if (!image_loading::isLoadableImageRequest(request)) {
    view->setImage(placeholder);
    if (failure) {
      failure(request, nullptr,
              ns::makeURLError(ns::URLErrorUnsupportedURL, request ? request->URL() : nullptr));
    }
    return;
  }
  auto cache = net_sharedImageCache();
  if (auto cached = cache->cachedImageForRequest(request)) {
    ns::Log("cache img");
    view->setImage(cached);
    setNet_imageRequestOperation(view, nullptr);
    if (success) success(nullptr, nullptr, cached);
    return;
  }
  ns::Log("cache no");
  view->setImage(placeholder);
  auto operation = ImageRequestOperation::initWithRequest(request);
  operation->setCompletionBlockWithSuccess_failure(
      [view, request, cache, success](const ns::Ref<ImageRequestOperation>& op,
                                      const ns::Ref<ak::Image>& image) {
        auto current = net_imageRequestOperation(view);
        if (current && image_loading::sameURL(request, current->request())) {
          ns::Log("success!");
          if (success) {
            success(op->request(), op->response(), image);
          } else {
            view->setImage(image);
          }
          setNet_imageRequestOperation(view, nullptr);
        }
        cache->cacheImage_forRequest(image, request);
      },
      [view, request, failure](const ns::Ref<ImageRequestOperation>& op, const ns::Error& error) {
        auto current = net_imageRequestOperation(view);
        if (current && image_loading::sameURL(request, current->request())) {
          if (failure) failure(op->request(), op->response(), error);
          setNet_imageRequestOperation(view, nullptr);
        }
      });
  setNet_imageRequestOperation(view, operation);
  net_sharedImageRequestOperationQueue()->addOperation(operation);
}

void cancelImageRequestOperation(const ns::Ref<ak::ImageView>& view) {
  if (!view) return;
  if (auto operation = net_imageRequestOperation(view)) operation->cancel();
  setNet_imageRequestOperation(view, nullptr);
}

ns::Ref<ns::OperationQueue> net_sharedImageRequestOperationQueue() {
  static ns::NoDestructor<ns::Ref<ns::OperationQueue>> queue(ns::make<ns::OperationQueue>());
  return *queue;
}

ns::Ref<ImageRequestCache> net_sharedImageCache() {
  // Nothing reports memory pressure here, so the cache bounds itself: the least recently used
  // pictures go once their pixels pass the limit.
  static ns::NoDestructor<ns::Ref<ImageRequestCache>> cache([] {
    auto made = ns::make<ImageRequestCache>();
    made->setTotalCostLimit(kSharedImageCacheCostLimit);
    return made;
  }());
  return *cache;
}

ns::Ref<ImageRequestOperation> net_imageRequestOperation(const ns::Ref<ak::ImageView>& view) {
  if (!view) return nullptr;
  return std::dynamic_pointer_cast<ImageRequestOperation>(
      ns::objc_getAssociatedObject(view.get(), &kImageRequestOperationKey));
}

void setNet_imageRequestOperation(const ns::Ref<ak::ImageView>& view,
                                  const ns::Ref<ImageRequestOperation>& operation) {
  if (!view) return;
  ns::objc_setAssociatedObject(view.get(), &kImageRequestOperationKey, operation,
                               ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
}

}  // namespace ImageViewNetworking
