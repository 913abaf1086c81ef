#include "CrashReporter/CRSIcon.h"

#include "CrashReporter/CRSSystemInfo.h"
#include "platform/appkit/Application.h"
#include "platform/foundation/Bundle.h"

CRSIcon::CRSIcon(ns::Data data, std::string dataHash, ak::Size size, bool prerendered)
    : data_(std::move(data)), dataHash_(std::move(dataHash)), size_(size), prerendered_(prerendered) {}

ns::Ref<CRSIcon> CRSIcon::initWithData_dataHash_size_prerendered(ns::Data data, std::string dataHash,
                                                                 ak::Size size, bool prerendered) {
  return ns::make<CRSIcon>(std::move(data), std::move(dataHash), size, prerendered);
}

ns::Ref<CRSIcon> CRSIcon::initWithData_size_prerendered(ns::Data data, ak::Size size, bool prerendered) {
  std::string hash = CRSSHA1HexString(data.bytes(), data.length());
  return ns::make<CRSIcon>(std::move(data), std::move(hash), size, prerendered);
}

ns::Ref<CRSIcon> CRSIcon::initWithImage(const ns::Ref<ak::Image>& image) {
  if (!image) return nullptr;
  auto png = image->PNGRepresentation();
  if (!png || png->empty()) return nullptr;
  ak::Size size{static_cast<double>(image->pixelsWide()), static_cast<double>(image->pixelsHigh())};
  return initWithData_size(std::move(*png), size);
}

ns::Dictionary CRSAppIconController::appInfoDictionary() const {
  return ns::Bundle::mainBundle()->infoDictionary();
}

ns::Ref<ak::Image> CRSAppIconController::mainAppIcon() const {
  return ak::Application::sharedApplication()->applicationIconImage();
}

ns::Ref<CRSIcon> CRSAppIconController::fetchApplicationIcon() const {
  return CRSIcon::initWithImage(mainAppIcon());
}

ns::Ref<CRSIcon> CRSAppIconController::applicationIcon() {
  std::lock_guard lock(mutex_);
  if (!cachedAppIcon_) cachedAppIcon_ = fetchApplicationIcon();
  return cachedAppIcon_;
}
