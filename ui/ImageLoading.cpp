#include "ui/ImageLoading.h"

#include "platform/core/Str.h"

namespace image_loading {

ns::Ref<ns::URLRequest> imageRequestForURL(const ns::Ref<ns::URL>& url) {
  auto request = ns::URLRequest::requestWithURL(url);
  request->setHTTPShouldHandleCookies(false);
  request->addValue_forHTTPHeaderField("image/*", "Accept");
  return request;
}

bool isLoadableImageRequest(const ns::Ref<ns::URLRequest>& request) {
  if (!request || !request->URL()) return false;
  const auto scheme = request->URL()->scheme();
  if (!scheme) return false;
  const std::string lower = ns::str::lowercase(*scheme);
  return lower == "http" || lower == "https";
}

bool sameURL(const ns::Ref<ns::URLRequest>& a, const ns::Ref<ns::URLRequest>& b) {
  if (!a || !b || !a->URL() || !b->URL()) return false;
  return a->URL()->absoluteString() == b->URL()->absoluteString();
}

}  // namespace image_loading
