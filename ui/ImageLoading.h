#pragma once
// What the remote image views share: the request they build for a URL and the URLs they load.
#include <string>

#include "platform/net/URLRequest.h"

namespace image_loading {

// A request for the URL with cookie handling off and "Accept: image/*".
ns::Ref<ns::URLRequest> imageRequestForURL(const ns::Ref<ns::URL>& url);
// Thumbnail URLs come from network replies: only http and https are fetched, so a reply cannot
// make a view read local files or other schemes.
bool isLoadableImageRequest(const ns::Ref<ns::URLRequest>& request);
// Whether two requests name the same URL (by absolute string; false when either has none).
bool sameURL(const ns::Ref<ns::URLRequest>& a, const ns::Ref<ns::URLRequest>& b);

}  // namespace image_loading
