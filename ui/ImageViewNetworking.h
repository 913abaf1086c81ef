#pragma once
// URL loading for any image view, with loaded images kept in a process-wide in-memory cache
// keyed by the request's URL (entries may go under memory pressure, and the least recently
// used go once the pictures' decoded pixels pass 64 MiB). Each lookup and each
// accepted result is logged ("cache img", "cache no", "success!"). The operation loading for a
// view is attached to it; all views share one queue of their own. Main thread only.
#include <functional>

#include "lib/net/ImageRequestOperation.h"
#include "platform/appkit/ImageView.h"
#include "platform/foundation/Cache.h"
#include "platform/foundation/OperationQueue.h"

class ImageRequestCache : public ns::Cache {
 public:
  // Nil for the policies that ignore local data (1 and 4); else the image stored for the URL.
  ns::Ref<ak::Image> cachedImageForRequest(const ns::Ref<ns::URLRequest>& request);
  // Stores the image under the URL's absolute string; nothing when either is nil.
  void cacheImage_forRequest(const ns::Ref<ak::Image>& image, const ns::Ref<ns::URLRequest>& request);
  std::string className() const override { return "ImageRequestCache"; }
};

namespace ImageViewNetworking {

using Success = std::function<void(const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                                   const ns::Ref<ak::Image>&)>;
using Failure = std::function<void(const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                                   const ns::Error&)>;

void setImageWithURL(const ns::Ref<ak::ImageView>& view, const ns::Ref<ns::URL>& url);
void setImageWithURL_placeholderImage(const ns::Ref<ak::ImageView>& view, const ns::Ref<ns::URL>& url,
                                      const ns::Ref<ak::Image>& placeholder);
// Only http and https URLs are fetched.
void setImageWithURLRequest_placeholderImage_success_failure(const ns::Ref<ak::ImageView>& view,
                                                             const ns::Ref<ns::URLRequest>& request,
                                                             const ns::Ref<ak::Image>& placeholder,
                                                             Success success, Failure failure);
void cancelImageRequestOperation(const ns::Ref<ak::ImageView>& view);

ns::Ref<ns::OperationQueue> net_sharedImageRequestOperationQueue();
ns::Ref<ImageRequestCache> net_sharedImageCache();
ns::Ref<ImageRequestOperation> net_imageRequestOperation(const ns::Ref<ak::ImageView>& view);
void setNet_imageRequestOperation(const ns::Ref<ak::ImageView>& view,
                                  const ns::Ref<ImageRequestOperation>& operation);

}  // namespace ImageViewNetworking
