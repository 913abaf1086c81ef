#pragma once
// The header of one part of a multipart/form-data body: its fields by name, each with its value
// and parameters (Content-Disposition: form-data; name="file"; filename="a.txt").
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

// How header and parameter values are encoded on the wire; values are handed out as UTF-8.
enum class FormEncoding : std::uint8_t { UTF8, ISOLatin1, ASCII };

// Transfer-encoding codes of part contents.
enum : std::int32_t {
  MultipartContentTransferEncodingBinary = 3,
  MultipartContentTransferEncodingBase64 = 4,
  MultipartContentTransferEncodingQuotedPrintable = 5,
};

// `bytes` as UTF-8 text, or nothing when they are not valid in `encoding`.
std::optional<std::string> decodeFormText(const std::uint8_t* bytes, std::size_t length,
                                          FormEncoding encoding);

class MultipartMessageHeaderField : public ns::Object {
 public:
  MultipartMessageHeaderField(std::string name, std::string value)
      : name_(std::move(name)), value_(std::move(value)) {}
  // One field line without its CR LF; nothing when the line is malformed.
  static ns::Ref<MultipartMessageHeaderField> initWithData_contentEncoding(const ns::Data& data,
                                                                           FormEncoding encoding);

  std::string className() const override { return "MultipartMessageHeaderField"; }
  const std::string& name() const { return name_; }
  const std::string& value() const { return value_; }
  const std::map<std::string, std::string>& params() const { return params_; }
  std::string description() const override;

  // Fills params from the text after the value's ";"; false when it cannot be read.
  bool parseHeaderValueBytes_length_encoding(const std::uint8_t* bytes, std::int64_t length,
                                             FormEncoding encoding);

 private:
  std::string name_;
  std::string value_;
  std::map<std::string, std::string> params_;
};

class MultipartMessageHeader : public ns::Object {
 public:
  // The header lines, the last one with its CR LF. Never fails: a header without a readable
  // field holds only "Content-Type" with the value "text/plain".
  MultipartMessageHeader(const ns::Data& data, FormEncoding formEncoding);
  static ns::Ref<MultipartMessageHeader> initWithData_formEncoding(const ns::Data& data,
                                                                   FormEncoding encoding) {
    return ns::make<MultipartMessageHeader>(data, encoding);
  }

  std::string className() const override { return "MultipartMessageHeader"; }
  const std::map<std::string, ns::Ref<MultipartMessageHeaderField>>& fields() const { return fields_; }
  std::int32_t encoding() const { return 0; }
  std::string description() const override;

 private:
  std::map<std::string, ns::Ref<MultipartMessageHeaderField>> fields_;
};
