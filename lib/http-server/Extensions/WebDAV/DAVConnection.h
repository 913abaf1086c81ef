#pragma once
// A connection that shares the document root over WebDAV: it accepts the WebDAV methods,
// collects request bodies (in memory up to 1 MiB, beyond that in a temporary file that is
// removed once the response is sent) and answers with file, upload, deletion and DAV responses.
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPConnection.h"

class DAVConnection : public HTTPConnection {
 public:
  static constexpr std::uint64_t MAX_IN_MEMORY_BODY = 1048576;
  static constexpr std::uint64_t MAX_PLAIN_FILE_RESPONSE = 16777216;

  using HTTPConnection::HTTPConnection;
  ~DAVConnection() override;
  std::string className() const override { return "DAVConnection"; }

  bool supportsMethod_atPath(const std::string& method, const std::string& path) override;
  bool expectsRequestBodyFromMethod_atPath(const std::string& method, const std::string& path) override;
  void prepareForBodyWithSize(std::uint64_t contentLength) override;
  void processBodyData(const ns::Data& postDataChunk) override;
  void finishBody() override;
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method,
                                                  const std::string& path) override;
  void finishResponse() override;
  // As for any connection, and also nothing that symbolic links lead out of the root.
  std::optional<std::string> filePathForURI_allowDirectory(const std::string& path,
                                                           bool allowDirectory) override;

 private:
  void closeBodyFile();
  void dropBody();

  std::optional<ns::MutableData> requestContentBody_;
  // The temporary file of a large body, and its descriptor while the body arrives.
  std::optional<std::string> requestBodyFile_;
  int requestContentStream_ = -1;
  bool bodyWriteFailed_ = false;
  bool bodyFileTaken_ = false;
};
