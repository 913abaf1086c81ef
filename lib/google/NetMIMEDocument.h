#pragma once
// Multipart bodies: parts of headers plus body joined by a boundary that occurs in none of them.
// The generated body is a gather stream over the pieces, so it is never copied into one buffer.
//
//   auto doc = NetMIMEDocument::MIMEDocument();
//   doc->addPartWithHeaders_body({{"Content-Type", "application/json"}}, json);
//   ns::Ref<ns::InputStream> stream; std::uint64_t length; std::string boundary;
//   doc->generateInputStream_length_boundary(&stream, &length, &boundary);
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/foundation/Stream.h"

class NetMIMEPart : public ns::Object {
 public:
  static ns::Ref<NetMIMEPart> partWithHeaders_body(const std::map<std::string, std::string>& headers,
                                                   const ns::Data& body);
  NetMIMEPart(const std::map<std::string, std::string>& headers, const ns::Data& body);

  // The encoded header block, names in case-insensitive order, ending with an empty line.
  const ns::Data& header() const { return headerData_; }
  const ns::Data& body() const { return bodyData_; }
  std::uint64_t length() const { return headerData_.length() + bodyData_.length(); }
  // Whether the byte sequence occurs in the header block or in the body.
  bool containsBytes_length(const std::uint8_t* bytes, std::size_t length) const;

  std::string className() const override { return "NetMIMEPart"; }

 private:
  ns::Data headerData_;
  ns::Data bodyData_;
};

class NetMIMEDocument : public ns::Object {
 public:
  static ns::Ref<NetMIMEDocument> MIMEDocument();
  NetMIMEDocument() = default;

  void addPartWithHeaders_body(const std::map<std::string, std::string>& headers, const ns::Data& body);
  const std::vector<ns::Ref<NetMIMEPart>>& parts() const { return parts_; }
  // A non-zero seed makes the boundary numbers repeatable: the seed, then seed + 1, ...
  void seedRandomWith(std::uint32_t seed) { randomSeed_ = seed; }
  std::uint32_t random();
  std::string uniqueBoundary();
  // Each output may be null.
  void generateInputStream_length_boundary(ns::Ref<ns::InputStream>* outStream, std::uint64_t* outLength,
                                           std::string* outBoundary);

  std::string className() const override { return "NetMIMEDocument"; }

 private:
  std::vector<ns::Ref<NetMIMEPart>> parts_;
  std::uint32_t randomSeed_ = 0;
};
