#include "lib/http-server/Core/HTTPMessage.h"

#include <cstring>

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

HTTPMessage::HTTPMessage(ns::Ref<cf::HTTPMessage> message) : message_(std::move(message)) {}

ns::Ref<HTTPMessage> HTTPMessage::initEmptyRequest() {
  return ns::make<HTTPMessage>(cf::HTTPMessage::createEmpty(true));
}

ns::Ref<HTTPMessage> HTTPMessage::initRequestWithMethod_URL_version(std::string_view method,
                                                                    const ns::Ref<ns::URL>& url,
                                                                    std::string_view version) {
  auto message = cf::HTTPMessage::createRequest(method, url, version);
  if (!message) return nullptr;
  return ns::make<HTTPMessage>(std::move(message));
}

ns::Ref<HTTPMessage> HTTPMessage::initResponseWithStatusCode_description_version(
    long code, const std::optional<std::string>& description, std::string_view version) {
  return ns::make<HTTPMessage>(cf::HTTPMessage::createResponse(code, description, version));
}

bool HTTPMessage::checkHeaderLine(std::string_view line) {
  std::string_view content = line;
  if (!content.empty() && content.back() == '\n') content.remove_suffix(1);
  if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
  if (!sawStartLine_) {
    sawStartLine_ = !content.empty();
    return true;
  }
  if (content.empty()) return true;
  // A folded continuation line would let a field's value hide on the next line.
  if (content.front() == ' ' || content.front() == '\t') return false;
  std::size_t colon = content.find(':');
  if (colon == std::string_view::npos) return true;  // the platform message refuses it
  std::string_view name = content.substr(0, colon);
  if (ns::headerNameEquals(name, "Content-Length")) {
    std::string value(trim(content.substr(colon + 1)));
    auto existing = message_->headerFieldValue("Content-Length");
    // Two different lengths leave the body's end open to interpretation.
    if (existing && *existing != value) return false;
  }
  return true;
}

bool HTTPMessage::appendData(const ns::Data& data) {
  if (refused_) return false;
  const char* p = reinterpret_cast<const char*>(data.bytes());
  std::size_t length = data.length();
  std::size_t i = 0;
  while (i < length && !message_->isHeaderComplete()) {
    const char* nl = static_cast<const char*>(std::memchr(p + i, '\n', length - i));
    std::size_t take = nl ? static_cast<std::size_t>(nl - (p + i)) + 1 : length - i;
    pendingLine_.append(p + i, take);
    if (pendingLine_.size() > cf::HTTPMessage::kMaxHeaderBytes) {
      refused_ = true;
      return false;
    }
    if (nl) {
      if (!checkHeaderLine(pendingLine_) || !message_->appendBytes(pendingLine_)) {
        refused_ = true;
        return false;
      }
      pendingLine_.clear();
    }
    i += take;
  }
  if (i < length) {
    if (!message_->appendBytes(p + i, length - i)) {
      refused_ = true;
      return false;
    }
  }
  return true;
}
