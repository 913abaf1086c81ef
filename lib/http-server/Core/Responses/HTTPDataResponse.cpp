#include "lib/http-server/Core/Responses/HTTPDataResponse.h"

#include <algorithm>

std::optional<ns::Data> HTTPDataResponse::readDataOfLength(std::uint64_t length) {
  // An offset set past the end reads nothing instead of running off the buffer.
  std::uint64_t left = offset_ < data_.length() ? data_.length() - offset_ : 0;
  std::uint64_t count = std::min(length, left);
  if (count == 0) return ns::Data();
  ns::Data piece = data_.subdata(static_cast<std::size_t>(offset_), static_cast<std::size_t>(count));
  offset_ += count;
  return piece;
}
