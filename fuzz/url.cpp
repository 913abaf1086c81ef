// URL strings: parsed alone and against a base, then taken apart and rebuilt the ways callers do.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/net/URL.h"

namespace {

void exercise(const ns::Ref<ns::URL>& url) {
  if (!url) return;
  (void)url->host();
  (void)url->user();
  (void)url->password();
  (void)url->path();
  (void)url->resourceSpecifier();
  (void)url->pathComponents();
  (void)url->pathExtension();
  (void)url->description();
  (void)url->hash();
  auto standardized = url->standardizedURL();
  if (standardized && standardized->standardizedURL() &&
      standardized->standardizedURL()->absoluteString() != standardized->absoluteString())
    fuzz::fail("standardizing twice changes " + standardized->absoluteString());
  if (auto parent = url->URLByDeletingLastPathComponent()) (void)parent->absoluteString();
  if (auto child = url->URLByAppendingPathComponent("a b")) (void)child->absoluteString();
  if (auto absolute = url->absoluteURL()) {
    auto reparsed = ns::URL::URLWithString(absolute->absoluteString());
    if (!reparsed) fuzz::fail("an absolute string we made does not parse: " + absolute->absoluteString());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ns::Ref<ns::URL> base = ns::URL::URLWithString("https://user:pw@www.example.test:8443/a/b/c?q=1#f");
  auto text = fuzz::text(data, size);
  exercise(ns::URL::URLWithString(text));
  exercise(ns::URL::URLWithString_relativeToURL(text, base));
  return 0;
}
