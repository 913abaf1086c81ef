#include "app/cache/HTTPStringResponse.h"

#include <algorithm>

#include "lib/http-server/Core/HTTPConnection.h"

HTTPStringResponse::HTTPStringResponse(const std::string& text, ns::Weak<HTTPConnection> connection)
    : connection_(std::move(connection)), response_(text) {}

ns::Ref<HTTPStringResponse> HTTPStringResponse::initWithString_forConnection(
    const std::string& text, const ns::Ref<HTTPConnection>& connection) {
  return ns::make<HTTPStringResponse>(text, connection);
}

std::optional<ns::Data> HTTPStringResponse::readDataOfLength(std::uint64_t length) {
  std::uint64_t total = response_.length();
  std::uint64_t start = std::min(strOffset_, total);
  std::uint64_t count = std::min(length, total - start);
  strOffset_ = start + count;
  return ns::Data(response_.bytes() + start, static_cast<std::size_t>(count));
}

ns::HTTPHeaderFields HTTPStringResponse::httpHeaders() {
  ns::HTTPHeaderFields headers;
  headers.set("Content-Type", contentType_);
  return headers;
}

void HTTPStringResponse::abort() {
  if (auto connection = connection_.lock()) connection->responseDidAbort(self<HTTPResponse>());
}
