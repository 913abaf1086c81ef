// The sending half of HTTPConnection: header blocks, the body pumps, keep-alive, byte ranges.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/NumberParsing.h"
#include "lib/sockets/DispatchSocket.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/security/UUID.h"
#include "platform/text/DateFormatter.h"

namespace {

constexpr char kLogName[] = "HTTPConnection";

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string contentRange(const ByteRange& range, std::uint64_t contentLength) {
  return "bytes " + std::to_string(range.location) + "-" + std::to_string(range.location + range.length - 1) +
         "/" + std::to_string(contentLength);
}

}  // namespace

// Ranges -------------------------------------------------------------------------------------

bool HTTPConnection::parseRangeRequest_withContentLength(const std::string& rangeHeader,
                                                         std::uint64_t contentLength) {
  assertOnConnectionQueue();
  ranges_.clear();
  rangeIndex_ = 0;
  std::size_t eq = rangeHeader.find('=');
  if (eq == std::string::npos) return false;
  std::string_view unit = trimmed(std::string_view(rangeHeader).substr(0, eq));
  std::string_view set = trimmed(std::string_view(rangeHeader).substr(eq + 1));
  if (!ns::headerNameEquals(unit, "bytes")) return false;

  // A header naming more ranges than any client needs is refused as a whole (the full body
  // goes out instead), before anything is parsed, so that one request cannot hold the shared
  // connection queue.
  if (static_cast<std::size_t>(std::count(set.begin(), set.end(), ',')) >= MAX_RANGES) return false;

  const std::uint64_t L = contentLength;
  std::vector<ByteRange> found;
  std::size_t pos = 0;
  while (true) {
    std::size_t comma = set.find(',', pos);
    std::string element(
        set.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    std::size_t dash = element.find('-');
    if (dash == std::string::npos) {
      std::uint64_t n = 0;
      if (!NumberParsing::parseString_intoUInt64(element, &n) || n >= L) return false;
      found.push_back({n, 1});
    } else {
      std::uint64_t a = 0, b = 0;
      bool hasA = NumberParsing::parseString_intoUInt64(element.substr(0, dash), &a);
      bool hasB = NumberParsing::parseString_intoUInt64(element.substr(dash + 1), &b);
      if (!hasA) {
        if (!hasB || b > L) return false;
        found.push_back({L - b, b});
      } else if (!hasB) {
        if (a >= L) return false;
        found.push_back({a, L - a});
      } else {
        if (a > b || b >= L) return false;
        found.push_back({a, b - a + 1});
      }
    }
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  if (found.empty()) return false;
  // An empty range (a suffix of length 0) would announce a body that never comes: the whole
  // header is refused and the full body sent instead.
  for (const auto& r : found)
    if (r.length == 0) return false;
  std::sort(found.begin(), found.end(),
            [](const ByteRange& x, const ByteRange& y) { return byteRangeCompare(x, y) < 0; });
  // Sorted by start, two ranges overlap exactly when one starts before the end of an earlier one.
  for (std::size_t i = 1; i < found.size(); ++i)
    if (found[i].location < found[i - 1].end()) return false;
  ranges_ = std::move(found);
  return true;
}

ns::Ref<HTTPMessage> HTTPConnection::newUniRangeResponse(std::uint64_t contentLength) {
  assertOnConnectionQueue();
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(206, std::nullopt, HTTPVersion1_1);
  const ByteRange& range = ranges_.front();
  response->setHeaderField_value("Content-Length", std::to_string(range.length));
  response->setHeaderField_value("Content-Range", contentRange(range, contentLength));
  return response;
}

ns::Ref<HTTPMessage> HTTPConnection::newMultiRangeResponse(std::uint64_t contentLength) {
  assertOnConnectionQueue();
  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(206, std::nullopt, HTTPVersion1_1);
  ranges_boundry_ = sec::UUID::newUUIDString();
  ranges_headers_.clear();
  std::uint64_t actualContentLength = 0;
  for (const auto& range : ranges_) {
    std::string header = "\r\n--" + ranges_boundry_ + "\r\n" +
                         "Content-Range: " + contentRange(range, contentLength) + "\r\n\r\n";
    actualContentLength += header.size() + range.length;
    ranges_headers_.emplace_back(header);
  }
  actualContentLength += ("\r\n--" + ranges_boundry_ + "--\r\n").size();
  response->setHeaderField_value("Content-Length", std::to_string(actualContentLength));
  response->setHeaderField_value("Content-Type", "multipart/byteranges; boundary=" + ranges_boundry_);
  return response;
}

// Wire helpers -------------------------------------------------------------------------------

std::string HTTPConnection::dateAsString(const ns::Date& date) {
  // Connections may still answer while the process exits: the formatter and its cache are never
  // destroyed.
  struct DateText {
    ns::Ref<ns::DateFormatter> formatter = ns::make<ns::DateFormatter>();
    std::mutex mutex;
    double cachedSecond = -1;
    std::string cachedText;
    DateText() {
      formatter->setDateFormat("EEE, dd MMM y HH:mm:ss 'GMT'");
      formatter->setTimeZone(*ns::TimeZone::timeZoneWithName("GMT"));
      formatter->setLocale(ns::Locale::localeWithLocaleIdentifier("en_US"));
    }
  };
  static ns::NoDestructor<DateText> text;
  // Every response asks for the current time: the text is made once a second.
  double second = std::floor(date.timeIntervalSince1970());
  std::lock_guard lock(text->mutex);
  if (second != text->cachedSecond) {
    text->cachedText = text->formatter->stringFromDate(date);
    text->cachedSecond = second;
  }
  return text->cachedText;
}

ns::Data HTTPConnection::chunkedTransferSizeLineForLength(std::uint64_t length) {
  char line[32];
  int n = std::snprintf(line, sizeof line, "%llx\r\n", static_cast<unsigned long long>(length));
  return ns::Data(line, static_cast<std::size_t>(n));
}

ns::Data HTTPConnection::chunkedTransferFooter() {
  return ns::Data("\r\n0\r\n\r\n");
}

std::uint64_t HTTPConnection::writeQueueSize() const {
  assertOnConnectionQueue();
  std::uint64_t sum = 0;
  for (auto size : responseDataSizes_) sum += size;
  return sum;
}

ns::Data HTTPConnection::preprocessResponse(const ns::Ref<HTTPMessage>& response) {
  assertOnConnectionQueue();
  response->setHeaderField_value("Date", dateAsString(ns::Date::now()));
  response->setHeaderField_value("Accept-Ranges", "bytes");
  if (httpResponse_)
    for (const auto& [name, value] : httpResponse_->httpHeaders())
      response->setHeaderField_value(name, value);
  return response->messageData();
}

ns::Data HTTPConnection::preprocessErrorResponse(const ns::Ref<HTTPMessage>& response) {
  return preprocessResponse(response);
}

// Writing ------------------------------------------------------------------------------------

HTTPConnection::BodyPiece HTTPConnection::readBodyPiece(std::uint64_t length) {
  assertOnConnectionQueue();
  BodyPiece piece;
  if (!httpResponse_->isChunked()) piece.file = httpResponse_->fileRangeOfLength(length);
  if (!piece.file) piece.data = httpResponse_->readDataOfLength(length);
  return piece;
}

void HTTPConnection::sendPiece(std::vector<ns::Data> prefix, BodyPiece piece, double timeout, long tag) {
  assertOnConnectionQueue();
  if (!dispatchSocket_) return;
  if (prefix.empty() && !piece.file) {
    if (piece.data) dispatchSocket_->writeData_withTimeout_tag(*piece.data, timeout, tag);
    return;
  }
  if (piece.data) prefix.push_back(std::move(*piece.data));
  dispatchSocket_->writePieces_fileRange_withTimeout_tag(std::move(prefix), std::move(piece.file), timeout,
                                                         tag);
}

void HTTPConnection::writeBody(BodyPiece piece, long tag, std::vector<ns::Data> prefix) {
  assertOnConnectionQueue();
  responseDataSizes_.push_back(piece.length());
  sendPiece(std::move(prefix), std::move(piece), TIMEOUT_NONE, tag);
}

void HTTPConnection::writeFinal(const ns::Data& data, double timeout, long tag, bool isBody) {
  assertOnConnectionQueue();
  responseComplete_ = true;
  if (isBody) responseDataSizes_.push_back(data.length());
  if (dispatchSocket_) dispatchSocket_->writeData_withTimeout_tag(data, timeout, tag);
}

void HTTPConnection::writeFinalBody(BodyPiece piece, std::vector<ns::Data> prefix) {
  assertOnConnectionQueue();
  responseComplete_ = true;
  responseDataSizes_.push_back(piece.length());
  sendPiece(std::move(prefix), std::move(piece), TIMEOUT_NONE, HTTP_RESPONSE);
}

// Header blocks that go out ahead of nothing keep their own write and time-out.
static void writeHeaders(const ns::Ref<DispatchSocket>& socket, const std::vector<ns::Data>& prefix) {
  if (!socket) return;
  for (const auto& block : prefix)
    socket->writeData_withTimeout_tag(block, HTTPConnection::TIMEOUT_WRITE_HEAD,
                                      HTTPConnection::HTTP_PARTIAL_RESPONSE_HEADER);
}

void HTTPConnection::writeStandardPiece(BodyPiece piece, std::vector<ns::Data> prefix) {
  assertOnConnectionQueue();
  if (piece.empty()) {
    writeHeaders(dispatchSocket_, prefix);
    // A chunked body may end with no last piece (an empty one, for one): only the last-chunk
    // line is left to send, as every earlier piece ended with its CRLF.
    if (httpResponse_->isChunked() && httpResponse_->isDone())
      writeFinal(ns::Data("0\r\n\r\n"), TIMEOUT_WRITE_HEAD, HTTP_RESPONSE, false);
    return;
  }
  if (httpResponse_->isChunked()) {
    writeHeaders(dispatchSocket_, prefix);
    const ns::Data& data = *piece.data;
    responseDataSizes_.push_back(data.length());
    if (!dispatchSocket_) return;
    dispatchSocket_->writeData_withTimeout_tag(chunkedTransferSizeLineForLength(data.length()),
                                               TIMEOUT_WRITE_HEAD, HTTP_CHUNKED_RESPONSE_HEADER);
    dispatchSocket_->writeData_withTimeout_tag(data, TIMEOUT_NONE, HTTP_CHUNKED_RESPONSE_BODY);
    if (httpResponse_->isDone()) {
      writeFinal(chunkedTransferFooter(), TIMEOUT_WRITE_HEAD, HTTP_RESPONSE, false);
    } else {
      dispatchSocket_->writeData_withTimeout_tag(DispatchSocket::CRLFData(), TIMEOUT_WRITE_HEAD,
                                                 HTTP_CHUNKED_RESPONSE_FOOTER);
    }
  } else if (httpResponse_->isDone()) {
    writeFinalBody(std::move(piece), std::move(prefix));
  } else {
    writeBody(std::move(piece), HTTP_PARTIAL_RESPONSE_BODY, std::move(prefix));
  }
}

void HTTPConnection::sendResponseHeadersAndBody() {
  assertOnConnectionQueue();
  if (httpResponse_->delayResponseHeaders()) return;

  bool isChunked = httpResponse_->isChunked();
  std::uint64_t contentLength = isChunked ? 0 : httpResponse_->contentLength();

  auto rangeHeader = request_->headerField("Range");
  bool isRangeRequest =
      !isChunked && rangeHeader && parseRangeRequest_withContentLength(*rangeHeader, contentLength);
  if (!isRangeRequest) ranges_.clear();

  ns::Ref<HTTPMessage> response;
  if (isRangeRequest) {
    response =
        ranges_.size() == 1 ? newUniRangeResponse(contentLength) : newMultiRangeResponse(contentLength);
  } else {
    response = HTTPMessage::initResponseWithStatusCode_description_version(httpResponse_->status(),
                                                                           std::nullopt, HTTPVersion1_1);
    if (isChunked)
      response->setHeaderField_value("Transfer-Encoding", "chunked");
    else
      response->setHeaderField_value("Content-Length", std::to_string(contentLength));
  }
  ns::Data responseData = preprocessResponse(response);

  if (request_->method() == "HEAD" || (!isChunked && contentLength == 0)) {
    sentResponseHeaders_ = true;
    writeFinal(responseData, TIMEOUT_WRITE_HEAD, HTTP_RESPONSE, false);
    return;
  }
  sentResponseHeaders_ = true;

  // The header block goes out in one write with the first piece of the body when that piece is
  // ready now, so that a small response leaves as one segment.
  if (!isRangeRequest) {
    writeStandardPiece(readBodyPiece(READ_CHUNKSIZE), {responseData});
  } else if (ranges_.size() == 1) {
    const ByteRange range = ranges_.front();
    httpResponse_->setOffset(range.location);
    BodyPiece piece = readBodyPiece(std::min(range.length, READ_CHUNKSIZE));
    if (piece.empty()) {
      writeHeaders(dispatchSocket_, {responseData});
    } else if (piece.length() == range.length) {
      writeFinalBody(std::move(piece), {responseData});
    } else {
      writeBody(std::move(piece), HTTP_PARTIAL_RANGE_RESPONSE_BODY, {responseData});
    }
  } else {
    const ByteRange range = ranges_.front();
    httpResponse_->setOffset(range.location);
    BodyPiece piece = readBodyPiece(std::min(range.length, READ_CHUNKSIZE));
    if (piece.empty())
      writeHeaders(dispatchSocket_, {responseData, ranges_headers_.front()});
    else
      writeBody(std::move(piece), HTTP_PARTIAL_RANGES_RESPONSE_BODY, {responseData, ranges_headers_.front()});
  }
}

void HTTPConnection::continueSendingStandardResponseBody() {
  assertOnConnectionQueue();
  std::uint64_t queued = writeQueueSize();
  if (queued >= MAX_WRITE_QUEUE_SIZE) return;
  writeStandardPiece(readBodyPiece(MAX_WRITE_QUEUE_SIZE - queued));
}

void HTTPConnection::continueSendingSingleRangeResponseBody() {
  assertOnConnectionQueue();
  std::uint64_t queued = writeQueueSize();
  if (queued >= MAX_WRITE_QUEUE_SIZE) return;
  const ByteRange range = ranges_.front();
  std::uint64_t offset = httpResponse_->offset();
  if (offset >= range.end()) return;
  std::uint64_t left = range.end() - offset;
  BodyPiece piece = readBodyPiece(std::min(left, MAX_WRITE_QUEUE_SIZE - queued));
  if (piece.empty()) return;
  if (piece.length() == left)
    writeFinalBody(std::move(piece));
  else
    writeBody(std::move(piece), HTTP_PARTIAL_RANGE_RESPONSE_BODY);
}

void HTTPConnection::continueSendingMultiRangeResponseBody() {
  assertOnConnectionQueue();
  std::uint64_t queued = writeQueueSize();
  if (queued >= MAX_WRITE_QUEUE_SIZE) return;
  const ByteRange range = ranges_[static_cast<std::size_t>(rangeIndex_)];
  std::uint64_t offset = httpResponse_->offset();
  if (offset < range.end()) {
    std::uint64_t left = range.end() - offset;
    BodyPiece piece = readBodyPiece(std::min(left, MAX_WRITE_QUEUE_SIZE - queued));
    if (!piece.empty()) writeBody(std::move(piece), HTTP_PARTIAL_RANGES_RESPONSE_BODY);
    return;
  }
  if (static_cast<std::size_t>(++rangeIndex_) < ranges_.size()) {
    const ByteRange next = ranges_[static_cast<std::size_t>(rangeIndex_)];
    const ns::Data& partHeader = ranges_headers_[static_cast<std::size_t>(rangeIndex_)];
    httpResponse_->setOffset(next.location);
    BodyPiece piece = readBodyPiece(std::min(next.length, MAX_WRITE_QUEUE_SIZE - queued));
    if (piece.empty())
      writeHeaders(dispatchSocket_, {partHeader});
    else
      writeBody(std::move(piece), HTTP_PARTIAL_RANGES_RESPONSE_BODY, {partHeader});
  } else {
    writeFinal(ns::Data("\r\n--" + ranges_boundry_ + "--\r\n"), TIMEOUT_WRITE_HEAD, HTTP_RESPONSE, false);
  }
}

void HTTPConnection::responseHasAvailableData(const ns::Ref<HTTPResponse>& sender) {
  auto me = self<HTTPConnection>();
  // The task holds the sender, so a freed response's address can never match the current one.
  dispatch::async(connectionQueue_, [me, sender] {
    if (sender != me->httpResponse_) {
      HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: %@ - Sender is not current httpResponse", kLogName,
                    me.get(), "responseHasAvailableData:");
      return;
    }
    if (me->responseComplete_) return;
    if (!me->sentResponseHeaders_)
      me->sendResponseHeadersAndBody();
    else if (me->ranges_.size() == 1)
      me->continueSendingSingleRangeResponseBody();
    else if (me->ranges_.size() > 1)
      me->continueSendingMultiRangeResponseBody();
    else
      me->continueSendingStandardResponseBody();
  });
}

void HTTPConnection::responseDidAbort(const ns::Ref<HTTPResponse>& sender) {
  auto me = self<HTTPConnection>();
  dispatch::async(connectionQueue_, [me, sender] {
    if (sender != me->httpResponse_) {
      HTTP_LOG_WARN(HTTP_LOG_LEVEL_CONNECTION, "%@[%p]: %@ - Sender is not current httpResponse", kLogName,
                    me.get(), "responseDidAbort:");
      return;
    }
    if (me->dispatchSocket_) me->dispatchSocket_->disconnectAfterWriting();
  });
}

void HTTPConnection::socket_didWriteDataWithTag(const ns::Ref<DispatchSocket>&, long tag) {
  assertOnConnectionQueue();
  switch (tag) {
    case HTTP_PARTIAL_RESPONSE_BODY:
      if (!responseDataSizes_.empty()) responseDataSizes_.pop_front();
      if (httpResponse_ && !responseComplete_) continueSendingStandardResponseBody();
      break;
    case HTTP_CHUNKED_RESPONSE_BODY:
      if (!responseDataSizes_.empty()) responseDataSizes_.pop_front();
      break;
    case HTTP_CHUNKED_RESPONSE_FOOTER:
      if (httpResponse_ && !responseComplete_) continueSendingStandardResponseBody();
      break;
    case HTTP_PARTIAL_RANGE_RESPONSE_BODY:
      if (!responseDataSizes_.empty()) responseDataSizes_.pop_front();
      if (httpResponse_ && !responseComplete_) continueSendingSingleRangeResponseBody();
      break;
    case HTTP_PARTIAL_RANGES_RESPONSE_BODY:
      if (!responseDataSizes_.empty()) responseDataSizes_.pop_front();
      if (httpResponse_ && !responseComplete_) continueSendingMultiRangeResponseBody();
      break;
    case HTTP_RESPONSE:
    case HTTP_FINAL_RESPONSE:
      responseDone(tag);
      break;
    default:
      break;
  }
}

void HTTPConnection::responseDone(long tag) {
  assertOnConnectionQueue();
  if (!responseDataSizes_.empty()) responseDataSizes_.pop_front();
  if (httpResponse_) httpResponse_->connectionDidClose();
  if (tag == HTTP_FINAL_RESPONSE) {
    finishResponse();
    if (dispatchSocket_) dispatchSocket_->disconnect();
    return;
  }
  bool die = shouldDie();
  finishResponse();
  if (die) {
    if (dispatchSocket_) dispatchSocket_->disconnect();
    return;
  }
  request_ = HTTPMessage::initEmptyRequest();
  numHeaderLines_ = 0;
  sentResponseHeaders_ = false;
  responseComplete_ = false;
  startReadingRequest();
}

void HTTPConnection::finishResponse() {
  assertOnConnectionQueue();
  request_ = nullptr;
  httpResponse_ = nullptr;
  ranges_.clear();
  ranges_headers_.clear();
  ranges_boundry_.clear();
}

bool HTTPConnection::shouldDie() {
  assertOnConnectionQueue();
  if (!request_) return false;
  auto connection = request_->headerField("Connection");
  std::string version = request_->version();
  if (version == HTTPVersion1_1) return connection && ns::headerNameEquals(*connection, "close");
  if (version == HTTPVersion1_0) return !connection || !ns::headerNameEquals(*connection, "Keep-Alive");
  return false;
}
