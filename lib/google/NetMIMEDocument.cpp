#include "lib/google/NetMIMEDocument.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>

#include "lib/google/NetGatherInputStream.h"

namespace {

constexpr char kBoundaryWord[] = "END_OF_PART";
// The word between the two random numbers of the boundary used when every checked candidate
// occurred in some part.
constexpr char kFallbackWord[] = "gathers";
constexpr int kMaxCandidates = 10;

bool lessCaseInsensitive(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

bool containsIn(const ns::Data& haystack, const std::uint8_t* bytes, std::size_t length) {
  if (length == 0 || haystack.length() < length) return false;
  const std::uint8_t* base = haystack.bytes();
  std::size_t last = haystack.length() - length;
  for (std::size_t i = 0; i <= last; ++i) {
    const void* hit = std::memchr(base + i, bytes[0], last - i + 1);
    if (!hit) return false;
    i = static_cast<const std::uint8_t*>(hit) - base;
    if (std::memcmp(base + i, bytes, length) == 0) return true;
  }
  return false;
}

std::string hex8(std::uint32_t value) {
  char buffer[9];
  std::snprintf(buffer, sizeof buffer, "%08x", value);
  return buffer;
}

}  // namespace

ns::Ref<NetMIMEPart> NetMIMEPart::partWithHeaders_body(const std::map<std::string, std::string>& headers,
                                                       const ns::Data& body) {
  return ns::make<NetMIMEPart>(headers, body);
}

NetMIMEPart::NetMIMEPart(const std::map<std::string, std::string>& headers, const ns::Data& body)
    : bodyData_(body) {
  std::vector<std::string> names;
  for (const auto& [name, value] : headers) names.push_back(name);
  std::stable_sort(names.begin(), names.end(), lessCaseInsensitive);
  std::string block;
  for (const auto& name : names) block += name + ": " + headers.at(name) + "\r\n";
  block += "\r\n";
  headerData_ = ns::Data(block);
}

bool NetMIMEPart::containsBytes_length(const std::uint8_t* bytes, std::size_t length) const {
  if (!bytes) return false;
  return containsIn(headerData_, bytes, length) || containsIn(bodyData_, bytes, length);
}

ns::Ref<NetMIMEDocument> NetMIMEDocument::MIMEDocument() {
  return ns::make<NetMIMEDocument>();
}

void NetMIMEDocument::addPartWithHeaders_body(const std::map<std::string, std::string>& headers,
                                              const ns::Data& body) {
  parts_.push_back(NetMIMEPart::partWithHeaders_body(headers, body));
}

std::uint32_t NetMIMEDocument::random() {
  if (randomSeed_ != 0) return randomSeed_++;
  // The system's random source (getrandom on Linux).
  static thread_local std::random_device device;
  return static_cast<std::uint32_t>(device());
}

std::string NetMIMEDocument::uniqueBoundary() {
  // Called only while this function runs.
  auto occurs = [this](const std::string& candidate) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(candidate.data());
    return std::any_of(parts_.begin(), parts_.end(),
                       [&](const auto& part) { return part->containsBytes_length(bytes, candidate.size()); });
  };
  std::string candidate = kBoundaryWord;
  for (int tried = 1; occurs(candidate); ++tried) {
    if (tried == kMaxCandidates) {
      std::string first = hex8(random());
      return first + "_" + kFallbackWord + "_" + hex8(random());
    }
    candidate = std::string(kBoundaryWord) + "_" + hex8(random());
  }
  return candidate;
}

void NetMIMEDocument::generateInputStream_length_boundary(ns::Ref<ns::InputStream>* outStream,
                                                          std::uint64_t* outLength,
                                                          std::string* outBoundary) {
  std::string boundary = uniqueBoundary();
  std::vector<ns::Data> pieces;
  std::uint64_t length = 0;
  auto add = [&](const ns::Data& data) {
    pieces.push_back(data);
    length += data.length();
  };
  ns::Data separator("\r\n--" + boundary + "\r\n");
  for (const auto& part : parts_) {
    add(separator);
    add(part->header());
    add(part->body());
  }
  add(ns::Data("\r\n--" + boundary + "--\r\n"));
  if (outStream) *outStream = NetGatherInputStream::streamWithArray(pieces);
  if (outLength) *outLength = length;
  if (outBoundary) *outBoundary = boundary;
}
