// Range headers as the server's connection parses them. The input is "<content length>\n<header>"
// (a first line that is no number means a length of 10000). Accepted ranges are sorted, apart,
// not empty and inside the body.
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "lib/http-server/Core/HTTPConfig.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "platform/dispatch/Queue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ns::Ref<HTTPConnection> connection = ns::make<HTTPConnection>(
      nullptr, HTTPConfig::initWithServer_documentRoot(ns::Weak<HTTPServer>(), std::nullopt));
  std::string input(fuzz::text(data, size));
  std::uint64_t length = 10000;
  std::string header = input;
  if (auto newline = input.find('\n'); newline != std::string::npos && newline > 0 && newline <= 20) {
    std::string first = input.substr(0, newline);
    if (first.find_first_not_of("0123456789") == std::string::npos) {
      length = std::stoull(first.size() > 19 ? first.substr(0, 19) : first);
      header = input.substr(newline + 1);
    }
  }
  // The connection's state belongs to its queue.
  dispatch::sync(connection->connectionQueue(), [&] {
    if (!connection->parseRangeRequest_withContentLength(header, length)) {
      if (!connection->ranges().empty()) fuzz::fail("a refused header left ranges behind");
      return;
    }
    const auto& ranges = connection->ranges();
    if (ranges.empty()) fuzz::fail("an accepted header has no range");
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      const ByteRange& r = ranges[i];
      if (r.length == 0 || r.location >= length || r.length > length - r.location)
        fuzz::fail("range " + ByteRangeDescription(r) + " is empty or outside a body of " +
                   std::to_string(length));
      if (i > 0 && ranges[i - 1].end() > r.location)
        fuzz::fail("ranges " + ByteRangeDescription(ranges[i - 1]) + " and " + ByteRangeDescription(r) +
                   " overlap or are out of order");
    }
  });
  return 0;
}
