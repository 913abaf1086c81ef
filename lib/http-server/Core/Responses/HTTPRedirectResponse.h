#pragma once
// 302 to another location, with an empty body.
#include <string>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPRedirectResponse : public HTTPResponse {
 public:
  explicit HTTPRedirectResponse(std::string path) : redirectPath_(std::move(path)) {}
  static ns::Ref<HTTPRedirectResponse> initWithPath(const std::string& path) {
    return ns::make<HTTPRedirectResponse>(path);
  }

  std::string className() const override { return "HTTPRedirectResponse"; }
  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  long status() override { return 302; }
  ns::HTTPHeaderFields httpHeaders() override;

 private:
  std::string redirectPath_;
};
