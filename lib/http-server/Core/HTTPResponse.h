#pragma once
// What every response object of the embedded server offers its connection. The connection calls
// it only on its connection queue. The optional operations have defaults that behave as if the
// response did not implement them.
//
// Contract: a response that answers empty data (or nothing) must later call the connection's
// responseHasAvailableData, or the connection waits for ever; a non-range response must report
// isDone together with its last non-empty piece (a chunked one may instead report it with an
// empty answer); a response never returns more than asked.
#include <cstdint>
#include <optional>

#include "lib/sockets/DispatchFileRange.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/net/HTTPHeaderFields.h"

class HTTPResponse : public ns::Object {
 public:
  // Total body length; asked once when the header block is built, unless chunked.
  virtual std::uint64_t contentLength() = 0;
  // Position of the next byte readDataOfLength returns.
  virtual std::uint64_t offset() = 0;
  virtual void setOffset(std::uint64_t offset) = 0;
  // At most `length` bytes from the current position; empty or nothing means none available now.
  virtual std::optional<ns::Data> readDataOfLength(std::uint64_t length) = 0;
  virtual bool isDone() = 0;

  // Optional operations.
  // True while the header block must wait; the response then calls responseHasAvailableData.
  virtual bool delayResponseHeaders() { return false; }
  // Status of a non-range response.
  virtual long status() { return 200; }
  // Extra header fields, applied after the standard ones (replacing one of the same name).
  virtual ns::HTTPHeaderFields httpHeaders() { return {}; }
  // The body goes out with chunked transfer coding; contentLength is not asked and Range ignored.
  virtual bool isChunked() { return false; }
  // The connection is done with this response; later calls from it to the connection are ignored.
  virtual void connectionDidClose() {}
  // The next at most `length` bytes as a range of an open file, for the socket to send from the
  // file itself; the position moves past them as readDataOfLength would. Nothing (the default)
  // when the bytes are not all in the file yet, or the response has no file: the connection then
  // reads them with readDataOfLength. A subclass that changes what readDataOfLength answers must
  // answer nothing here.
  virtual std::optional<DispatchFileRange> fileRangeOfLength(std::uint64_t length) { return std::nullopt; }
};
