// multipart/form-data bodies fed to the incremental parser in pieces of random sizes. The first
// byte picks the boundary's length, the next eight seed the sizes of the pieces; the rest is the
// body, which gets a closing delimiter. The body is parsed whole and in pieces: both must report the same
// preamble, parts (their headers, content and ends) and epilogue, and refuse the same bodies.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "lib/http-server/Core/Mime/MultipartFormDataParser.h"

namespace {

// The callbacks as text, with the content pieces of one part (and the pieces of preamble and
// epilogue) joined: how they are split depends on how the body arrives.
class Recorder : public MultipartFormDataParserDelegate {
 public:
  void processPreambleData(const ns::Data& data) override { add('P', data); }
  void processStartOfPartWithHeader(const ns::Ref<MultipartMessageHeader>& header) override {
    std::string text;
    for (const auto& [name, field] : header->fields()) {
      text += name + "=" + field->value();
      for (const auto& [k, v] : field->params()) text += ";" + k + "=" + v;
      text += "|";
    }
    events.push_back("S" + text);
  }
  void processContent_WithHeader(const ns::Data& data, const ns::Ref<MultipartMessageHeader>&) override {
    add('C', data);
  }
  void processEndOfPartWithHeader(const ns::Ref<MultipartMessageHeader>&) override { events.push_back("E"); }
  void processEpilogueData(const ns::Data& data) override { add('L', data); }
  std::vector<std::string> events;

 private:
  void add(char kind, const ns::Data& data) {
    std::string bytes(reinterpret_cast<const char*>(data.bytes()), data.length());
    if (!events.empty() && events.back()[0] == kind)
      events.back() += bytes;
    else
      events.push_back(kind + bytes);
  }
};

struct Run {
  std::vector<std::string> events;
  bool ok = true;
};

template <class NextPiece>
Run parse(const std::string& boundary, std::string_view body, NextPiece nextPiece) {
  auto recorder = std::make_shared<Recorder>();
  auto parser = MultipartFormDataParser::initWithBoundary_formEncoding(boundary, FormEncoding::UTF8);
  parser->setDelegate(recorder);
  Run run;
  for (std::size_t at = 0; at < body.size();) {
    std::size_t n = std::min(nextPiece(), body.size() - at);
    run.ok = parser->appendData(ns::Data(body.data() + at, n)) && run.ok;
    at += n;
  }
  run.events = std::move(recorder->events);
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  std::string boundary = std::string("XyZ-0123456789abcdefghij").substr(0, 1 + data[0] % 24);
  std::uint64_t seed;
  std::memcpy(&seed, data + 1, sizeof seed);
  // A closing delimiter at the end: the parser holds back bytes that might begin a boundary until
  // it sees what follows them, so only a body that ends can be compared.
  std::string bodyBytes = std::string(fuzz::text(data + 9, size - 9)) + "\r\n--" + boundary + "--\r\n";
  std::string_view body = bodyBytes;

  Run whole = parse(boundary, body, [&] { return body.size(); });
  // Mostly small pieces, now and then one byte or a large one.
  std::uint64_t state = seed | 1;
  Run pieces = parse(boundary, body, [&] {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    switch (state % 8) {
      case 0:
        return std::size_t{1};
      case 1:
        return static_cast<std::size_t>(1 + (state >> 8) % 65536);
      default:
        return static_cast<std::size_t>(1 + (state >> 8) % 64);
    }
  });
  if (whole.ok != pieces.ok) fuzz::fail("the body is refused whole or in pieces, not both");
  // A refused body stops at different places depending on the pieces; a taken one reports the
  // same however it arrives.
  if (whole.ok && whole.events != pieces.events) {
    std::size_t i = 0;
    while (i < whole.events.size() && i < pieces.events.size() && whole.events[i] == pieces.events[i]) ++i;
    auto at = [i](const std::vector<std::string>& events) {
      if (i >= events.size()) return std::string("(none)");
      std::string shown;
      for (unsigned char c : events[i].substr(0, 200)) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
        shown += escaped;
      }
      return "\"" + shown + "\"";
    };
    fuzz::fail("the pieces change what the parser reports: event " + std::to_string(i) + " is " +
               at(whole.events) + " whole, " + at(pieces.events) + " in pieces");
  }
  return 0;
}
