// Set-Cookie headers: every input line is one header received from https://www.example.test.
// What is accepted may be sent back to that host and keeps its identity through its properties.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ns::Ref<ns::URL> url = ns::URL::URLWithString("https://www.example.test/app/page?x=1");
  std::string input(fuzz::text(data, size));
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    lines.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  auto cookies = ns::HTTPCookie::cookiesWithSetCookieLines_forURL(lines, url);
  for (const auto& cookie : cookies) {
    if (!cookie->matchesHost("www.example.test"))
      fuzz::fail("an accepted cookie is not for its host: " + cookie->description());
    auto copy = ns::HTTPCookie::cookieWithProperties(cookie->properties());
    if (!copy || !copy->isSameIdentity(*cookie))
      fuzz::fail("a cookie's properties do not make it again: " + cookie->description());
  }
  (void)ns::HTTPCookie::requestHeaderFieldsWithCookies(cookies);
  ns::HTTPCookie::parseCookieDate(input);
  return 0;
}
