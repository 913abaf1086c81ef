#pragma once
// A plain view that paints a background colour and one image with a chosen scaling, and that can
// fetch its image from a URL. Fetched images go into the application's keyed disk cache for 14
// days under "i_" + the MD5 of the URL (every "/" made "_" first), so a thumbnail seen once shows
// at once the next time, also after a restart. Transparent to the mouse: clicks reach the view
// beneath. Main thread only; only the download runs elsewhere.
//
//   auto thumbnail = ak::make<FakeImageView>(ak::MakeRect(0, 0, 110, 83));
//   thumbnail->setImageScaling(3);
//   thumbnail->setImageWithURL_placeholderImage(url, ak::Image::imageNamed("thumbnail_backround"));
#include <functional>
#include <optional>
#include <string>

#include "lib/net/ImageRequestOperation.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/View.h"
#include "platform/foundation/OperationQueue.h"

class GVCache;

// Fetched images live this long in the disk cache (14 days).
inline constexpr double FakeImageViewCacheLifetime = 1209600.0;

class FakeImageView : public ak::View {
 public:
  using Success = std::function<void(const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                                     const ns::Ref<ak::Image>&)>;
  using Failure = std::function<void(const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                                     const ns::Error&)>;

  // Black background, scaling 0 (proportionally down).
  void initWithFrame(const ak::Rect& frame) override;
  ns::Ref<ak::View> hitTest(const ak::Point& point) override { return nullptr; }

  ns::Ref<ak::Image> image() const { return image_; }
  void setImage(const ns::Ref<ak::Image>& image);
  // The values of ak::ImageScaling: 0 proportionally down, 1 axes independently, 2 none,
  // 3 proportionally up or down (covering the view).
  unsigned long long imageScaling() const { return imageScaling_; }
  void setImageScaling(unsigned long long scaling);
  ns::Ref<ak::Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<ak::Color>& color);
  void drawRect(const ak::Rect& dirtyRect) override;

  void setImageWithURL(const ns::Ref<ns::URL>& url);
  void setImageWithURL_placeholderImage(const ns::Ref<ns::URL>& url, const ns::Ref<ak::Image>& placeholder);
  // A cache hit shows at once (the success block hears nil request and response); a miss shows
  // the placeholder and fetches. A completion for a URL the view no longer holds only fills the
  // cache. Only http and https URLs are fetched.
  void setImageWithURLRequest_placeholderImage_success_failure(const ns::Ref<ns::URLRequest>& request,
                                                               const ns::Ref<ak::Image>& placeholder,
                                                               Success success, Failure failure);
  void cancelImageRequestOperation();

  // "i_" + md5HexString of the URL's absolute string with "/" made "_"; nullopt without a URL.
  std::optional<std::string> cacheKeyForURL(const ns::Ref<ns::URLRequest>& request) const;
  // The cached image of a URL string, or nullptr.
  static ns::Ref<ak::Image> imageForURL(const std::string& url);

  static ns::Ref<ns::OperationQueue> net_sharedImageRequestOperationQueue();
  ns::Ref<ImageRequestOperation> net_imageRequestOperation() const;
  void setNet_imageRequestOperation(const ns::Ref<ImageRequestOperation>& operation);

  // The disk cache the views use: getSharedGVCache() unless one was set (tests set another
  // instance on the same folder to see what a restart sees).
  static ns::Ref<GVCache> imageCache();
  static void setImageCache(const ns::Ref<GVCache>& cache);

  std::string className() const override { return "FakeImageView"; }

 private:
  ns::Ref<ak::Image> image_;
  ns::Ref<ak::Color> backgroundColor_;
  unsigned long long imageScaling_ = 0;
};

// The key of a URL string: "i_" + md5HexString of it with every "/" made "_".
std::string FakeImageViewCacheKey(const std::string& absoluteURL);
