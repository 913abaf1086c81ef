#pragma once
// Stores an upload when it is made and answers only a status: 201 for a new file, 200 for a
// replaced one, 400 for a partial upload, 409 onto a folder, 403 when it cannot be written.
// The old file is replaced in one step, so a failed upload leaves it as it was.
#include <string>

#include "lib/http-server/Core/HTTPResponse.h"
#include "platform/net/HTTPHeaderFields.h"

class PUTResponse : public HTTPResponse {
 public:
  // The body is in memory.
  PUTResponse(const std::string& path, const ns::HTTPHeaderFields& headers, const ns::Data& bodyData);
  // The body is in the file at `bodyFile`, which is moved into place on success.
  PUTResponse(const std::string& path, const ns::HTTPHeaderFields& headers, const std::string& bodyFile);

  std::string className() const override { return "PUTResponse"; }
  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  long status() override { return status_; }
  // Whether the body file was moved into place (and so is no longer at its old path).
  bool tookBodyFile() const { return tookBodyFile_; }

 private:
  // False (status set) when the upload must not go ahead.
  bool check(const std::string& path, const ns::HTTPHeaderFields& headers);
  void finish(const std::string& path, bool ok);

  long status_ = 200;
  bool existed_ = false;
  bool tookBodyFile_ = false;
};

class DELETEResponse : public HTTPResponse {
 public:
  // `rootPath`, when given, is the document root, which is never deleted (403).
  explicit DELETEResponse(const std::string& path, const std::optional<std::string>& rootPath = std::nullopt);

  std::string className() const override { return "DELETEResponse"; }
  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  long status() override { return status_; }

 private:
  long status_ = 200;
};
