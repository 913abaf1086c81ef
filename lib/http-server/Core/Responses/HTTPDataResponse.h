#pragma once
// Bytes held in memory, handed out as views that share the response's buffer.
#include "lib/http-server/Core/HTTPResponse.h"

class HTTPDataResponse : public HTTPResponse {
 public:
  explicit HTTPDataResponse(ns::Data data) : data_(std::move(data)) {}
  static ns::Ref<HTTPDataResponse> initWithData(const ns::Data& data) {
    return ns::make<HTTPDataResponse>(data);
  }

  std::string className() const override { return "HTTPDataResponse"; }
  std::uint64_t contentLength() override { return data_.length(); }
  std::uint64_t offset() override { return offset_; }
  void setOffset(std::uint64_t offset) override { offset_ = offset; }
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return offset_ == data_.length(); }

 private:
  std::uint64_t offset_ = 0;
  ns::Data data_;
};
