#pragma once
// An incremental parser of a multipart/form-data body: fed the body piece by piece, it reports
// the preamble, each part's header, its content in pieces and its end, then the epilogue. Only a
// short tail of unprocessed bytes is kept between pieces. Data handed to the delegate is a view
// valid during the call. One parser is driven from one thread.
#include <optional>
#include <string>

#include "lib/http-server/Core/Mime/MultipartMessageHeader.h"

class MultipartFormDataParserDelegate {
 public:
  virtual ~MultipartFormDataParserDelegate() = default;
  virtual void processPreambleData(const ns::Data&) {}
  virtual void processStartOfPartWithHeader(const ns::Ref<MultipartMessageHeader>&) {}
  virtual void processContent_WithHeader(const ns::Data&, const ns::Ref<MultipartMessageHeader>&) {}
  virtual void processEndOfPartWithHeader(const ns::Ref<MultipartMessageHeader>&) {}
  virtual void processEpilogueData(const ns::Data&) {}
};

class MultipartFormDataParser : public ns::Object {
 public:
  MultipartFormDataParser(const std::string& boundary, FormEncoding formEncoding);
  // Nothing without a boundary.
  static ns::Ref<MultipartFormDataParser> initWithBoundary_formEncoding(
      const std::optional<std::string>& boundary, FormEncoding formEncoding);

  // A part header longer than this (its lines with their line ends, without the blank line that
  // ends it) makes the body malformed.
  static constexpr std::size_t MAX_PART_HEADER_LENGTH = 16 * 1024;

  std::string className() const override { return "MultipartFormDataParser"; }
  // False when a part header cannot be read or is too long; the body is then malformed, and this
  // and every later piece is refused.
  bool appendData(const ns::Data& data);

  std::weak_ptr<MultipartFormDataParserDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<MultipartFormDataParserDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  FormEncoding formEncoding() const { return formEncoding_; }
  void setFormEncoding(FormEncoding encoding) { formEncoding_ = encoding; }

  // Index just after the first CR LF at or after `offset`; -1 when none.
  static long offsetTillNewlineSinceOffset_inData(long offset, const ns::Data& data);
  long findHeaderEnd_fromOffset(const ns::Data& data, long offset) const;
  long findContentEnd_fromOffset(const ns::Data& data, long offset) const;
  static long numberOfBytesToLeavePendingWithData_length_encoding(const ns::Data& data, long length,
                                                                  std::int32_t encoding);
  static ns::Data decodedDataFromData_encoding(const ns::Data& data, std::int32_t encoding);
  static ns::Data decodedDataFromQuotedPrintableData(const ns::Data& data);

 private:
  long processPreamble(const ns::Data& data);
  // Whether a part header of `headerLength` bytes (or more) is acceptable; marks the body
  // malformed when not.
  bool headerWithinLimit(std::size_t headerLength);
  std::shared_ptr<MultipartFormDataParserDelegate> lockedDelegate() const { return delegate_.lock(); }

  // Unprocessed bytes; the working buffer of a call is this with the new piece appended.
  ns::MutableData pendingData_;
  ns::Data boundaryData_;
  ns::Ref<MultipartMessageHeader> currentHeader_;
  bool waitingForCRLF_ = false;
  bool reachedEpilogue_ = false;
  bool processedPreamble_ = false;
  bool checkForContentEnd_ = false;
  // Waiting for the end of a part header that starts pendingData_, of which headerScanned_ bytes
  // were searched.
  bool awaitingHeader_ = false;
  std::size_t headerScanned_ = 0;
  bool malformed_ = false;
  std::weak_ptr<MultipartFormDataParserDelegate> delegate_;
  std::int32_t currentEncoding_ = MultipartContentTransferEncodingBinary;
  FormEncoding formEncoding_;
};
