#include "lib/http-server/Core/Responses/HTTPRedirectResponse.h"

ns::HTTPHeaderFields HTTPRedirectResponse::httpHeaders() {
  ns::HTTPHeaderFields headers;
  headers.set("Location", redirectPath_);
  return headers;
}
