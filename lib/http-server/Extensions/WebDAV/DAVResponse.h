#pragma once
// One WebDAV request (OPTIONS, PROPFIND, MKCOL, MOVE, COPY, LOCK, UNLOCK) carried out against
// the folder tree below a root when the response is made; the result is held in memory as
// status, headers and body. Requests that cannot be served make no response (404).
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPResponse.h"
#include "platform/net/HTTPHeaderFields.h"

class DAVResponse : public HTTPResponse {
 public:
  DAVResponse() = default;
  static ns::Ref<DAVResponse> initWithMethod_headers_bodyData_resourcePath_rootPath(
      const std::string& method, const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
      const std::string& resourcePath, const std::string& rootPath);

  // Whether `path`, which names a place under `rootPath` as text, still lies under it once the
  // symbolic links on the way are followed, as opening or creating it would. What does not exist
  // yet counts as its deepest existing parent; a link that leads nowhere is refused, since
  // creating through it would write wherever it points.
  static bool resolvesUnderRoot(const std::string& path, const std::string& rootPath);

  std::string className() const override { return "DAVResponse"; }
  std::uint64_t contentLength() override { return data_ ? data_->length() : 0; }
  std::uint64_t offset() override { return offset_; }
  void setOffset(std::uint64_t offset) override { offset_ = offset; }
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return !data_ || offset_ >= data_->length(); }
  long status() override { return status_; }
  ns::HTTPHeaderFields httpHeaders() override { return headers_; }

 private:
  bool propfind(const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
                std::string resourcePath, const std::string& rootPath, const std::string& fullPath);
  bool copyOrMove(bool isMove, const ns::HTTPHeaderFields& headers, const std::string& rootPath,
                  const std::string& fullPath);
  bool lock(const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
            const std::string& resourcePath, const std::string& fullPath);

  std::uint64_t offset_ = 0;
  ns::HTTPHeaderFields headers_;
  std::optional<ns::Data> data_;
  long status_ = 200;
};
