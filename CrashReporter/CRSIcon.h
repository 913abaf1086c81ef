#pragma once
// The application icon the settings client sends when it registers the application: PNG bytes,
// their SHA-1 and the size in points.
#include <mutex>
#include <string>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/Image.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"

class CRSIcon : public ns::Object {
 public:
  CRSIcon(ns::Data data, std::string dataHash, ak::Size size, bool prerendered);
  static ns::Ref<CRSIcon> initWithData_dataHash_size_prerendered(ns::Data data, std::string dataHash,
                                                                 ak::Size size, bool prerendered);
  // The hash is the SHA-1 of the data.
  static ns::Ref<CRSIcon> initWithData_size_prerendered(ns::Data data, ak::Size size, bool prerendered);
  static ns::Ref<CRSIcon> initWithData_size(ns::Data data, ak::Size size) {
    return initWithData_size_prerendered(std::move(data), size, true);
  }
  // The image's bitmap as PNG, sized by its pixels; nullptr for no image or no pixels.
  static ns::Ref<CRSIcon> initWithImage(const ns::Ref<ak::Image>& image);

  static constexpr double kMaxSurfaceArea = 1048576.0;

  const ns::Data& data() const { return data_; }
  const std::string& dataHash() const { return dataHash_; }
  ak::Size size() const { return size_; }
  bool prerendered() const { return prerendered_; }
  double surfaceArea() const { return size_.width * size_.height; }
  bool isWithinMaxSurfaceArea() const { return surfaceArea() <= kMaxSurfaceArea; }
  bool largerThanSize(ak::Size size) const { return surfaceArea() > size.width * size.height; }

  std::string className() const override { return "CRSIcon"; }

 private:
  ns::Data data_;
  std::string dataHash_;
  ak::Size size_;
  bool prerendered_;
};

// The application's icon, as the application object gives it (by default the main bundle's PNG
// resource named by "CFBundleIconFile").
class CRSAppIconController : public ns::Object {
 public:
  ns::Ref<ak::Image> mainAppIcon() const;
  ns::Ref<CRSIcon> fetchApplicationIcon() const;
  // Fetched once and kept; nothing found is looked for again on the next call.
  ns::Ref<CRSIcon> applicationIcon();
  ns::Dictionary appInfoDictionary() const;

  std::string className() const override { return "CRSAppIconController"; }

 private:
  std::mutex mutex_;
  ns::Ref<CRSIcon> cachedAppIcon_;
};
