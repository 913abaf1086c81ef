#include "lib/http-server/Core/Mime/MultipartFormDataParser.h"

#include <cstring>
#include <vector>

#include "lib/http-server/Core/DataDigests.h"
#include "lib/http-server/Core/HTTPLogging.h"

namespace {

constexpr std::uint64_t kLogLevel = HTTP_LOG_LEVEL_RESPONSE;

long find(const ns::Data& data, long from, const std::uint8_t* needle, std::size_t length) {
  const std::size_t n = data.length();
  if (from < 0 || length > n) return -1;
  for (std::size_t i = static_cast<std::size_t>(from); i + length <= n; ++i)
    if (std::memcmp(data.bytes() + i, needle, length) == 0) return static_cast<long>(i);
  return -1;
}

int hexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

MultipartFormDataParser::MultipartFormDataParser(const std::string& boundary, FormEncoding formEncoding)
    : boundaryData_("\r\n--" + boundary), formEncoding_(formEncoding) {}

ns::Ref<MultipartFormDataParser> MultipartFormDataParser::initWithBoundary_formEncoding(
    const std::optional<std::string>& boundary, FormEncoding formEncoding) {
  if (!boundary) {
    HTTP_LOG_WARN(kLogLevel, "MultipartFormDataParser: init with zero boundary");
    return nullptr;
  }
  return ns::make<MultipartFormDataParser>(*boundary, formEncoding);
}

long MultipartFormDataParser::offsetTillNewlineSinceOffset_inData(long offset, const ns::Data& data) {
  if (offset < 0 || static_cast<std::size_t>(offset) + 1 >= data.length()) return -1;
  long at = find(data, offset, reinterpret_cast<const std::uint8_t*>("\r\n"), 2);
  return at < 0 ? -1 : at + 2;
}

long MultipartFormDataParser::findHeaderEnd_fromOffset(const ns::Data& data, long offset) const {
  return find(data, offset, reinterpret_cast<const std::uint8_t*>("\r\n\r\n"), 4);
}

long MultipartFormDataParser::findContentEnd_fromOffset(const ns::Data& data, long offset) const {
  return find(data, offset, boundaryData_.bytes(), boundaryData_.length());
}

long MultipartFormDataParser::numberOfBytesToLeavePendingWithData_length_encoding(const ns::Data& data,
                                                                                  long length,
                                                                                  std::int32_t encoding) {
  if (encoding != MultipartContentTransferEncodingQuotedPrintable) return 0;
  if (length < 3) return length;
  const std::uint8_t* end = data.bytes() + length;
  if (end[-2] == '=') return 2;
  if (end[-1] == '=') return 1;
  return 0;
}

ns::Data MultipartFormDataParser::decodedDataFromData_encoding(const ns::Data& data, std::int32_t encoding) {
  if (encoding == MultipartContentTransferEncodingBase64) return DataDigests::base64Decoded(data);
  if (encoding == MultipartContentTransferEncodingQuotedPrintable)
    return decodedDataFromQuotedPrintableData(data);
  return data;
}

ns::Data MultipartFormDataParser::decodedDataFromQuotedPrintableData(const ns::Data& data) {
  const std::uint8_t* p = data.bytes();
  const std::size_t n = data.length();
  std::vector<std::uint8_t> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != '=') {
      out.push_back(p[i]);
      continue;
    }
    if (n - i - 1 <= 2)
      HTTP_LOG_WARN(kLogLevel, "MultipartFormDataParser: warning, trailing '=' in quoted printable data");
    if (n - i - 1 < 2) {
      // Too short to be an escape: the rest stays as it is rather than read past the end.
      out.insert(out.end(), p + i, p + n);
      break;
    }
    if (p[i + 1] == '\r') {
      i += p[i + 2] == '\n' ? 2 : 1;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(16 * hexValue(p[i + 1]) + hexValue(p[i + 2])));
    i += 2;
  }
  return ns::Data(std::move(out));
}

bool MultipartFormDataParser::headerWithinLimit(std::size_t headerLength) {
  if (headerLength <= MAX_PART_HEADER_LENGTH) return true;
  HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: part header longer than %zu bytes",
                 MAX_PART_HEADER_LENGTH);
  malformed_ = true;
  pendingData_ = ns::MutableData();
  return false;
}

long MultipartFormDataParser::processPreamble(const ns::Data& data) {
  const std::size_t L = boundaryData_.length() - 2;
  const std::size_t n = data.length();
  long at = find(data, 0, boundaryData_.bytes() + 2, L);
  auto delegate = lockedDelegate();
  if (at >= 0) {
    if (at > 0 && delegate) delegate->processPreambleData(data.subdata(0, static_cast<std::size_t>(at)));
    processedPreamble_ = true;
    waitingForCRLF_ = true;
    return at + static_cast<long>(L);
  }
  if (n > L) {
    if (delegate) delegate->processPreambleData(data.subdata(0, n - L));
    pendingData_ = ns::MutableData(data.subdata(n - L, L));
  } else {
    pendingData_ = ns::MutableData(data);
  }
  return -1;
}

bool MultipartFormDataParser::appendData(const ns::Data& data) {
  if (malformed_) return false;
  // The working buffer: what was kept from earlier pieces followed by the new one. Whatever of it
  // is not processed in this call is kept again below, from the offset reached.
  ns::Data W = data;
  if (awaitingHeader_) {
    // The kept bytes are the start of a part header, already searched for its end: only the new
    // bytes (and the three before them, which may begin the blank line) are searched again, and
    // nothing is copied until the header is complete.
    std::size_t from = headerScanned_ >= 3 ? headerScanned_ - 3 : 0;
    pendingData_.appendData(data);
    const std::size_t n = pendingData_.length();
    if (n < from + 4 || !memmem(pendingData_.bytes() + from, n - from, "\r\n\r\n", 4)) {
      headerScanned_ = n;
      // Its end is yet to come, at n - 3 at the earliest: the header is n - 1 bytes or longer.
      return n < 1 || headerWithinLimit(n - 1);
    }
    awaitingHeader_ = false;
    W = ns::Data(pendingData_.bytes(), n);
  } else if (pendingData_.length() > 0) {
    pendingData_.appendData(data);
    W = ns::Data(pendingData_.bytes(), pendingData_.length());
  }
  pendingData_ = ns::MutableData();
  const long B = static_cast<long>(boundaryData_.length());
  const long length = static_cast<long>(W.length());
  auto keepFrom = [&](long o) {
    if (o < length)
      pendingData_ =
          ns::MutableData(W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(length - o)));
  };
  long o = 0;

  if (!reachedEpilogue_ && length <= B) {
    if (!(checkForContentEnd_ && length >= 2)) {
      keepFrom(0);
      return true;
    }
    if (W[0] == '-' && W[1] == '-') {
      checkForContentEnd_ = false;
      waitingForCRLF_ = true;
      reachedEpilogue_ = true;
      o = 2;
    } else {
      checkForContentEnd_ = false;
      waitingForCRLF_ = true;
      keepFrom(0);
      return true;
    }
  }

  for (;;) {
    if (checkForContentEnd_) {
      if (o >= length - 1) {
        keepFrom(o);
        return true;
      }
      if (W[o] == '-' && W[o + 1] == '-') {
        checkForContentEnd_ = false;
        reachedEpilogue_ = true;
        waitingForCRLF_ = true;
        o += 2;
      } else {
        waitingForCRLF_ = true;
        checkForContentEnd_ = false;
      }
    }
    if (waitingForCRLF_) {
      long next = offsetTillNewlineSinceOffset_inData(o, W);
      if (next < 0) {
        if (length > 0 && W[length - 1] == '\r') keepFrom(length - 1);
        return true;
      }
      o = next;
      waitingForCRLF_ = false;
    }
    if (!processedPreamble_) {
      o = processPreamble(W);
      if (o < 0) return true;
      continue;
    }
    auto delegate = lockedDelegate();
    if (reachedEpilogue_) {
      if (delegate && o <= length)
        delegate->processEpilogueData(
            W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(length - o)));
      return true;
    }
    if (!currentHeader_) {
      long headerEnd = findHeaderEnd_fromOffset(W, o);
      if (headerEnd < 0) {
        keepFrom(o);
        awaitingHeader_ = true;
        headerScanned_ = static_cast<std::size_t>(length - o);
        return headerScanned_ < 1 || headerWithinLimit(headerScanned_ - 1);
      }
      if (!headerWithinLimit(static_cast<std::size_t>(headerEnd + 2 - o))) return false;
      currentHeader_ = MultipartMessageHeader::initWithData_formEncoding(
          W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(headerEnd + 2 - o)), formEncoding_);
      if (!currentHeader_) {
        malformed_ = true;
        HTTP_LOG_ERROR(kLogLevel,
                       "MultipartFormDataParser: MultipartFormDataParser: wrong input format, coulnd't get a "
                       "valid header");
        return false;
      }
      if (delegate) delegate->processStartOfPartWithHeader(currentHeader_);
      o = headerEnd + 4;
    }
    long contentEnd = findContentEnd_fromOffset(W, o);
    if (contentEnd < 0) {
      long n = length - o - B;
      if (n <= 0 || n <= numberOfBytesToLeavePendingWithData_length_encoding(
                             W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(n)), n,
                             currentEncoding_)) {
        keepFrom(o);
        return true;
      }
      if (delegate)
        delegate->processContent_WithHeader(
            decodedDataFromData_encoding(W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(n)),
                                         currentEncoding_),
            currentHeader_);
      keepFrom(length - B);
      return true;
    }
    auto header = currentHeader_;
    if (delegate) {
      delegate->processContent_WithHeader(
          W.subdata(static_cast<std::size_t>(o), static_cast<std::size_t>(contentEnd - o)), header);
      delegate->processEndOfPartWithHeader(header);
    }
    currentHeader_ = nullptr;
    o = contentEnd + B;
    checkForContentEnd_ = true;
  }
}
