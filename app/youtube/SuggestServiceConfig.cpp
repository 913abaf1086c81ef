#include "app/youtube/SuggestServiceConfig.h"

#include <cstdlib>

#include "platform/net/PercentEncoding.h"

std::string suggestServiceURL() {
  const char* value = std::getenv(kSuggestServiceURLEnvironmentKey);
  return value && *value ? value : kBuiltInSuggestServiceURL;
}

std::string suggestRequestURL(const std::string& text) {
  std::string url = suggestServiceURL();
  // Anything that is not unreserved is escaped, so "&", "=", "+" and "#" stay in the value.
  std::string value = ns::stringByAddingPercentEncodingWithAllowedCharacters(
      text, ns::URLCharacterSet::unreservedCharacterSet());
  char separator =
      url.find('?') == std::string::npos ? '?' : (url.back() == '?' || url.back() == '&' ? 0 : '&');
  if (separator) url += separator;
  return url + "q=" + value;
}
